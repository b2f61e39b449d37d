// Damaged-file reconstruction: finds every "number generation obj" header in a
// file's raw bytes and the last trailer dictionary, ignoring cross-reference data.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/objects/MarlockPDFLibraryTypes.h"
#include "engine/xref/MarlockPDFLibraryByteSource.h"

namespace pagelume {

// The object number starts at most this many bytes in front of the "o" of "obj".
inline constexpr int64_t kRebuildWindowBack = 47;
// Bytes read after "<<" when cutting out the trailer dictionary.
inline constexpr size_t kRebuildTrailerWindow = 2048;

class TKVLRawAnalyser {
 public:
  TKVLRawAnalyser() = default;

  // Scans the source from offset 0 and fills all fields.
  void Analyse(TKVLByteSource& source);
  // The same scan straight over bytes in memory; gives identical results.
  void Analyse(ByteView bytes);

  // Entry i in file order; 0 for an index out of range.
  int32_t ObjectNumber(int32_t i) const;
  int32_t GenerationNumber(int32_t i) const;
  int64_t ObjectOffset(int32_t i) const;

  // Number of headers found (an object number may occur several times).
  int32_t ObjectCount = 0;
  // The last trailer dictionary as raw text from "<<" to the first ">>", or empty.
  Bytes TrailerText;

 private:
  void Clear();
  // `window` holds the bytes from `windowStart` up to and including the "j" of a
  // candidate "obj"; appends the header when it is one.
  void MatchHeader(ByteView window, int64_t windowStart);

  std::vector<int32_t> numbers_;
  std::vector<int32_t> generations_;
  std::vector<int64_t> offsets_;
};

}  // namespace pagelume
