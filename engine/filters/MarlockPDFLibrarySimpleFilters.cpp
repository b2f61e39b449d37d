#include "engine/filters/MarlockPDFLibrarySimpleFilters.h"

#include <algorithm>
#include <cstdint>

namespace pagelume {

namespace {

constexpr int kRunLengthEnd = 128;

bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Value of an upper-cased letter or digit, or -1 beyond 'F'.
int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

unsigned char Upper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

}  // namespace

Bytes AsciiHexDecode(ByteView data, size_t maxOutput) {
  const size_t cap = ResolveOutputCap(maxOutput, data.size());
  Bytes out;
  out.reserve(std::min(cap, data.size() / 2 + 1));
  int high = -2;  // -2: no pending digit; else the pending digit's value (-1 invalid)
  for (unsigned char c : data) {
    if (!IsAsciiAlnum(c)) continue;
    if (out.size() >= cap) return out;
    int v = HexValue(Upper(c));
    if (high == -2) {
      high = v;
      continue;
    }
    out.push_back(high < 0 || v < 0 ? '\0' : char(high * 16 + v));
    high = -2;
  }
  if (high != -2 && out.size() < cap) out.push_back(high < 0 ? '\0' : char(high * 16));
  return out;
}

Bytes RunLengthDecode(ByteView data, size_t maxOutput) {
  const size_t cap = ResolveOutputCap(maxOutput, data.size());
  Bytes out;
  out.reserve(std::min(cap, data.size()));
  size_t i = 0;
  while (i < data.size() && out.size() < cap) {
    int length = uint8_t(data[i++]);
    if (length == kRunLengthEnd) break;
    size_t room = cap - out.size();
    if (length < kRunLengthEnd) {
      size_t n = std::min({size_t(length) + 1, data.size() - i, room});
      out.append(data.substr(i, n));
      i += size_t(length) + 1;
    } else {
      if (i >= data.size()) break;
      out.append(std::min(size_t(257 - length), room), data[i++]);
    }
  }
  return out;
}

}  // namespace pagelume
