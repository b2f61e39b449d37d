#include "engine/filters/MarlockPDFLibraryPredictor.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "engine/filters/MarlockPDFLibraryFlate.h"

namespace pagelume {

namespace {

constexpr int32_t kTiffPredictor = 2;
constexpr int32_t kFirstPngPredictor = 10;
constexpr int kMaxTiffBitsPerComponent = 16;

enum PngTag : uint8_t { kPngNone = 0, kPngSub = 1, kPngUp = 2, kPngAverage = 3, kPngPaeth = 4 };

struct RowGeometry {
  size_t rowBytes = 0;  // decoded bytes per row
  size_t bpp = 1;       // distance to the left neighbour, in bytes
  size_t stride = 0;    // encoded bytes per row (with the tag byte of PNG rows)
};

RowGeometry CheckedGeometry(const TPDFPredictorParams& p) {
  if (p.Colors < 0 || p.BitsPerComponent < 0 || p.Columns < 0)
    throw EPDFError("Invalid predictor parameters: Colors " + std::to_string(p.Colors) +
                    ", BitsPerComponent " + std::to_string(p.BitsPerComponent) + ", Columns " +
                    std::to_string(p.Columns));
  // Each factor is below 2^31, so bits per pixel fits; the row may not.
  uint64_t pixelBits = uint64_t(p.BitsPerComponent) * uint64_t(p.Colors);
  uint64_t rowBits = 0;
  if (__builtin_mul_overflow(pixelBits, uint64_t(p.Columns), &rowBits) ||
      rowBits / 8 + (rowBits % 8 != 0) > kPredictorMaxRowBytes)
    throw EPDFError("Predictor row too long: " + std::to_string(p.Columns) + " columns of " +
                    std::to_string(p.Colors) + " x " + std::to_string(p.BitsPerComponent) + " bits");
  RowGeometry g;
  g.rowBytes = size_t(rowBits / 8 + (rowBits % 8 != 0));
  bool png = p.Predictor >= kFirstPngPredictor;
  if (g.rowBytes == 0 && !png)
    throw EPDFError("Predictor rows of zero bytes (Columns, Colors or BitsPerComponent is 0)");
  // Whole bytes per pixel, rounded up, at least 1 (PNG's rule; 4-bit RGB gives 2).
  g.bpp = size_t(std::clamp<uint64_t>((pixelBits + 7) / 8, 1, std::max<size_t>(g.rowBytes, 1)));
  g.stride = g.rowBytes + (png ? 1 : 0);
  return g;
}

uint8_t Paeth(int a, int b, int c) {
  int p = a + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

// `up` is null on the first row, where it counts as zeros.
void UndoPngRow(uint8_t tag, uint8_t* row, const uint8_t* up, size_t n, size_t bpp) {
  switch (tag) {
    case kPngSub:
      for (size_t i = bpp; i < n; ++i) row[i] += row[i - bpp];
      break;
    case kPngUp:
      if (up)
        for (size_t i = 0; i < n; ++i) row[i] += up[i];
      break;
    case kPngAverage:
      for (size_t i = 0; i < n; ++i) {
        int left = i >= bpp ? row[i - bpp] : 0;
        row[i] += uint8_t((left + (up ? up[i] : 0)) / 2);
      }
      break;
    case kPngPaeth:
      for (size_t i = 0; i < n; ++i) {
        int left = i >= bpp ? row[i - bpp] : 0;
        int above = up ? up[i] : 0;
        int upLeft = up && i >= bpp ? up[i - bpp] : 0;
        row[i] += Paeth(left, above, upLeft);
      }
      break;
    default:  // None, and unknown tags: the row stays as it is
      break;
  }
}

// Samples of `bits` bits packed most significant first.
uint32_t GetSample(const uint8_t* row, uint64_t bitPos, int bits) {
  uint32_t v = 0;
  for (int i = 0; i < bits; ++i, ++bitPos) v = (v << 1) | ((row[bitPos >> 3] >> (7 - (bitPos & 7))) & 1);
  return v;
}

void PutSample(uint8_t* row, uint64_t bitPos, int bits, uint32_t v) {
  for (int i = bits - 1; i >= 0; --i, ++bitPos) {
    uint8_t mask = uint8_t(0x80 >> (bitPos & 7));
    if ((v >> i) & 1)
      row[bitPos >> 3] |= mask;
    else
      row[bitPos >> 3] &= uint8_t(~mask);
  }
}

// Each component adds the same component of the pixel to its left, modulo 2^bits.
// Sample sizes above 16 bits are left as they are.
void UndoTiffRow(uint8_t* row, size_t rowBytes, const TPDFPredictorParams& p) {
  const int bits = p.BitsPerComponent;
  const size_t colors = size_t(p.Colors);
  if (bits == 8) {
    for (size_t i = colors; i < rowBytes; ++i) row[i] += row[i - colors];
    return;
  }
  if (bits < 1 || bits > kMaxTiffBitsPerComponent) return;
  const uint32_t mask = (uint32_t(1) << bits) - 1;
  const uint64_t pixelBits = uint64_t(bits) * colors;
  const uint64_t rowBits = pixelBits * uint64_t(p.Columns);
  // The left neighbour is already decoded in place, one pixel back.
  for (uint64_t at = pixelBits; at < rowBits; at += unsigned(bits)) {
    uint32_t v = (GetSample(row, at - pixelBits, bits) + GetSample(row, at, bits)) & mask;
    PutSample(row, at, bits, v);
  }
}

}  // namespace

Bytes UndoPredictor(ByteView inflated, const TPDFPredictorParams& p, size_t maxOutput) {
  const size_t cap = ResolveOutputCap(maxOutput, inflated.size());
  if (p.Predictor < kTiffPredictor) return Bytes(inflated.substr(0, std::min(cap, inflated.size())));
  const RowGeometry g = CheckedGeometry(p);
  const bool png = p.Predictor >= kFirstPngPredictor;
  Bytes out;
  if (g.rowBytes == 0) return out;  // PNG rows holding only their tag byte

  size_t rows = inflated.size() / g.stride + (inflated.size() % g.stride ? 1 : 0);
  // Decode only the rows that reach into the cap; rows * rowBytes may not fit.
  size_t rowsInCap = cap / g.rowBytes + (cap % g.rowBytes ? 1 : 0);
  rows = std::min(rows, rowsInCap);
  out.resize(rows * g.rowBytes);  // zero-filled: a short last row is padded with zeros

  uint8_t* base = reinterpret_cast<uint8_t*>(out.data());
  for (size_t r = 0; r < rows; ++r) {
    size_t at = r * g.stride;
    uint8_t tag = kPngNone;
    if (png) {
      tag = uint8_t(inflated[at]);
      ++at;
    }
    uint8_t* row = base + r * g.rowBytes;
    if (at < inflated.size()) {
      size_t n = std::min(g.rowBytes, inflated.size() - at);
      std::copy_n(inflated.data() + at, n, reinterpret_cast<char*>(row));
    }
    if (png)
      UndoPngRow(tag, row, r ? row - g.rowBytes : nullptr, g.rowBytes, g.bpp);
    else if (p.Predictor == kTiffPredictor)
      UndoTiffRow(row, g.rowBytes, p);
  }
  if (out.size() > cap) out.resize(cap);
  return out;
}

Bytes PredictorDecode(ByteView data, const TPDFPredictorParams& params, size_t maxOutput) {
  const size_t cap = ResolveOutputCap(maxOutput, data.size());
  if (params.Predictor < kTiffPredictor) return FlateDecompress(data, cap);
  const RowGeometry g = CheckedGeometry(params);  // fails before inflating
  // Inflate as many encoded rows as the capped output needs (tag bytes included).
  size_t inflateCap = cap;
  if (g.rowBytes > 0) {
    size_t rows = cap / g.rowBytes + (cap % g.rowBytes ? 1 : 0);
    if (__builtin_mul_overflow(rows, g.stride, &inflateCap)) inflateCap = ~size_t(0);
  }
  return UndoPredictor(FlateDecompress(data, inflateCap), params, cap);
}

}  // namespace pagelume
