// A seekable source of bytes for the file-structure readers: a file on disk or a
// file's bytes held in memory, read at absolute positions.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

class TKVLByteSource {
 public:
  virtual ~TKVLByteSource() = default;
  virtual int64_t Size() const = 0;
  // Copies up to `count` bytes at `position` to `out` and returns how many were
  // copied; fewer than asked only at the end of the data (or on a read error).
  virtual size_t ReadAt(int64_t position, size_t count, char* out) = 0;
};

// Bytes that outlive the source.
class TKVLMemorySource final : public TKVLByteSource {
 public:
  explicit TKVLMemorySource(ByteView bytes) : bytes_(bytes) {}
  int64_t Size() const override { return int64_t(bytes_.size()); }
  size_t ReadAt(int64_t position, size_t count, char* out) override {
    if (position < 0 || uint64_t(position) >= bytes_.size()) return 0;
    size_t available = bytes_.size() - size_t(position);
    if (count > available) count = available;
    if (count > 0) std::memcpy(out, bytes_.data() + position, count);
    return count;
  }
  ByteView View() const { return bytes_; }

 private:
  ByteView bytes_;
};

// An open file stream that outlives the source; every read seeks first.
class TKVLFileStreamSource final : public TKVLByteSource {
 public:
  explicit TKVLFileStreamSource(TKavrelWideFileStream& stream) : stream_(stream) {
    int64_t size = stream_.Size();
    size_ = size > 0 ? size : 0;
  }
  int64_t Size() const override { return size_; }
  size_t ReadAt(int64_t position, size_t count, char* out) override {
    if (position < 0 || count == 0 || stream_.Seek(position, TSeekOrigin::Beginning) != position) return 0;
    size_t done = 0;
    while (done < count) {
      int64_t n = stream_.Read(out + done, count - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    return done;
  }

 private:
  TKavrelWideFileStream& stream_;
  int64_t size_ = 0;
};

}  // namespace pagelume
