// The stream filter pipeline: runs a stream's /Filter chain over its stored bytes.
// It also defines TPDFStream::Decoded, DecodedText, SetContent and SetContentText.
#pragma once

#include <vector>

#include "engine/filters/MarlockPDFLibraryOutputCap.h"
#include "engine/objects/MarlockPDFLibraryStructure.h"

namespace pagelume {

// One filter of a chain: its name and its decode-parameter dictionary, or null.
struct TPDFFilterStage {
  Bytes Name;
  TPDFDictionary* Params = nullptr;
};

// The stream's filters in order. /Filter may be a name or an array of names (a
// reference, also inside the array, is resolved; other elements are skipped).
// /DecodeParms, else /DP, gives one dictionary for the first filter or an array
// with one entry per filter.
std::vector<TPDFFilterStage> FilterChain(const TPDFStream& stream);

// Runs one filter by its exact name. Unknown names (image codecs, Crypt, the
// abbreviations AHx and LZW) return the data unchanged.
Bytes ApplyFilter(const TPDFFilterStage& stage, ByteView data, size_t maxOutput = kDefaultOutputCap);

// The stream's data through its whole chain. Every stage stops at the same cap,
// taken from the stored size (kDefaultOutputCap: DefaultOutputCap of the raw data),
// so that a chain of filters cannot multiply the limit. Throws EPDFError only for
// the predictor parameters the decoders reject.
void DecodeStreamData(const TPDFStream& stream, Bytes& out, size_t maxOutput = kDefaultOutputCap);

}  // namespace pagelume
