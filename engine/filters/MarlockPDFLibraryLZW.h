// The LZWDecode filter: variable-width LZW codes of 9 to 12 bits, with the optional
// TIFF predictor (Predictor 2) applied to the result.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/filters/MarlockPDFLibraryOutputCap.h"
#include "engine/filters/MarlockPDFLibraryPredictor.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

struct TPDFLZWParams : TPDFPredictorParams {
  int32_t EarlyChange = 1;
};

// One decoder per stream: set the options, then Decode once.
class TPDFLZWDecompressor {
 public:
  static constexpr int kInitialCodeSize = 9;
  static constexpr int kMaxCodeSize = 12;
  static constexpr uint32_t kClearCode = 256;
  static constexpr uint32_t kEndCode = 257;
  static constexpr uint32_t kTableSize = 4096;

  // true: codes are read most significant bit first (as PDF writes them); false: the
  // bits of each byte are taken in reverse order.
  bool FillOrderMsbFirst = true;
  // The code width grows one code early (the PDF default, /EarlyChange 1).
  bool EarlyChange = true;

  // Decodes `data` up to the end code, or up to the last whole code when there is
  // none. With params.Predictor 2 undoes the TIFF predictor on 8-bit
  // samples (complete rows of Columns x Colors bytes). Other predictors are not
  // applied. Throws EPDFError when Predictor is 2 and Columns or Colors is not
  // positive. Stops after `maxOutput` bytes.
  Bytes Decode(ByteView data, const TPDFLZWParams& params, size_t maxOutput = kDefaultOutputCap);

 private:
  // Table strings are chains of nodes: a node is its parent's string plus one byte.
  // Nodes never change, so redefining a code (after a clear, or the last code of a
  // full table) cannot alter strings built on its old value.
  struct Node {
    uint32_t parent;
    uint32_t length;
    uint8_t byte;
    uint8_t first;
  };
  uint32_t ReadCode();
  uint32_t Extend(uint32_t node, uint8_t byte);
  void Emit(uint32_t node);
  void CompactNodes();

  ByteView input_;
  size_t pos_ = 0;
  int bitOffset_ = 0;
  int codeSize_ = kInitialCodeSize;
  std::vector<Node> nodes_;  // node 0 is the empty string
  uint32_t table_[kTableSize] = {};
  size_t compactAt_ = 0;
  Bytes out_;
  size_t cap_ = 0;
  bool full_ = false;  // cap or node limit reached
};

}  // namespace pagelume
