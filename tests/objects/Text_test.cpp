#include "engine/objects/MarlockPDFLibraryText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

namespace pagelume {
namespace {

Bytes B(std::initializer_list<int> bytes) {
  Bytes out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

std::string Hex(ByteView b) {
  std::string out;
  char buf[4];
  for (unsigned char c : b) {
    snprintf(buf, sizeof buf, "%02X ", c);
    out += buf;
  }
  return out;
}

std::string Units(TextView t) {
  std::string out;
  char buf[8];
  for (char16_t u : t) {
    snprintf(buf, sizeof buf, "%04X ", static_cast<unsigned>(u));
    out += buf;
  }
  return out;
}

// ---- PDFDocEncoding -----------------------------------------------------------

TEST(PdfDocEncoding, CodeLookupFollowsFirstMatchRules) {
  struct Case {
    char16_t ch;
    int code;
  } cases[] = {
      {u'A', 0x41},    {0x2022, 0x80},  {0x20AC, 0xA0}, {0x0141, 0x95}, {0x2013, 0x85},
      {0xFFFD, 0x7F},  // undefined codes 7F, 9F and AD all mean U+FFFD: the lowest wins
      {0x0017, 0x17},  // both 16 and 17 mean U+0017: the code's own low byte wins
      {0x0016, -1},    {0x00A0, -1},    {0x00AD, -1},   {0x0080, -1},   {0x4E2D, -1},
      {0x0117, -1},  // low byte 17 holds U+0017, not U+0117
  };
  for (const Case& c : cases) EXPECT_EQ(PdfDocCode(c.ch), c.code) << std::hex << unsigned(c.ch);
}

TEST(PdfDocEncoding, EveryByteRoundTripsThroughItsCharacter) {
  for (int code = 0; code < 256; ++code) {
    const char16_t ch = PdfDocChar(static_cast<uint8_t>(code));
    const int back = PdfDocCode(ch);
    ASSERT_GE(back, 0) << code;
    EXPECT_EQ(PdfDocChar(static_cast<uint8_t>(back)), ch) << code;
  }
  EXPECT_EQ(PdfDocChar(0x16), 0x0017);
  EXPECT_EQ(PdfDocChar(0x9F), 0xFFFD);
  EXPECT_EQ(PdfDocChar(0xAD), 0xFFFD);
  EXPECT_EQ(PdfDocChar(0xA0), 0x20AC);
  EXPECT_EQ(PdfDocChar(0xFF), 0x00FF);
}

// ---- Text strings ---------------------------------------------------------------

TEST(TextString, Encode) {
  struct Case {
    const char* name;
    Text text;
    bool force;
    Bytes expected;
  } cases[] = {
      {"empty", u"", false, ""},
      {"empty forced", u"", true, ""},
      {"pdfdoc", u"Report \u2013 2024", false,
       B({'R', 'e', 'p', 'o', 'r', 't', ' ', 0x85, ' ', '2', '0', '2', '4'})},
      {"forced", u"abc", true, B({0xFE, 0xFF, 0, 'a', 0, 'b', 0, 'c'})},
      {"one char outside makes all unicode", u"a\u4E2D", false, B({0xFE, 0xFF, 0, 'a', 0x4E, 0x2D})},
      {"replacement char in pdfdoc", u"x\uFFFD", false, B({'x', 0x7F})},
      {"surrogate pair", u"\U0001F600", false, B({0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00})},
      {"unpaired surrogate", Text(1, char16_t(0xD800)), false, B({0xFE, 0xFF, 0xFF, 0xFD})},
      {"length tag stripped", Text{char16_t(0xE703), char16_t(0xF800)} + u"abcdef", false, "abc"},
  };
  for (const Case& c : cases) EXPECT_EQ(Hex(EncodeTextString(c.text, c.force)), Hex(c.expected)) << c.name;
}

TEST(TextString, Decode) {
  struct Case {
    const char* name;
    Bytes bytes;
    Text expected;
  } cases[] = {
      {"empty", "", u""},
      {"bom only", B({0xFE, 0xFF}), u""},
      {"utf16be", B({0xFE, 0xFF, 0x00, 0x41}), u"A"},
      {"odd count pads a low zero", B({0xFE, 0xFF, 0x00, 0x41, 0x42}), u"A\u4200"},
      {"unpaired high surrogate", B({0xFE, 0xFF, 0xD8, 0x00}), u"\uFFFD"},
      {"pair", B({0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00}), u"\U0001F600"},
      {"noncharacter", B({0xFE, 0xFF, 0xFF, 0xFE, 0x00, 0x41}), u"\uFFFDA"},
      {"utf16le copied", B({0xFF, 0xFE, 0x41, 0x00}), u"A"},
      {"utf16le odd byte ignored", B({0xFF, 0xFE, 0x41, 0x00, 0x42}), u"A"},
      {"utf16le unvalidated", B({0xFF, 0xFE, 0x00, 0xD8}), Text(1, char16_t(0xD800))},
      {"pdfdoc bullet", B({0x80}), u"\u2022"},
      {"pdfdoc 16", B({0x16}), u"\u0017"},
      {"single FE", B({0xFE}), u"\u00FE"},
      {"pdfdoc mix", B({'a', 0x85, 0xA0, 0xAD}), u"a\u2013\u20AC\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(Units(DecodeTextString(c.bytes)), Units(c.expected)) << c.name;
}

TEST(TextString, DecodeOfEncodeKeepsValidText) {
  const Text texts[] = {u"Title", u"Report \u2013 2024", u"\u4E2D\u6587", u"caf\u00E9 \U0001F600 \u20AC",
                        u"\uFEFFstarts with a mark", u"\u0017\u02D8"};
  for (const Text& t : texts) {
    EXPECT_EQ(Units(DecodeTextString(EncodeTextString(t, false))), Units(t));
    EXPECT_EQ(Units(DecodeTextString(EncodeTextString(t, true))), Units(t));
  }
}

TEST(TextString, StripLengthTag) {
  const Text tagged3 = Text{char16_t(0xE703), char16_t(0xF800)} + u"abcdef";
  EXPECT_EQ(StripLengthTag(tagged3), u"abc");
  // The length is longer than the text: the whole rest.
  EXPECT_EQ(StripLengthTag(Text{char16_t(0xE710), char16_t(0xF800)} + u"ab"), u"ab");
  // The second unit carries the high byte of the length (0x0102 = 258).
  const Text longText(300, u'x');
  EXPECT_EQ(StripLengthTag(Text{char16_t(0xE702), char16_t(0xF801)} + longText).size(), 258u);
  EXPECT_EQ(StripLengthTag(u"plain"), u"plain");
  EXPECT_EQ(StripLengthTag(Text{char16_t(0xE703)}), Text{char16_t(0xE703)});
  EXPECT_EQ(TextToUtf8(tagged3), "abc");
}

// ---- UTF-8 ----------------------------------------------------------------------

TEST(Utf8, ToText) {
  struct Case {
    const char* name;
    Bytes bytes;
    Text expected;
  } cases[] = {
      {"ascii", "Abc", u"Abc"},
      {"leading bom dropped", B({0xEF, 0xBB, 0xBF, 'A'}), u"A"},
      {"inner bom kept", B({'A', 0xEF, 0xBB, 0xBF}), u"A\uFEFF"},
      {"two bytes", B({0xC3, 0xA9}), u"\u00E9"},
      {"three bytes", B({0xE4, 0xB8, 0xAD}), u"\u4E2D"},
      {"four bytes", B({0xF0, 0x9F, 0x98, 0x80}), u"\U0001F600"},
      {"max", B({0xF4, 0x8F, 0xBF, 0xBD}), u"\U0010FFFD"},
      {"overlong C0", B({0xC0, 0x80}), u"\uFFFD\uFFFD"},
      {"overlong E0", B({0xE0, 0x80, 0x80}), u"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate", B({0xED, 0xA0, 0x80}), u"\uFFFD\uFFFD\uFFFD"},
      {"above 10FFFF", B({0xF4, 0x90, 0x80, 0x80}), u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"truncated then ascii", B({0xE2, 0x82, 'A'}), u"\uFFFDA"},
      {"truncated at end", B({'A', 0xF0, 0x9F, 0x98}), u"A\uFFFD"},
      {"stray continuation", B({0x80, 'x'}), u"\uFFFDx"},
      {"F5 lead", B({0xF5, 0x80}), u"\uFFFD\uFFFD"},
      {"noncharacter FFFE", B({0xEF, 0xBF, 0xBE}), u"\uFFFD"},
      {"noncharacter FDD0", B({0xEF, 0xB7, 0x90}), u"\uFFFD"},
      {"nul kept", B({'a', 0, 'b'}), Text(u"a\0b", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(Units(Utf8ToText(c.bytes)), Units(c.expected)) << c.name;
}

TEST(Utf8, FromText) {
  struct Case {
    const char* name;
    Text text;
    Bytes expected;
  } cases[] = {
      {"ascii", u"Abc", "Abc"},
      {"leading bom dropped", u"\uFEFFA", "A"},
      {"two three four", u"\u00E9\u4E2D\U0001F600",
       B({0xC3, 0xA9, 0xE4, 0xB8, 0xAD, 0xF0, 0x9F, 0x98, 0x80})},
      {"lone high", Text{char16_t(0xD83D), u'a'}, B({0xEF, 0xBF, 0xBD, 'a'})},
      {"lone low", Text{u'a', char16_t(0xDE00)}, B({'a', 0xEF, 0xBF, 0xBD})},
      {"reversed pair", Text{char16_t(0xDE00), char16_t(0xD83D)}, B({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD})},
  };
  for (const Case& c : cases) EXPECT_EQ(Hex(TextToUtf8(c.text)), Hex(c.expected)) << c.name;
  const Text sample = u"Stra\u00DFe \u4E2D \U0001F600 \u20AC";
  EXPECT_EQ(Utf8ToText(TextToUtf8(sample)), sample);
}

TEST(Utf16, ConvertPolicies) {
  const Text bad{u'a', char16_t(0xD800), u'b', char16_t(0xFDD0), u'c'};
  Text out;
  EXPECT_FALSE(ConvertUtf16(bad, TUtf16Order::Native, true, TUtf16Errors::Stop, TUtf16Bom::Keep,
                            TUtf16Order::Native, 0x10FFFF, out));
  EXPECT_EQ(out, u"a");
  EXPECT_TRUE(ConvertUtf16(bad, TUtf16Order::Native, true, TUtf16Errors::Skip, TUtf16Bom::Keep,
                           TUtf16Order::Native, 0x10FFFF, out));
  EXPECT_EQ(out, u"abc");
  EXPECT_TRUE(ConvertUtf16(bad, TUtf16Order::Native, true, TUtf16Errors::Replace, TUtf16Bom::Keep,
                           TUtf16Order::Native, 0x10FFFF, out));
  EXPECT_EQ(out, u"a\uFFFDb\uFFFDc");

  // Swapped input and output; a BOM added in the output's order.
  const Text swapped{char16_t(0x4100), char16_t(0x3DD8), char16_t(0x00DE)};  // "A" U+1F600, swapped
  EXPECT_TRUE(ConvertUtf16(swapped, TUtf16Order::Swapped, true, TUtf16Errors::Replace, TUtf16Bom::Add,
                           TUtf16Order::Native, 0x10FFFF, out));
  EXPECT_EQ(out, u"\uFEFFA\U0001F600");
  EXPECT_TRUE(ConvertUtf16(u"\uFEFFA", TUtf16Order::Native, true, TUtf16Errors::Replace, TUtf16Bom::Drop,
                           TUtf16Order::Swapped, 0x10FFFF, out));
  EXPECT_EQ(out, Text{char16_t(0x4100)});

  // A BMP-only output and unpaired input treat the pair as invalid.
  EXPECT_TRUE(ConvertUtf16(u"x\U0001F600", TUtf16Order::Native, true, TUtf16Errors::Replace, TUtf16Bom::Keep,
                           TUtf16Order::Native, 0xFFFF, out));
  EXPECT_EQ(out, u"x\uFFFD");
  EXPECT_TRUE(ConvertUtf16(u"\U0001F600", TUtf16Order::Native, false, TUtf16Errors::Replace,
                           TUtf16Bom::Keep, TUtf16Order::Native, 0x10FFFF, out));
  EXPECT_EQ(out, u"\uFFFD\uFFFD");
}

TEST(Utf16, SmallConverters) {
  EXPECT_EQ(AsciiToText(B({'A', 0x7E, 0x7F, 0xFF, 0})), Text(u"A~\uFFFD\uFFFD\0", 5));
  EXPECT_EQ(CodePointToUtf16(0x41), u"A");
  EXPECT_EQ(CodePointToUtf16(0xFFFF), Text{char16_t(0xFFFF)});
  EXPECT_EQ(CodePointToUtf16(0x1F600), u"\U0001F600");
  EXPECT_EQ(CodePointToUtf16(0x110000), u"\uFFFD");
}

TEST(Windows1252, PasswordBytes) {
  EXPECT_EQ(Hex(TextToWindows1252(u"a\u00E9\u00FF\u20AC\u2019\u0178")),
            Hex(B({'a', 0xE9, 0xFF, 0x80, 0x92, 0x9F})));
  EXPECT_EQ(Hex(TextToWindows1252(u"\u0081\u0080\u4E2D\U0001F600z")), Hex(B({0x81, '?', '?', '?', 'z'})));
}

// ---- Dates ------------------------------------------------------------------------

class PdfDateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    hadTz_ = tz != nullptr;
    if (hadTz_) oldTz_ = tz;
  }
  void TearDown() override {
    if (hadTz_)
      setenv("TZ", oldTz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  static std::string Now(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
    const Text t = PdfDateNow();
    return std::string(t.begin(), t.end());
  }
  bool hadTz_ = false;
  std::string oldTz_;
};

// D: + 14 digits + Z or a sign with hh'mm'.
bool HasPdfDateShape(const std::string& d) {
  if (d.size() < 17 || d.compare(0, 2, "D:") != 0) return false;
  for (size_t i = 2; i < 16; ++i)
    if (d[i] < '0' || d[i] > '9') return false;
  if (d.size() == 17) return d[16] == 'Z';
  return d.size() == 23 && (d[16] == '+' || d[16] == '-') && d[19] == '\'' && d[22] == '\'';
}

TEST_F(PdfDateTest, ZoneSuffix) {
  const struct {
    const char* tz;
    const char* suffix;
  } cases[] = {{"UTC0", "Z"}, {"EST5", "-05'00'"}, {"IST-5:30", "+05'30'"}, {"XXX+3:45", "-03'45'"}};
  for (const auto& c : cases) {
    const std::string d = Now(c.tz);
    EXPECT_TRUE(HasPdfDateShape(d)) << d;
    EXPECT_EQ(d.substr(16), c.suffix) << c.tz;
  }
}

TEST_F(PdfDateTest, MatchesTheClock) {
  const std::string d = Now("UTC0");
  const time_t now = time(nullptr);
  struct tm g {};
  gmtime_r(&now, &g);
  char year[16];
  snprintf(year, sizeof year, "%04d", g.tm_year + 1900);
  EXPECT_EQ(d.substr(2, 4), year);
}

// ---- Numbers ----------------------------------------------------------------------

TEST(Numbers, FormatNumber) {
  struct Case {
    double value;
    int decimals;
    const char* expected;
  } cases[] = {
      {3, 4, "3"},           {1.5, 4, "1.5"},        {0.25, 4, "0.25"},       {-0.5, 4, "-0.5"},
      {12.34567, 4, "12.3457"}, {0.00004, 4, "0"},   {-0.00001, 4, "0"},      {612, 4, "612"},
      {0, 4, "0"},           {-0.0, 4, "0"},         {-612.75, 4, "-612.75"}, {100, 2, "100"},
      {0.1, 4, "0.1"},       {1e-4, 4, "0.0001"},    {-1.0001, 4, "-1.0001"},
      // ties go to the even neighbour
      {0.5, 0, "0"},         {1.5, 0, "2"},          {2.5, 0, "2"},           {-2.5, 0, "-2"},
      {0.125, 2, "0.12"},    {0.375, 2, "0.38"},     {-0.125, 2, "-0.12"},    {2.5, -3, "2"},
      {920000000000000.0, 4, "920000000000000"},     {-9223372036854775808.0, 0, "-9223372036854775808"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatNumber(c.value, c.decimals), c.expected) << c.value;
}

TEST(Numbers, FormatNumberRejectsWhatDoesNotFit) {
  const double bad[] = {1e15, -1e16, 9223372036854775808.0, std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                        1e300};
  for (double v : bad) EXPECT_THROW(FormatNumber(v, 4), EPDFError) << v;
  EXPECT_THROW(FormatNumber(9223372036854775808.0, 0), EPDFError);
}

TEST(Numbers, PadAndHexAndIntText) {
  EXPECT_EQ(PadNumber(123, 10), "0000000123");
  EXPECT_EQ(PadNumber(-5, 3), "000");
  EXPECT_EQ(PadNumber(123456, 3), "123456");
  EXPECT_EQ(PadNumber(0, 5), "00000");
  EXPECT_EQ(PadNumber(-1, 0), "");
  EXPECT_EQ(ToHex(0, 0), "0");
  EXPECT_EQ(ToHex(0xABC, 6), "000ABC");
  EXPECT_EQ(ToHex(UINT64_MAX, 2), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(-42), "-42");
  EXPECT_EQ(IntToText(INT64_MIN), "-9223372036854775808");
}

TEST(Numbers, IsDecimalText) {
  const struct {
    const char* s;
    bool expected;
  } cases[] = {{"1.5", true},  {"", true},     {"  12 ", true}, {"-3.25", true}, {".5", true},
               {"1.5.", false}, {"2-", false}, {"1e5", false},  {"--1", false},  {"-1-2", false},
               {"1 2", false}};
  for (const auto& c : cases) EXPECT_EQ(IsDecimalText(c.s), c.expected) << '"' << c.s << '"';
}

TEST(Numbers, ToIntAndToInt64) {
  const struct {
    const char* s;
    int32_t expected;
  } ints[] = {{"42", 42},          {"-42", -42},         {"+7", 7},          {"$1F", 31},
              {"-$10", -16},       {"$ff", 255},         {"2147483647", 2147483647},
              {"-2147483648", INT32_MIN},                {"2147483648", -1}, {"-2147483649", -1},
              {"", -1},            {"-", -1},            {"$", -1},          {"12a", -1},
              {"1.0", -1},         {"$G", -1},           {"99999999999999999999", -1}};
  for (const auto& c : ints) EXPECT_EQ(ToInt(c.s, -1), c.expected) << c.s;
  EXPECT_EQ(ToInt64("9223372036854775807", 0), INT64_MAX);
  EXPECT_EQ(ToInt64("-9223372036854775808", 0), INT64_MIN);
  EXPECT_EQ(ToInt64("9223372036854775808", 5), 5);
  EXPECT_EQ(ToInt64("$7FFFFFFFFFFFFFFF", 0), INT64_MAX);
  EXPECT_EQ(ToInt64("$8000000000000000", 5), 5);
  EXPECT_EQ(ToInt64("4294967296", 0), 4294967296LL);
}

// ---- Byte-string utilities ----------------------------------------------------------

TEST(ByteStrings, PosCopyTrim) {
  EXPECT_EQ(Pos("b", "abcb"), 2u);
  EXPECT_EQ(Pos("b", "abcb", 3), 4u);
  EXPECT_EQ(Pos("b", "abcb", 5), 0u);
  EXPECT_EQ(Pos("", "abc"), 0u);
  EXPECT_EQ(Pos("x", "abc"), 0u);
  EXPECT_EQ(Pos("abcd", "abc"), 0u);
  EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
  EXPECT_EQ(Copy("abcdef", 5, 100), "ef");
  EXPECT_EQ(Copy("abcdef", 0, 2), "ab");
  EXPECT_EQ(Copy("abcdef", 7, 1), "");
  EXPECT_EQ(Copy("abcdef", 2, -1), "");
  EXPECT_EQ(Copy("abcdef", INT64_MAX, INT64_MAX), "");
  EXPECT_EQ(Trim(Bytes("\t\r\n a b \0", 9)), "a b");
  EXPECT_EQ(Trim("   "), "");
}

TEST(ByteStrings, CaseAndReplace) {
  EXPECT_TRUE(StartsWith("%PDF-1.7", "%PDF-"));
  EXPECT_FALSE(StartsWith("%PD", "%PDF-"));
  EXPECT_TRUE(EndsWith("file.pdf", ".pdf"));
  EXPECT_FALSE(EndsWith("file.PDF", ".pdf"));
  EXPECT_EQ(UpperCase("ab\xE9z1"), "AB\xE9Z1");
  const struct {
    const char* s;
    const char* from;
    const char* to;
    unsigned flags;
    const char* expected;
  } cases[] = {
      {"a-b-c", "-", "+", rfNone, "a+b-c"},
      {"a-b-c", "-", "+", rfReplaceAll, "a+b+c"},
      {"aXbxc", "x", "", rfReplaceAll | rfIgnoreCase, "abc"},
      {"aXbxc", "x", "", rfReplaceAll, "aXbc"},
      {"aaa", "aa", "b", rfReplaceAll, "ba"},
      {"abc", "", "z", rfReplaceAll, "abc"},
      {"abc", "abc", "abcabc", rfReplaceAll, "abcabc"},
  };
  for (const auto& c : cases) EXPECT_EQ(Replace(c.s, c.from, c.to, c.flags), c.expected) << c.s;
}

TEST(ByteStrings, Compare) {
  EXPECT_EQ(CompareNoCase("Title", "TITLE"), 0);
  EXPECT_LT(CompareNoCase("apple", "Banana"), 0);
  EXPECT_LT(CompareNoCase("ab", "ABC"), 0);
  EXPECT_NE(CompareCase("Title", "TITLE"), 0);
  EXPECT_EQ(CompareCase("x", "x"), 0);
  EXPECT_LT(CompareCase("B", "a"), 0);
  EXPECT_GT(CompareCase(Bytes("a\0b", 3), "a"), 0);
}

}  // namespace
}  // namespace pagelume
