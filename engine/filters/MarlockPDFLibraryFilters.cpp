#include "engine/filters/MarlockPDFLibraryFilters.h"

#include "engine/filters/MarlockPDFLibraryAscii85.h"
#include "engine/filters/MarlockPDFLibraryFlate.h"
#include "engine/filters/MarlockPDFLibraryLZW.h"
#include "engine/filters/MarlockPDFLibraryPredictor.h"
#include "engine/filters/MarlockPDFLibrarySimpleFilters.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

TPDFObject* Resolved(TPDFObject* obj) {
  if (auto* ref = As<TPDFIndRef>(obj)) return ref->Resolve();
  return obj;
}

// A number entry (a reference is followed), rounded; anything else gives `def`.
int32_t IntegerParam(const TPDFDictionary* params, ByteView key, int32_t def) {
  const TPDFNumeric* n = params ? params->GetNumber(key) : nullptr;
  return n ? n->AsInteger() : def;
}

template <class P>
void ReadPredictorParams(const TPDFDictionary* dict, P& p) {
  p.Predictor = IntegerParam(dict, "Predictor", p.Predictor);
  p.Colors = IntegerParam(dict, "Colors", p.Colors);
  p.BitsPerComponent = IntegerParam(dict, "BitsPerComponent", p.BitsPerComponent);
  p.Columns = IntegerParam(dict, "Columns", p.Columns);
}

}  // namespace

std::vector<TPDFFilterStage> FilterChain(const TPDFStream& stream) {
  std::vector<TPDFFilterStage> chain;
  const TPDFDictionary* dict = stream.StreamDict;
  if (!dict) return chain;
  TPDFObject* filter = Resolved(dict->Get("Filter", false));
  if (auto* name = As<TPDFName>(filter)) {
    chain.push_back({name->GetNameBytes(), nullptr});
  } else if (auto* array = As<TPDFArray>(filter)) {
    for (TPDFObject* item : array->Items)
      if (auto* n = As<TPDFName>(Resolved(item))) chain.push_back({n->GetNameBytes(), nullptr});
  }
  if (chain.empty()) return chain;

  TPDFObject* params = dict->Get("DecodeParms", true);
  if (!params) params = dict->Get("DP", true);
  if (auto* one = As<TPDFDictionary>(params)) {
    chain[0].Params = one;
  } else if (auto* list = As<TPDFArray>(params)) {
    // A reference element is followed too: an indirect parameter dictionary is legal.
    size_t n = std::min(chain.size(), list->Items.size());
    for (size_t i = 0; i < n; ++i) chain[i].Params = As<TPDFDictionary>(Resolved(list->Items[i]));
  }
  return chain;
}

Bytes ApplyFilter(const TPDFFilterStage& stage, ByteView data, size_t maxOutput) {
  const Bytes& name = stage.Name;
  if (name == "FlateDecode" || name == "Fl") {
    TPDFPredictorParams p;
    ReadPredictorParams(stage.Params, p);
    if (!stage.Params || p.Predictor < 2) return FlateDecompress(data, maxOutput);
    return PredictorDecode(data, p, maxOutput);
  }
  if (name == "RunLengthDecode" || name == "RL") return RunLengthDecode(data, maxOutput);
  if (name == "ASCII85Decode" || name == "A85") return Ascii85Decode(data, maxOutput);
  if (name == "ASCIIHexDecode") return AsciiHexDecode(data, maxOutput);
  if (name == "LZWDecode") {
    TPDFLZWParams p;
    ReadPredictorParams(stage.Params, p);
    p.EarlyChange = IntegerParam(stage.Params, "EarlyChange", p.EarlyChange);
    TPDFLZWDecompressor lzw;
    lzw.FillOrderMsbFirst = true;
    lzw.EarlyChange = p.EarlyChange == 1;
    return lzw.Decode(data, p, maxOutput);
  }
  return Bytes(data);
}

void DecodeStreamData(const TPDFStream& stream, Bytes& out, size_t maxOutput) {
  const ByteView raw = stream.Raw();
  const size_t cap = ResolveOutputCap(maxOutput, raw.size());
  std::vector<TPDFFilterStage> chain = FilterChain(stream);
  if (chain.empty()) {
    out.assign(raw.substr(0, std::min(raw.size(), cap)));
    return;
  }
  Bytes data = ApplyFilter(chain[0], raw, cap);
  for (size_t i = 1; i < chain.size(); ++i) data = ApplyFilter(chain[i], data, cap);
  if (data.size() > cap) data.resize(cap);
  out = std::move(data);
}

// ---- TPDFStream members that belong to the pipeline -----------------------------

void TPDFStream::Decoded(Bytes& out) const { DecodeStreamData(*this, out); }

void TPDFStream::Decoded(Bytes& out, size_t maxOutput) const {
  if (maxOutput == 0) {
    out.clear();
    return;
  }
  DecodeStreamData(*this, out, maxOutput);
}

Text TPDFStream::DecodedText() const {
  Bytes data;
  DecodeStreamData(*this, data, kTextStreamOutputCap);
  return DecodeTextString(data);
}

void TPDFStream::SetContent(ByteView data, bool compress) {
  if (!compress) {
    SetRaw(Bytes(data));
    StreamDict->Remove("Filter");
  } else {
    SetRaw(FlateCompress(data));
    StreamDict->Remove("Filter");
    StreamDict->Put("Filter", Structure->NewName("FlateDecode"));
  }
  Modified = true;
}

void TPDFStream::SetContentText(TextView text, bool compress) {
  SetContent(EncodeTextString(text, false), compress);
}

}  // namespace pagelume
