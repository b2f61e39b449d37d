#include "engine/filters/MarlockPDFLibraryFlate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

namespace pagelume {

namespace {

// First output block and growth step of inflation: the input size rounded up to
// 256, at least this much. Later steps grow geometrically.
constexpr size_t kInflateMinStep = 8192;
// zlib counts in uInt; longer inputs and outputs are handed over in slices.
constexpr size_t kZlibSlice = UINT_MAX;

void FeedInput(z_stream& zs, ByteView data, size_t& fed) {
  if (zs.avail_in != 0 || fed >= data.size()) return;
  size_t n = std::min(data.size() - fed, kZlibSlice);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + fed));
  zs.avail_in = uInt(n);
  fed += n;
}

}  // namespace

Bytes FlateCompress(ByteView data) {
  Bytes out;
  if (data.empty()) return out;
  z_stream zs{};
  if (deflateInit(&zs, Z_DEFAULT_COMPRESSION) != Z_OK) return out;
  out.resize(deflateBound(&zs, uLong(std::min<size_t>(data.size(), ULONG_MAX))));
  size_t fed = 0, produced = 0;
  int rc = Z_OK;
  while (rc == Z_OK || rc == Z_BUF_ERROR) {
    FeedInput(zs, data, fed);
    if (produced == out.size()) out.resize(out.size() + out.size() / 2 + 256);
    size_t room = std::min(out.size() - produced, kZlibSlice);
    zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    zs.avail_out = uInt(room);
    bool last = fed == data.size();
    rc = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
    produced += room - zs.avail_out;
    // zlib makes progress whenever it has room and input; stop rather than spin if not.
    if (rc == Z_BUF_ERROR && zs.avail_out != 0 && zs.avail_in == 0 && last) break;
  }
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) return Bytes();
  out.resize(produced);
  return out;
}

Bytes FlateDecompress(ByteView data, size_t maxOutput) {
  if (data.empty()) return Bytes();
  const size_t cap = ResolveOutputCap(maxOutput, data.size());
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return Bytes();

  // A plain malloc block: growing it with realloc neither zero-fills nor (for large
  // blocks) copies, which matters when whole object streams are inflated.
  std::unique_ptr<char, decltype(&std::free)> buffer(nullptr, &std::free);
  size_t size = 0, produced = 0, fed = 0;
  const size_t step = std::max(kInflateMinStep, (data.size() + 255) / 256 * 256);
  bool failed = false;
  for (;;) {
    FeedInput(zs, data, fed);
    if (produced == size) {
      if (size >= cap) break;
      size_t grow = std::max(step, size / 2);
      size_t next = cap - size > grow ? size + grow : cap;
      char* bigger = static_cast<char*>(std::realloc(buffer.get(), next));
      if (!bigger) {
        failed = true;
        break;
      }
      buffer.release();
      buffer.reset(bigger);
      size = next;
    }
    size_t room = std::min(size - produced, kZlibSlice);
    zs.next_out = reinterpret_cast<Bytef*>(buffer.get() + produced);
    zs.avail_out = uInt(room);
    int rc = inflate(&zs, Z_NO_FLUSH);
    produced += room - zs.avail_out;
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR) {
      // No progress possible: either the output block is full (grow and go on)
      // or the input is used up.
      if (zs.avail_out == 0) continue;
      if (zs.avail_in == 0 && fed < data.size()) continue;
      break;
    }
    // Z_STREAM_END, Z_NEED_DICT and Z_DATA_ERROR keep what was produced.
    if (rc != Z_STREAM_END && rc != Z_NEED_DICT && rc != Z_DATA_ERROR) failed = true;
    break;
  }
  inflateEnd(&zs);
  if (failed || produced == 0) return Bytes();
  return Bytes(buffer.get(), produced);
}

}  // namespace pagelume
