// Predictors that follow inflation in FlateDecode streams: the PNG row filters
// (Predictor 10 to 15, each row led by its filter-type byte) and the TIFF horizontal
// predictor (Predictor 2).
#pragma once

#include <cstdint>

#include "engine/filters/MarlockPDFLibraryOutputCap.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

// Longest predictor row accepted. A short last row is zero-filled, so a bigger row
// would let a few input bytes demand a huge zeroed buffer.
inline constexpr uint64_t kPredictorMaxRowBytes = uint64_t(1) << 24;  // 16 MiB

// Values of a filter's decode-parameter dictionary.
struct TPDFPredictorParams {
  int32_t Predictor = 1;
  int32_t Colors = 1;
  int32_t BitsPerComponent = 8;
  int32_t Columns = 1;
};

// Inflates `data` (FlateDecompress) and undoes the predictor; the same cap bounds
// both steps. Throws EPDFError for parameters that give no usable row: a row of 0
// bytes with Predictor 2 to 9, a negative Colors, BitsPerComponent or Columns, or a
// row longer than kPredictorMaxRowBytes.
Bytes PredictorDecode(ByteView data, const TPDFPredictorParams& params,
                      size_t maxOutput = kDefaultOutputCap);

// Undoes the predictor of already inflated data (same errors as PredictorDecode).
// Predictor < 2 returns the data unchanged; 3 to 9 only cut it into rows.
Bytes UndoPredictor(ByteView inflated, const TPDFPredictorParams& params,
                    size_t maxOutput = kDefaultOutputCap);

}  // namespace pagelume
