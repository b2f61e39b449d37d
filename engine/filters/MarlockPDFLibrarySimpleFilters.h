// The two byte-oriented filters without parameters: ASCIIHexDecode and RunLengthDecode.
#pragma once

#include "engine/filters/MarlockPDFLibraryOutputCap.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

// Pairs of hexadecimal digits to bytes. Every byte that is not an ASCII letter or
// digit is dropped (whitespace and '>' alike); an odd digit count gets a '0'
// appended; a pair with a letter beyond 'F' gives the byte 0.
Bytes AsciiHexDecode(ByteView data, size_t maxOutput = kDefaultOutputCap);

// Length byte L < 128: copy the next L + 1 bytes; L = 128: end of data; L > 128:
// repeat the next byte 257 - L times. A truncated run gives what is there.
Bytes RunLengthDecode(ByteView data, size_t maxOutput = kDefaultOutputCap);

}  // namespace pagelume
