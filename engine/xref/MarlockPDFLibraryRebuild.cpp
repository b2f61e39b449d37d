#include "engine/xref/MarlockPDFLibraryRebuild.h"

#include <algorithm>

#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

// Blocks of the forward scan and of the backward search for "trailer" in stream mode.
constexpr size_t kRebuildBlock = 64 * 1024;
// A window ends 3 bytes after the "o" and starts kRebuildWindowBack bytes before it.
constexpr size_t kRebuildWindowLength = size_t(kRebuildWindowBack) + 3;


// A run of digits as a 32-bit value, -1 when it does not fit.
int32_t RunValue(ByteView digits) {
  int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return -1;
  }
  return int32_t(value);
}

// Cuts the trailer text out of the bytes that start at "<<".
Bytes CutTrailer(ByteView fromOpen) {
  fromOpen = fromOpen.substr(0, kRebuildTrailerWindow);
  size_t close = fromOpen.find(">>");
  return close == ByteView::npos ? Bytes() : Bytes(fromOpen.substr(0, close + 2));
}

}  // namespace

void TKVLRawAnalyser::Clear() {
  ObjectCount = 0;
  TrailerText.clear();
  numbers_.clear();
  generations_.clear();
  offsets_.clear();
}

int32_t TKVLRawAnalyser::ObjectNumber(int32_t i) const { return i < 0 || i >= ObjectCount ? 0 : numbers_[i]; }
int32_t TKVLRawAnalyser::GenerationNumber(int32_t i) const {
  return i < 0 || i >= ObjectCount ? 0 : generations_[i];
}
int64_t TKVLRawAnalyser::ObjectOffset(int32_t i) const { return i < 0 || i >= ObjectCount ? 0 : offsets_[i]; }

void TKVLRawAnalyser::MatchHeader(ByteView window, int64_t windowStart) {
  const auto* w = reinterpret_cast<const unsigned char*>(window.data());
  int64_t k = int64_t(window.size()) - 3;  // the "o"
  if (k < 0 || w[k] != 'o' || w[k + 1] != 'b' || w[k + 2] != 'j') return;
  // Walking backwards: whitespace, generation, whitespace, object number, whitespace.
  // Every step needs a byte inside the window, and a digit run may not touch its first byte.
  --k;
  if (k < 0 || !IsWhite(w[k])) return;
  ByteView runs[2];
  for (ByteView& run : runs) {
    while (k >= 0 && IsWhite(w[k])) --k;
    if (k < 0 || !IsDigit(w[k])) return;
    int64_t end = k;
    while (k >= 0 && IsDigit(w[k])) --k;
    if (k < 0 || !IsWhite(w[k])) return;
    run = window.substr(size_t(k + 1), size_t(end - k));
  }
  numbers_.push_back(RunValue(runs[1]));
  generations_.push_back(RunValue(runs[0]));
  offsets_.push_back(windowStart + int64_t(runs[1].data() - window.data()));
  ++ObjectCount;
}

void TKVLRawAnalyser::Analyse(ByteView bytes) {
  Clear();
  const char* data = bytes.data();
  const size_t size = bytes.size();
  // Every "o" followed by "bj" within the data is a candidate.
  for (size_t p = 0; p + 3 <= size; ++p) {
    if (data[p] != 'o' || data[p + 1] != 'b' || data[p + 2] != 'j') continue;
    size_t start = p >= size_t(kRebuildWindowBack) ? p - size_t(kRebuildWindowBack) : 0;
    MatchHeader(bytes.substr(start, p + 3 - start), int64_t(start));
  }

  size_t trailer = bytes.rfind("trailer");
  if (trailer == ByteView::npos) return;
  size_t open = bytes.find("<<", trailer + 1);
  if (open == ByteView::npos) return;
  TrailerText = CutTrailer(bytes.substr(open));
}

void TKVLRawAnalyser::Analyse(TKVLByteSource& source) {
  Clear();
  // Forward scan in blocks, keeping enough bytes in front of each unchecked "o" for its
  // window. `buffer` holds the bytes from `bufferStart`; `next` is the first position not
  // yet checked.
  Bytes buffer;
  int64_t bufferStart = 0;
  int64_t next = 0;
  Bytes block(kRebuildBlock, '\0');
  for (;;) {
    int64_t end = bufferStart + int64_t(buffer.size());
    size_t got = source.ReadAt(end, kRebuildBlock, block.data());
    buffer.append(block.data(), got);
    end += int64_t(got);
    for (int64_t p = next; p + 3 <= end; ++p) {
      const char* at = buffer.data() + (p - bufferStart);
      if (at[0] != 'o' || at[1] != 'b' || at[2] != 'j') continue;
      int64_t start = std::max<int64_t>(0, p - kRebuildWindowBack);
      MatchHeader(ByteView(buffer.data() + (start - bufferStart), size_t(p + 3 - start)), start);
    }
    next = std::max(next, end - 2);
    if (got < kRebuildBlock) break;
    int64_t keepFrom = std::max<int64_t>(bufferStart, next - kRebuildWindowBack);
    buffer.erase(0, size_t(keepFrom - bufferStart));
    bufferStart = keepFrom;
  }
  const int64_t size = bufferStart + int64_t(buffer.size());
  buffer.clear();
  buffer.shrink_to_fit();

  // The last "trailer": backwards in overlapping blocks.
  const ByteView keyword = "trailer";
  int64_t trailer = -1;
  for (int64_t blockEnd = size; blockEnd > 0 && trailer < 0;) {
    int64_t blockStart = std::max<int64_t>(0, blockEnd - int64_t(kRebuildBlock));
    size_t got = source.ReadAt(blockStart, size_t(blockEnd - blockStart), block.data());
    size_t hit = ByteView(block.data(), got).rfind(keyword);
    if (hit != ByteView::npos) trailer = blockStart + int64_t(hit);
    if (blockStart == 0) break;
    blockEnd = blockStart + int64_t(keyword.size()) - 1;
  }
  if (trailer < 0) return;

  // The first "<<" after its "t": forwards in overlapping blocks.
  int64_t open = -1;
  for (int64_t at = trailer + 1; at < size && open < 0;) {
    size_t got = source.ReadAt(at, kRebuildBlock, block.data());
    if (got < 2) break;
    size_t hit = ByteView(block.data(), got).find("<<");
    if (hit != ByteView::npos) open = at + int64_t(hit);
    at += int64_t(got) - 1;
  }
  if (open < 0) return;
  size_t got = source.ReadAt(open, kRebuildTrailerWindow, block.data());
  TrailerText = CutTrailer(ByteView(block.data(), got));
}

}  // namespace pagelume
