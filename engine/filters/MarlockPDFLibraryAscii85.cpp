#include "engine/filters/MarlockPDFLibraryAscii85.h"

#include <algorithm>
#include <cstdint>

namespace pagelume {

namespace {

constexpr int kGroupDigits = 5;
constexpr uint32_t kPadDigit = 84;  // 'u'

void PutGroup(Bytes& out, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) out.push_back(char(uint8_t(value >> (24 - 8 * i))));
}

}  // namespace

Bytes Ascii85Decode(ByteView data, size_t maxOutput) {
  const size_t cap = ResolveOutputCap(maxOutput, data.size());
  Bytes out;
  out.reserve(std::min(cap, data.size() / 5 * 4 + 4));
  uint32_t digits[kGroupDigits];
  int count = 0;
  for (unsigned char c : data) {
    if (out.size() >= cap) break;
    if (c == '\t' || c == '\n' || c == '\r' || c == ' ') continue;
    if (c == 'z') {
      count = 0;  // a partial group before 'z' is dropped
      PutGroup(out, 0, 4);
      continue;
    }
    if (c < '!' || c > 'u') break;
    digits[count++] = c - '!';
    if (count == kGroupDigits) {
      uint32_t v = 0;  // wraps modulo 2^32 for groups above "s8W-!"
      for (uint32_t d : digits) v = v * 85 + d;
      PutGroup(out, v, 4);
      count = 0;
    }
  }
  if (count >= 2 && out.size() < cap) {
    uint32_t v = 0;
    for (int i = 0; i < kGroupDigits; ++i) v = v * 85 + (i < count ? digits[i] : kPadDigit);
    PutGroup(out, v, count - 1);
  }
  if (out.size() > cap) out.resize(cap);
  return out;
}

}  // namespace pagelume
