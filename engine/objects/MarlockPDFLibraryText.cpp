// Text encodings and conversions shared by the whole engine.
#include "engine/objects/MarlockPDFLibraryText.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace pagelume {

namespace {

constexpr char16_t kReplacementChar = 0xFFFD;
constexpr char16_t kByteOrderMark = 0xFEFF;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// ---- PDFDocEncoding -----------------------------------------------------------

struct TPdfDocTables {
  std::array<char16_t, 256> toChar{};
  // Code unit -> first byte whose entry holds it, or -1.
  std::array<int16_t, 65536> firstCode{};

  TPdfDocTables() {
    for (int i = 0; i < 256; ++i) toChar[i] = static_cast<char16_t>(i);
    static constexpr struct {
      uint8_t code;
      char16_t ch;
    } kDiffs[] = {
        {0x16, 0x0017}, {0x18, 0x02D8}, {0x19, 0x02C7}, {0x1A, 0x02C6}, {0x1B, 0x02D9}, {0x1C, 0x02DD},
        {0x1D, 0x02DB}, {0x1E, 0x02DA}, {0x1F, 0x02DC}, {0x7F, 0xFFFD}, {0x80, 0x2022}, {0x81, 0x2020},
        {0x82, 0x2021}, {0x83, 0x2026}, {0x84, 0x2014}, {0x85, 0x2013}, {0x86, 0x0192}, {0x87, 0x2044},
        {0x88, 0x2039}, {0x89, 0x203A}, {0x8A, 0x2212}, {0x8B, 0x2030}, {0x8C, 0x201E}, {0x8D, 0x201C},
        {0x8E, 0x201D}, {0x8F, 0x2018}, {0x90, 0x2019}, {0x91, 0x201A}, {0x92, 0x2122}, {0x93, 0xFB01},
        {0x94, 0xFB02}, {0x95, 0x0141}, {0x96, 0x0152}, {0x97, 0x0160}, {0x98, 0x0178}, {0x99, 0x017D},
        {0x9A, 0x0131}, {0x9B, 0x0142}, {0x9C, 0x0153}, {0x9D, 0x0161}, {0x9E, 0x017E}, {0x9F, 0xFFFD},
        {0xA0, 0x20AC}, {0xAD, 0xFFFD},
    };
    for (const auto& d : kDiffs) toChar[d.code] = d.ch;
    firstCode.fill(-1);
    // Walk downwards so the lowest byte wins for characters that appear twice.
    for (int i = 255; i >= 0; --i) firstCode[toChar[i]] = static_cast<int16_t>(i);
  }
};

const TPdfDocTables& PdfDocTables() {
  static const TPdfDocTables tables;
  return tables;
}

// Built at start-up so later lookups only read.
[[maybe_unused]] const TPdfDocTables& kPdfDocWarmUp = PdfDocTables();

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The validity rule shared by all converters: surrogates, noncharacters, code
// points above the output maximum and U+FFFD itself count as invalid.
bool IsInvalidCodePoint(uint32_t cp, uint32_t maxOutput) {
  if (cp > maxOutput) return true;
  if (cp >= 0xD800 && cp <= 0xDFFF) return true;
  if (cp >= 0xFDD0 && cp <= 0xFDEF) return true;
  if ((cp & 0xFFFE) == 0xFFFE) return true;
  return cp == kReplacementChar;
}

void AppendUtf16(Text& out, uint32_t cp) {
  if (cp <= 0xFFFF) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(Bytes& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

char16_t Swap16(char16_t u) { return static_cast<char16_t>((u >> 8) | (u << 8)); }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
unsigned char AsciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

bool IsSpace(char c) { return static_cast<unsigned char>(c) <= 0x20; }

}  // namespace

// ---- PDF text strings ------------------------------------------------------

char16_t PdfDocChar(uint8_t code) { return PdfDocTables().toChar[code]; }

int PdfDocCode(char16_t ch) {
  const TPdfDocTables& t = PdfDocTables();
  const uint8_t low = static_cast<uint8_t>(ch & 0xFF);
  if (t.toChar[low] == ch) return low;
  return t.firstCode[ch];
}

Bytes EncodeTextString(TextView text, bool forceUnicode) {
  const Text plain = StripLengthTag(text);
  if (plain.empty()) return Bytes();
  if (!forceUnicode) {
    Bytes out;
    out.reserve(plain.size());
    bool all = true;
    for (char16_t ch : plain) {
      const int code = PdfDocCode(ch);
      if (code < 0) {
        all = false;
        break;
      }
      out.push_back(static_cast<char>(code));
    }
    if (all) return out;
  }
  Text units;
  ConvertUtf16(plain, TUtf16Order::Native, true, TUtf16Errors::Replace, TUtf16Bom::Add,
               TUtf16Order::Native, kMaxCodePoint, units);
  Bytes out;
  out.reserve(units.size() * 2);
  for (char16_t u : units) {
    out.push_back(static_cast<char>(u >> 8));
    out.push_back(static_cast<char>(u & 0xFF));
  }
  return out;
}

Text DecodeTextString(ByteView bytes) {
  const size_t n = bytes.size();
  const auto b = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  if (n >= 2 && b(0) == 0xFE && b(1) == 0xFF) {
    // A lone last byte becomes the high byte of a final code unit.
    Text units;
    units.reserve((n + 1) / 2);
    for (size_t i = 0; i < n; i += 2) {
      const uint8_t lo = i + 1 < n ? b(i + 1) : 0;
      units.push_back(static_cast<char16_t>((b(i) << 8) | lo));
    }
    Text out;
    ConvertUtf16(units, TUtf16Order::Native, true, TUtf16Errors::Replace, TUtf16Bom::Drop,
                 TUtf16Order::Native, kMaxCodePoint, out);
    return out;
  }
  if (n >= 2 && b(0) == 0xFF && b(1) == 0xFE) {
    Text out;
    out.reserve((n - 2) / 2);
    for (size_t i = 2; i + 1 < n; i += 2) out.push_back(static_cast<char16_t>(b(i) | (b(i + 1) << 8)));
    return out;
  }
  const TPdfDocTables& t = PdfDocTables();
  Text out(n, u'\0');
  for (size_t i = 0; i < n; ++i) out[i] = t.toChar[b(i)];
  return out;
}

Text StripLengthTag(TextView text) {
  if (text.size() >= 2 && (text[0] >> 8) == 0xE7 && (text[1] >> 8) == 0xF8) {
    const size_t length = static_cast<size_t>((text[0] & 0xFF) | ((text[1] & 0xFF) << 8));
    return Text(text.substr(2, length));
  }
  return Text(text);
}

// ---- UTF-8 / UTF-16 ----------------------------------------------------------

Text Utf8ToText(ByteView bytes) {
  Text out;
  out.reserve(bytes.size());
  const size_t n = bytes.size();
  size_t i = 0;
  bool first = true;
  while (i < n) {
    const uint8_t lead = static_cast<uint8_t>(bytes[i]);
    uint32_t cp;
    size_t need;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (lead < 0x80) {
      cp = lead;
      need = 0;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      cp = lead & 0x1F;
      need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      cp = lead & 0x0F;
      need = 2;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      cp = lead & 0x07;
      need = 3;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    } else {
      // A byte that can never start a sequence: one U+FFFD for it.
      out.push_back(kReplacementChar);
      ++i;
      first = false;
      continue;
    }
    ++i;
    // Consume the maximal well-formed prefix; a break leaves the offending byte
    // to start the next sequence, so each ill-formed subpart yields one U+FFFD.
    bool ok = true;
    for (size_t k = 0; k < need; ++k) {
      if (i >= n) {
        ok = false;
        break;
      }
      const uint8_t c = static_cast<uint8_t>(bytes[i]);
      const uint8_t mn = k == 0 ? lo : 0x80, mx = k == 0 ? hi : 0xBF;
      if (c < mn || c > mx) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
      ++i;
    }
    if (!ok) {
      out.push_back(kReplacementChar);
      first = false;
      continue;
    }
    if (first && cp == kByteOrderMark) {
      first = false;
      continue;
    }
    first = false;
    if (IsInvalidCodePoint(cp, kMaxCodePoint)) cp = kReplacementChar;
    AppendUtf16(out, cp);
  }
  return out;
}

Bytes TextToUtf8(TextView text) {
  const Text plain = StripLengthTag(text);
  Bytes out;
  out.reserve(plain.size() * 3);
  const size_t n = plain.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = plain[i];
    if (IsHighSurrogate(cp) && i + 1 < n && IsLowSurrogate(plain[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (plain[i + 1] - 0xDC00);
      ++i;
    }
    if (i == 0 && cp == kByteOrderMark) continue;
    if (IsInvalidCodePoint(cp, kMaxCodePoint)) cp = kReplacementChar;
    AppendUtf8(out, cp);
  }
  return out;
}

Text AsciiToText(ByteView bytes) {
  Text out(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(bytes[i]);
    out[i] = c <= 0x7E ? c : kReplacementChar;
  }
  return out;
}

Text CodePointToUtf16(uint32_t cp) {
  Text out;
  AppendUtf16(out, cp > kMaxCodePoint ? kReplacementChar : cp);
  return out;
}

bool ConvertUtf16(TextView in, TUtf16Order inputOrder, bool pairInput, TUtf16Errors errors,
                  TUtf16Bom bom, TUtf16Order outputOrder, uint32_t maxOutput, Text& out) {
  out.clear();
  out.reserve(in.size() + 1);
  const bool swapIn = inputOrder == TUtf16Order::Swapped;
  const bool swapOut = outputOrder == TUtf16Order::Swapped;
  const auto unit = [&](size_t i) -> uint32_t { return swapIn ? Swap16(in[i]) : in[i]; };
  const auto emit = [&](uint32_t cp) {
    const size_t start = out.size();
    AppendUtf16(out, cp);
    if (swapOut)
      for (size_t k = start; k < out.size(); ++k) out[k] = Swap16(out[k]);
  };
  if (bom == TUtf16Bom::Add) emit(kByteOrderMark);
  const size_t n = in.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = unit(i);
    if (pairInput && IsHighSurrogate(cp) && i + 1 < n && IsLowSurrogate(unit(i + 1))) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    }
    if (cp == kByteOrderMark && i == 0 && bom == TUtf16Bom::Drop) continue;
    if (IsInvalidCodePoint(cp, maxOutput)) {
      if (errors == TUtf16Errors::Stop) return false;
      if (errors == TUtf16Errors::Skip) continue;
      cp = kReplacementChar;
    }
    emit(cp);
  }
  return true;
}

Bytes TextToWindows1252(TextView text) {
  // 0x80-0x9F; the five undefined bytes round-trip as their C1 controls, as on Windows.
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  Bytes out;
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char16_t ch = text[i];
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) {
      out.push_back(static_cast<char>(ch));
      continue;
    }
    char c = '?';
    for (int k = 0; k < 32; ++k) {
      if (kHigh[k] == ch) {
        c = static_cast<char>(0x80 + k);
        break;
      }
    }
    // A surrogate pair is one character and becomes one '?'.
    if (IsHighSurrogate(ch) && i + 1 < n && IsLowSurrogate(text[i + 1])) ++i;
    out.push_back(c);
  }
  return out;
}

// ---- Dates --------------------------------------------------------------------

Text PdfDateNow() {
  // Date and time come from one reading of the clock, so a save at midnight
  // cannot pair today's time with yesterday's date.
  const time_t now = time(nullptr);
  struct tm lt {};
  char buf[40];
  if (localtime_r(&now, &lt) == nullptr) {
    if (gmtime_r(&now, &lt) == nullptr) return u"D:19700101000000Z";
    lt.tm_gmtoff = 0;
  }
  int len = snprintf(buf, sizeof buf, "D:%04d%02d%02d%02d%02d%02d", lt.tm_year + 1900, lt.tm_mon + 1,
                     lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
  const long off = lt.tm_gmtoff;
  if (off == 0) {
    len += snprintf(buf + len, sizeof buf - len, "Z");
  } else {
    const long a = off < 0 ? -off : off;
    len += snprintf(buf + len, sizeof buf - len, "%c%02ld'%02ld'", off > 0 ? '+' : '-', (a / 3600) % 100,
                    (a / 60) % 60);
  }
  Text out;
  for (int i = 0; i < len; ++i) out.push_back(static_cast<char16_t>(buf[i]));
  return out;
}

// ---- Numbers ------------------------------------------------------------------

namespace {

// 10^18 is the largest power of ten an int64 holds.
constexpr int kFormatDecimalsMax = 18;

// Digits of `v` written backwards ending at `end`; returns the new start.
char* WriteDigitsBackwards(char* end, uint64_t v) {
  do {
    *--end = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  return end;
}

}  // namespace

Bytes FormatNumber(double value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > kFormatDecimalsMax) decimals = kFormatDecimalsMax;
  static constexpr uint64_t kPow10[kFormatDecimalsMax + 1] = {1ULL,
                                                               10ULL,
                                                               100ULL,
                                                               1000ULL,
                                                               10000ULL,
                                                               100000ULL,
                                                               1000000ULL,
                                                               10000000ULL,
                                                               100000000ULL,
                                                               1000000000ULL,
                                                               10000000000ULL,
                                                               100000000000ULL,
                                                               1000000000000ULL,
                                                               10000000000000ULL,
                                                               100000000000000ULL,
                                                               1000000000000000ULL,
                                                               10000000000000000ULL,
                                                               100000000000000000ULL,
                                                               1000000000000000000ULL};
  // Whole numbers (nearly every number in a file) need no rounding: their digits as they
  // are, as long as value x 10^decimals stays in range, which the general path checks.
  if (std::fabs(value) < 1e15 && value == std::trunc(value) &&
      std::fabs(value) < 9.2e18 / static_cast<double>(kPow10[decimals])) {
    const auto n = static_cast<int64_t>(value);
    if (n == 0) return "0";
    char buf[24];
    char* const end = buf + sizeof buf;
    char* p = WriteDigitsBackwards(end, n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n));
    if (n < 0) *--p = '-';
    return Bytes(p, end);
  }
  const long double scaled = static_cast<long double>(value) * static_cast<long double>(kPow10[decimals]);
  // Ties to even by hand, independent of the current rounding mode; x - floor(x) is exact.
  long double r = floorl(scaled);
  const long double frac = scaled - r;
  if (frac > 0.5L || (frac == 0.5L && fmodl(r, 2.0L) != 0.0L)) r += 1.0L;
  // NaN fails both comparisons.
  if (!(r >= -9223372036854775808.0L && r < 9223372036854775808.0L))
    throw EPDFError("Number too large to write: " + std::to_string(value));
  const int64_t n = static_cast<int64_t>(r);
  if (n == 0) return "0";
  const uint64_t mag = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  char buf[48];
  char* const end = buf + sizeof buf;
  char* p = end;
  if (decimals > 0) {
    uint64_t ip = mag / kPow10[decimals];
    uint64_t fp = mag % kPow10[decimals];
    if (fp != 0) {
      int d = decimals;
      while (fp % 10 == 0) {
        fp /= 10;
        --d;
      }
      for (int k = 0; k < d; ++k) {
        *--p = static_cast<char>('0' + fp % 10);
        fp /= 10;
      }
      *--p = '.';
    }
    p = WriteDigitsBackwards(p, ip);
  } else {
    p = WriteDigitsBackwards(p, mag);
  }
  if (n < 0) *--p = '-';
  return Bytes(p, end);
}

Bytes PadNumber(int64_t value, int width) {
  if (value < 0) return Bytes(width > 0 ? static_cast<size_t>(width) : 0, '0');
  char buf[24];
  char* const end = buf + sizeof buf;
  char* p = WriteDigitsBackwards(end, static_cast<uint64_t>(value));
  const size_t len = static_cast<size_t>(end - p);
  Bytes out;
  if (width > 0 && static_cast<size_t>(width) > len) out.assign(width - len, '0');
  out.append(p, end);
  return out;
}

bool IsDecimalText(ByteView s) {
  const Bytes t = Trim(s);
  bool point = false;
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (c == '.') {
      if (point) return false;
      point = true;
    } else if (c == '-') {
      // A sign only in front, and only one.
      if (i != 0) return false;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

namespace {

// Parses [+|-][$]digits into a value within [minValue, maxValue]; false otherwise.
bool ParseInteger(ByteView s, int64_t minValue, int64_t maxValue, int64_t& result) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < n && s[i] == '$') {
    base = 16;
    ++i;
  }
  if (i >= n) return false;
  // Magnitude limit: |min| for negatives, max for positives.
  const uint64_t limit = negative ? 0 - static_cast<uint64_t>(minValue) : static_cast<uint64_t>(maxValue);
  // mag * base + d > limit, decided without a division per digit.
  const uint64_t cutoff = limit / base;
  const unsigned cutDigit = static_cast<unsigned>(limit % base);
  uint64_t mag = 0;
  for (; i < n; ++i) {
    const char c = s[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    if (mag > cutoff || (mag == cutoff && d > cutDigit)) return false;
    mag = mag * base + d;
  }
  result = negative ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
  return true;
}

}  // namespace

int32_t ToInt(ByteView s, int32_t def) {
  int64_t v;
  return ParseInteger(s, INT32_MIN, INT32_MAX, v) ? static_cast<int32_t>(v) : def;
}

int64_t ToInt64(ByteView s, int64_t def) {
  int64_t v;
  return ParseInteger(s, INT64_MIN, INT64_MAX, v) ? v : def;
}

Bytes ToHex(uint64_t value, int digits) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char buf[16];
  int len = 0;
  do {
    buf[len++] = kHex[value & 0xF];
    value >>= 4;
  } while (value != 0);
  Bytes out;
  if (digits > len) out.assign(digits - len, '0');
  while (len > 0) out.push_back(buf[--len]);
  return out;
}

Bytes IntToText(int64_t value) {
  char buf[24];
  char* const end = buf + sizeof buf;
  const uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char* p = WriteDigitsBackwards(end, mag);
  if (value < 0) *--p = '-';
  return Bytes(p, end);
}

// ---- Byte-string utilities ----------------------------------------------------

size_t Pos(ByteView sub, ByteView s, size_t from) {
  if (sub.empty()) return 0;
  if (from == 0) from = 1;
  if (from > s.size()) return 0;
  const size_t p = s.find(sub, from - 1);
  return p == ByteView::npos ? 0 : p + 1;
}

Bytes Trim(ByteView s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSpace(s[b])) ++b;
  while (e > b && IsSpace(s[e - 1])) --e;
  return Bytes(s.substr(b, e - b));
}

Bytes Copy(ByteView s, int64_t start, int64_t count) {
  if (start < 1) start = 1;
  if (count <= 0 || static_cast<uint64_t>(start) > s.size()) return Bytes();
  const size_t from = static_cast<size_t>(start - 1);
  const size_t avail = s.size() - from;
  const size_t take = static_cast<uint64_t>(count) < avail ? static_cast<size_t>(count) : avail;
  return Bytes(s.substr(from, take));
}

bool StartsWith(ByteView s, ByteView prefix) { return s.substr(0, prefix.size()) == prefix; }

bool EndsWith(ByteView s, ByteView suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

Bytes UpperCase(ByteView s) {
  Bytes out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

Bytes Replace(ByteView s, ByteView oldPattern, ByteView newPattern, unsigned flags) {
  if (oldPattern.empty()) return Bytes(s);
  const bool all = (flags & rfReplaceAll) != 0;
  const bool ignoreCase = (flags & rfIgnoreCase) != 0;
  Bytes hay, needle;
  ByteView h = s, nd = oldPattern;
  if (ignoreCase) {
    hay = UpperCase(s);
    needle = UpperCase(oldPattern);
    h = hay;
    nd = needle;
  }
  Bytes out;
  out.reserve(s.size());
  size_t i = 0;
  while (i <= s.size()) {
    const size_t p = h.find(nd, i);
    if (p == ByteView::npos) break;
    out.append(s.substr(i, p - i));
    out.append(newPattern);
    i = p + oldPattern.size();
    if (!all) break;
  }
  out.append(s.substr(i));
  return out;
}

// Linux has no system-wide collation for arbitrary bytes that matches the
// Windows one; both orders are plain byte order, the case-free one after
// folding ASCII letters. That is consistent, which is all sorting needs.
int CompareCase(ByteView a, ByteView b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareNoCase(ByteView a, ByteView b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = AsciiLower(static_cast<unsigned char>(a[i]));
    const unsigned char y = AsciiLower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace pagelume
