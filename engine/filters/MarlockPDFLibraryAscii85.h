// The ASCII85Decode filter.
#pragma once

#include "engine/filters/MarlockPDFLibraryOutputCap.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

// Decodes base-85 text. Reading ends at the first byte that is neither a digit
// ('!'..'u'), 'z' nor TAB/LF/CR/space (normally the '~' of "~>"); the end marker is
// not required. A final partial group of n digits yields n - 1 bytes. Stops after
// `maxOutput` bytes.
Bytes Ascii85Decode(ByteView data, size_t maxOutput = kDefaultOutputCap);

}  // namespace pagelume
