// Text encodings and conversions: PDF text strings, UTF-8/UTF-16, dates,
// number formatting and the small text utilities the engine shares.
#pragma once

#include <cstdint>

#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

// ---- PDF text strings ------------------------------------------------------

// The PDFDocEncoding table: code point of each byte.
char16_t PdfDocChar(uint8_t code);
// PDFDocEncoding byte of a UTF-16 code unit, or -1.
int PdfDocCode(char16_t ch);
// PDFDocEncoding when every code unit has a byte, else FE FF + UTF-16BE.
Bytes EncodeTextString(TextView text, bool forceUnicode);
// Never fails: every byte sequence yields some text.
Text DecodeTextString(ByteView bytes);

// A text whose first two code units have high bytes E7 and F8 carries its length
// in their low bytes; the text proper follows. Any other text is returned as is.
Text StripLengthTag(TextView text);

// ---- UTF-8 / UTF-16 ----------------------------------------------------------

Text Utf8ToText(ByteView bytes);
Bytes TextToUtf8(TextView text);
Text AsciiToText(ByteView bytes);
Text CodePointToUtf16(uint32_t cp);

enum class TUtf16Order { Native, Swapped };
enum class TUtf16Errors { Stop, Skip, Replace };
enum class TUtf16Bom { Drop, Add, Keep };

// The general UTF-16 converter. `pairInput`: combine surrogate pairs of the input;
// `maxOutput`: 0x10FFFF (pairs written) or 0xFFFF. Returns false when the error
// policy is Stop and an invalid code point was met (`out` then holds what was
// converted before it).
bool ConvertUtf16(TextView in, TUtf16Order inputOrder, bool pairInput, TUtf16Errors errors,
                  TUtf16Bom bom, TUtf16Order outputOrder, uint32_t maxOutput, Text& out);

// Windows-1252 bytes of a text (the 8-bit code page used for older passwords);
// characters without a byte become '?'.
Bytes TextToWindows1252(TextView text);

// ---- Dates --------------------------------------------------------------------

// The current local time as a PDF date, e.g. D:20240131093005+01'00'.
Text PdfDateNow();

// ---- Character classes ----------------------------------------------------------

// PDF white space: NUL, tab, line feed, form feed, carriage return, space.
inline bool IsWhite(char c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }
inline bool IsDelimiter(char c) {
  switch (c) {
    case '(': case ')': case '<': case '>': case '[': case ']': case '{': case '}': case '/': case '%':
      return true;
    default:
      return false;
  }
}
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ---- Numbers ------------------------------------------------------------------

// The PDF number writer: round to `decimals` places (ties to even), drop trailing
// zeros and a bare point, "0" for zero. Throws EPDFError when the scaled value
// does not fit a signed 64-bit integer.
Bytes FormatNumber(double value, int decimals);
// Decimal digits of a non-negative value padded with '0' to `width`; a negative
// value gives `width` zeros.
Bytes PadNumber(int64_t value, int width);
bool IsDecimalText(ByteView s);
int32_t ToInt(ByteView s, int32_t def);
int64_t ToInt64(ByteView s, int64_t def);
Bytes ToHex(uint64_t value, int digits);
Bytes IntToText(int64_t value);

// ---- Byte-string utilities (1-based positions, as the callers count) -----------

// 1-based position of the first `sub` in `s` at or after 1-based `from`, or 0.
size_t Pos(ByteView sub, ByteView s, size_t from = 1);
// Removes leading and trailing bytes <= 0x20.
Bytes Trim(ByteView s);
// `count` bytes from 1-based `start`, clipped to the string.
Bytes Copy(ByteView s, int64_t start, int64_t count);
bool StartsWith(ByteView s, ByteView prefix);
bool EndsWith(ByteView s, ByteView suffix);
// ASCII letters only.
Bytes UpperCase(ByteView s);
enum TReplaceFlags : unsigned { rfNone = 0, rfReplaceAll = 1, rfIgnoreCase = 2 };
Bytes Replace(ByteView s, ByteView oldPattern, ByteView newPattern, unsigned flags);
// Locale-aware comparisons of byte strings, with and without case (<0, 0, >0).
int CompareCase(ByteView a, ByteView b);
int CompareNoCase(ByteView a, ByteView b);

}  // namespace pagelume
