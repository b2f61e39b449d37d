// The output limit every decoder honours, so that a small stream cannot expand into
// all of memory (a "decompression bomb"). A decoder that reaches its cap stops and
// returns the bytes produced so far.
#pragma once

#include <cstddef>

namespace pagelume {

inline constexpr size_t kOutputCapFloor = size_t(1) << 30;  // 1 GiB
inline constexpr size_t kOutputCapFactor = 200;             // times the encoded size
// Passed as a cap: use DefaultOutputCap of the input size.
inline constexpr size_t kDefaultOutputCap = 0;
// Text kept in a stream (an information entry written as a stream) is decoded up to
// this much: more is no text a person reads, and a bomb stops early.
inline constexpr size_t kTextStreamOutputCap = size_t(16) << 20;  // 16 MiB

// An object stream holds only the text of small objects, which compresses far less
// than 32 to 1: decoded up to the larger of 64 MiB and 32 times its encoded size, so a
// bomb posing as one stops early instead of at the general cap.
inline constexpr size_t kObjectStreamCapFloor = size_t(64) << 20;  // 64 MiB
inline constexpr size_t kObjectStreamCapFactor = 32;

// The larger of 1 GiB and 200 times the input size (saturating).
inline size_t DefaultOutputCap(size_t inputSize) {
  size_t scaled = 0;
  if (__builtin_mul_overflow(inputSize, kOutputCapFactor, &scaled)) return ~size_t(0);
  return scaled > kOutputCapFloor ? scaled : kOutputCapFloor;
}

inline size_t ObjectStreamOutputCap(size_t inputSize) {
  size_t scaled = 0;
  if (__builtin_mul_overflow(inputSize, kObjectStreamCapFactor, &scaled)) return ~size_t(0);
  return scaled > kObjectStreamCapFloor ? scaled : kObjectStreamCapFloor;
}

inline size_t ResolveOutputCap(size_t cap, size_t inputSize) {
  return cap == kDefaultOutputCap ? DefaultOutputCap(inputSize) : cap;
}

}  // namespace pagelume
