#include "engine/filters/MarlockPDFLibraryLZW.h"

#include <algorithm>
#include <string>

namespace pagelume {

namespace {

// Dead nodes (strings no code reaches any more) are dropped once the node store
// has grown this much beyond the live ones.
constexpr size_t kLZWCompactFloor = size_t(1) << 16;
constexpr uint32_t kLZWMaxNodes = 0xFFFFFFF0u;
constexpr uint32_t kUnmapped = 0xFFFFFFFFu;
constexpr int32_t kLZWTiffPredictor = 2;

uint8_t ReverseBits(uint8_t b) {
  b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

uint32_t TPDFLZWDecompressor::ReadCode() {
  // A code that does not fit in what is left of the input ends the data, so a
  // stream without an end code yields no bytes made up from beyond its end.
  if (pos_ >= input_.size() || (input_.size() - pos_) * 8 - size_t(bitOffset_) < size_t(codeSize_))
    return kEndCode;
  uint32_t window = 0;
  for (size_t i = 0; i < 3; ++i) {
    uint8_t b = pos_ + i < input_.size() ? uint8_t(input_[pos_ + i]) : 0;
    window = window << 8 | (FillOrderMsbFirst ? b : ReverseBits(b));
  }
  uint32_t code = (window >> (24 - bitOffset_ - codeSize_)) & ((1u << codeSize_) - 1);
  bitOffset_ += codeSize_;
  pos_ += size_t(bitOffset_ / 8);
  bitOffset_ %= 8;
  return code;
}

uint32_t TPDFLZWDecompressor::Extend(uint32_t node, uint8_t byte) {
  const Node& parent = nodes_[node];
  if (nodes_.size() >= kLZWMaxNodes || parent.length >= kLZWMaxNodes) {
    full_ = true;
    return 0;
  }
  nodes_.push_back(Node{node, parent.length + 1, byte, node == 0 ? byte : parent.first});
  return uint32_t(nodes_.size() - 1);
}

void TPDFLZWDecompressor::Emit(uint32_t node) {
  size_t length = nodes_[node].length;
  if (length == 0) return;
  size_t start = out_.size();
  size_t take = std::min(length, cap_ - start);
  out_.resize(start + take);
  for (size_t skip = length - take; skip > 0; --skip) node = nodes_[node].parent;
  for (size_t i = start + take; i > start; --i) {
    out_[i - 1] = char(nodes_[node].byte);
    node = nodes_[node].parent;
  }
  if (out_.size() >= cap_) full_ = true;
}

void TPDFLZWDecompressor::CompactNodes() {
  std::vector<uint32_t> remap(nodes_.size(), kUnmapped);
  std::vector<Node> kept;
  kept.reserve(kLZWCompactFloor);
  std::vector<uint32_t> path;
  remap[0] = 0;
  kept.push_back(nodes_[0]);
  for (uint32_t& entry : table_) {
    uint32_t n = entry;
    path.clear();
    while (remap[n] == kUnmapped) {
      path.push_back(n);
      n = nodes_[n].parent;  // parents are always older, so this ends at the root
    }
    uint32_t parent = remap[n];
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
      Node copy = nodes_[*it];
      copy.parent = parent;
      kept.push_back(copy);
      parent = remap[*it] = uint32_t(kept.size() - 1);
    }
    entry = remap[entry];
  }
  nodes_.swap(kept);
}

Bytes TPDFLZWDecompressor::Decode(ByteView data, const TPDFLZWParams& params, size_t maxOutput) {
  const bool tiff = params.Predictor == kLZWTiffPredictor;
  if (tiff && (params.Columns <= 0 || params.Colors <= 0))
    throw EPDFError("LZW predictor rows of zero bytes (Columns " + std::to_string(params.Columns) +
                    ", Colors " + std::to_string(params.Colors) + ")");
  input_ = data;
  pos_ = 0;
  bitOffset_ = 0;
  cap_ = ResolveOutputCap(maxOutput, data.size());
  full_ = false;
  out_.clear();
  out_.reserve(std::min(cap_, data.size() * 2));
  nodes_.clear();
  nodes_.push_back(Node{0, 0, 0, 0});
  for (uint32_t c = 0; c < kTableSize; ++c) table_[c] = 0;
  for (uint32_t c = 0; c < 256; ++c) {
    nodes_.push_back(Node{0, 1, uint8_t(c), uint8_t(c)});
    table_[c] = c + 1;
  }
  compactAt_ = kLZWCompactFloor;

  const uint32_t lag = EarlyChange ? 2 : 1;  // growth point is 2^size - lag
  codeSize_ = kInitialCodeSize;
  uint32_t growAt = (1u << codeSize_) - lag;
  uint32_t next = kEndCode + 1;

  uint32_t code = ReadCode();
  if (code == kClearCode) code = ReadCode();
  if (code != kEndCode) {
    Emit(table_[code]);
    uint32_t prev = code;
    while (!full_) {
      if (nodes_.size() >= compactAt_) {  // here no node index is held outside the table
        CompactNodes();
        compactAt_ = std::max(kLZWCompactFloor, nodes_.size() * 2);
      }
      code = ReadCode();
      if (code == kEndCode) break;
      if (code == kClearCode) {
        codeSize_ = kInitialCodeSize;
        growAt = (1u << codeSize_) - lag;
        // The first entry after a clear lands on the end code's slot, never output.
        next = kEndCode;
        continue;  // prev stays
      }
      if (code < next) {
        uint32_t entry = table_[code];
        Emit(entry);
        if (nodes_[entry].length != 0) table_[next] = Extend(table_[prev], nodes_[entry].first);
      } else {
        // The code being defined right now (or any code beyond it): prev's string
        // plus its own first byte.
        uint32_t p = table_[prev];
        uint32_t s = nodes_[p].length == 0 ? 0 : Extend(p, nodes_[p].first);
        Emit(s);
        table_[next] = s;
      }
      prev = code;
      if (next == growAt && codeSize_ < kMaxCodeSize) {
        ++codeSize_;
        growAt = (1u << codeSize_) - lag;
      }
      if (next < kTableSize - 1) ++next;
    }
  }
  Bytes out = std::move(out_);
  out_ = Bytes();
  nodes_ = std::vector<Node>();

  if (tiff) {
    // 8-bit samples; a trailing partial row stays as it is.
    const uint64_t rowBytes = uint64_t(params.Columns) * uint64_t(params.Colors);
    const size_t colors = size_t(params.Colors);
    for (uint64_t row = 0; row + rowBytes <= out.size(); row += rowBytes)
      for (uint64_t i = colors; i < rowBytes; ++i) out[row + i] = char(out[row + i] + out[row + i - colors]);
  }
  return out;
}

}  // namespace pagelume
