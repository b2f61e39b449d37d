// Flate (zlib) compression and decompression of whole byte strings.
#pragma once

#include "engine/filters/MarlockPDFLibraryOutputCap.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

// A zlib stream (header, deflate data, Adler-32) at zlib's default level.
// Empty input or a zlib failure gives an empty result.
Bytes FlateCompress(ByteView data);

// Inflates a zlib stream. Corrupt or truncated data yields what was decoded before
// the fault; a preset dictionary ends decoding there too. Empty input or another
// zlib failure (memory, stream state) gives an empty result. Stops after `maxOutput`
// bytes (kDefaultOutputCap: DefaultOutputCap of the input size).
Bytes FlateDecompress(ByteView data, size_t maxOutput = kDefaultOutputCap);

}  // namespace pagelume
