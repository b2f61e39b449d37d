#include "engine/facade/MarlockPDFLibraryPropertyText.h"

#include <cstdio>

#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

constexpr int64_t kKiB = 1024;
constexpr int64_t kMiB = kKiB * 1024;
constexpr int64_t kGiB = kMiB * 1024;
constexpr size_t kDateDigits = 14;
constexpr size_t kYearDigits = 4;
// Month and day default to 01, the time to 00:00:00.
constexpr char16_t kDateDefaults[] = u"00000101000000";

// Two decimals, ',' between thousands.
Bytes Grouped(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  Bytes plain(buffer);
  size_t point = plain.find('.');
  Bytes whole = plain.substr(0, point), out;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += ',';
    out += whole[i];
  }
  return out + plain.substr(point);
}

}  // namespace

Text FileSizeText(int64_t bytes) {
  if (bytes < kKiB) return AsciiToText(IntToText(bytes) + "B");
  if (bytes < kMiB) return AsciiToText(Grouped(double(bytes) / kKiB) + " KB");
  if (bytes < kGiB) return AsciiToText(Grouped(double(bytes) / kMiB) + " MB");
  return AsciiToText(Grouped(double(bytes) / kGiB) + " GB");
}

Text DateDisplayText(TextView stored) {
  TextView s = stored;
  if (s.size() >= 2 && s[0] == u'D' && s[1] == u':') s.remove_prefix(2);
  Text digits;
  while (digits.size() < kDateDigits && digits.size() < s.size() && s[digits.size()] >= u'0' &&
         s[digits.size()] <= u'9')
    digits += s[digits.size()];
  if (digits.size() < kYearDigits) return Text(stored);
  digits += TextView(kDateDefaults).substr(digits.size());
  Text out;
  for (size_t i = 0; i < kDateDigits; ++i) {
    if (i == 4 || i == 6) out += u'/';
    if (i == 8) out += u' ';
    if (i == 10 || i == 12) out += u':';
    out += digits[i];
  }
  return out;
}

Text PagesText(TextView pageCount) { return Text(pageCount) + u" pages"; }

Text EncryptionText(TextView encrypted, TextView kindCode) {
  if (encrypted != u"1") return u"Not encrypted";
  if (kindCode == u"7") return u"40-bit RC4 (Acrobat 3.x, 4.x)";
  if (kindCode == u"8") return u"128-bit RC4 (Acrobat 5.x)";
  if (kindCode == u"12") return u"128-bit AES (Acrobat 7)";
  if (kindCode == u"13") return u"256-bit AES (Acrobat 9)";
  if (kindCode == u"15") return u"256-bit AES (Acrobat X)";
  return u"n/a";
}

}  // namespace pagelume
