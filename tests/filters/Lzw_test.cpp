// LZW decoding: hand-packed code sequences for the table rules (clear, early change,
// codes beyond the next free one, a full table), the TIFF predictor, the cap, and
// data encoded by Ghostscript's LZWEncode filter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/filters/MarlockPDFLibraryLZW.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

using test::HaveTool;
using test::ReadWholeFile;
using test::RunCommand;
using test::ShellQuote;
using test::TempFile;

constexpr uint32_t kClear = 256, kEnd = 257;

// Codes of the given widths, packed most significant bit first.
Bytes Pack(const std::vector<std::pair<uint32_t, int>>& codes) {
  Bytes out;
  uint64_t acc = 0;
  int bits = 0;
  for (auto [code, width] : codes) {
    acc = acc << width | code;
    bits += width;
    while (bits >= 8) {
      out.push_back(char(acc >> (bits - 8)));
      bits -= 8;
    }
  }
  if (bits > 0) out.push_back(char(acc << (8 - bits)));
  return out;
}

Bytes Pack9(const std::vector<uint32_t>& codes) {
  std::vector<std::pair<uint32_t, int>> sized;
  for (uint32_t c : codes) sized.push_back({c, 9});
  return Pack(sized);
}

// Literal codes after a clear, each at the width the decoder expects: every literal
// after the first defines one table entry, and the width grows after the entry at
// the growth point.
std::vector<std::pair<uint32_t, int>> Literals(const Bytes& text, bool earlyChange) {
  std::vector<std::pair<uint32_t, int>> codes = {{kClear, 9}};
  int width = 9;
  uint32_t next = 258;
  for (size_t i = 0; i < text.size(); ++i) {
    codes.push_back({uint8_t(text[i]), width});
    if (i == 0) continue;
    if (next == (1u << width) - (earlyChange ? 2 : 1) && width < 12) ++width;
    if (next < 4095) ++next;
  }
  return codes;
}

Bytes Decode(const Bytes& data, bool earlyChange = true, TPDFLZWParams params = {},
             size_t cap = kDefaultOutputCap) {
  TPDFLZWDecompressor lzw;
  lzw.EarlyChange = earlyChange;
  return lzw.Decode(data, params, cap);
}

TEST(Lzw, CodeSequences) {
  struct Case {
    const char* name;
    std::vector<uint32_t> codes;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"code being defined, then known", {kClear, 45, 258, 258, 65, 259, 66, kEnd}, "-----A---B"},
      {"no leading clear", {45, 258, 258, 65, 259, 66, kEnd}, "-----A---B"},
      {"clear restarts the table at the end code's slot",
       {kClear, 'a', 'b', 258, kClear, 'c', 'd', 258, kEnd}, "ababcdcd"},
      {"a code beyond the next one counts as the one being defined",
       {kClear, 'A', 300, 'B', 259, kEnd}, "AAABB"},
      {"end code first", {kEnd, 'a'}, ""},
      {"clear then end", {kClear, kEnd}, ""},
      {"data after the end code is ignored", {'x', kEnd, 'y', 'z'}, "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(Pack9(c.codes)), c.expected) << c.name;
  EXPECT_EQ(Decode(""), "");
}

TEST(Lzw, StreamWithoutEndCodeStopsAtItsLastWholeCode) {
  // 18 bits of codes in 3 bytes: the 6 padding bits are not a code, nor are they
  // completed with zeros from beyond the end.
  EXPECT_EQ(Decode(Pack9({'-', 'B'})), "-B");
  EXPECT_EQ(Decode(Pack9({kClear, 45, 258, 258})), "-----");
  Bytes exact = Pack9({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});  // 72 bits, no padding
  ASSERT_EQ(exact.size(), 9u);
  EXPECT_EQ(Decode(exact), "abcdefgh");
}

TEST(Lzw, CodeWidthGrowsOneCodeLaterWithoutEarlyChange) {
  Bytes text;
  for (int i = 0; i < 300; ++i) text.push_back(char('a' + i % 26));
  for (bool early : {true, false}) {
    auto codes = Literals(text, early);
    // Width at the 255th literal: 10 bits with early change, still 9 without.
    EXPECT_EQ(codes[255].second, early ? 10 : 9);
    EXPECT_EQ(codes[254].second, 9);
    codes.push_back({kEnd, codes.back().second});
    const Bytes data = Pack(codes);
    EXPECT_EQ(Decode(data, early), text) << "early change " << early;
    EXPECT_NE(Decode(data, !early), text) << "read with the other rule, early change " << early;
  }
}

TEST(Lzw, FullTableKeepsRedefiningItsLastCode) {
  // 4000 literals fill the table (entries 258..4095); each code 4095 after that is the
  // entry being defined, so it grows by one byte each time: 2, 3, 4, ... bytes.
  auto codes = Literals(Bytes(4000, 'x'), true);
  ASSERT_EQ(codes.back().second, 12);
  const int repeats = 300;
  for (int i = 0; i < repeats; ++i) codes.push_back({4095, 12});
  codes.push_back({kEnd, 12});
  const Bytes data = Pack(codes);
  const size_t expected = 4000 + size_t(repeats) * (repeats + 3) / 2;
  Bytes got = Decode(data);
  EXPECT_EQ(got.size(), expected);
  EXPECT_EQ(got.find_first_not_of('x'), Bytes::npos);

  // That growth is quadratic in the input; the cap ends it.
  for (int i = 0; i < 20000; ++i) codes.insert(codes.end() - 1, {4095, 12});
  got = Decode(Pack(codes), true, {}, size_t(5) << 20);
  EXPECT_EQ(got.size(), size_t(5) << 20);
}

TEST(Lzw, OtherBitOrder) {
  Bytes data = Pack9({kClear, 45, 258, 258, 65, 259, 66, kEnd});
  for (char& c : data) {
    uint8_t b = uint8_t(c), r = 0;
    for (int i = 0; i < 8; ++i) r = uint8_t(r | ((b >> i & 1) << (7 - i)));
    c = char(r);
  }
  TPDFLZWDecompressor lzw;
  lzw.FillOrderMsbFirst = false;
  EXPECT_EQ(lzw.Decode(data, {}), "-----A---B");
}

TEST(Lzw, TiffPredictor) {
  auto params = [](int32_t predictor, int32_t colors, int32_t columns) {
    TPDFLZWParams p;
    p.Predictor = predictor;
    p.Colors = colors;
    p.Columns = columns;
    return p;
  };
  const Bytes data = Pack9({0x10, 0x20, 0x30, 1, 2, 3, 5, 5, kEnd});
  EXPECT_EQ(Decode(data, true, params(2, 3, 2)), "\x10\x20\x30\x11\x22\x33\x05\x05");
  EXPECT_EQ(Decode(data, true, params(2, 1, 4)), "\x10\x30\x60\x61\x02\x05\x0A\x0F");
  EXPECT_EQ(Decode(data, true, params(12, 1, 2)), "\x10\x20\x30\x01\x02\x03\x05\x05");
  for (auto [colors, columns] : {std::pair{0, 4}, {3, 0}, {-1, -4}, {1, -1}})
    EXPECT_THROW(Decode(data, true, params(2, colors, columns)), EPDFError) << colors << " " << columns;
  EXPECT_EQ(Decode(data, true, params(2, 1000000, 2000000)), "\x10\x20\x30\x01\x02\x03\x05\x05");
}

TEST(Lzw, CapAndArbitraryBytes) {
  EXPECT_EQ(Decode(Pack9({kClear, 45, 258, 258, 65, 259, 66, kEnd}), true, {}, 4), "----");
  // Whatever the bytes, decoding ends, within the cap.
  uint32_t seed = 1;
  for (int round = 0; round < 300; ++round) {
    Bytes junk(size_t(round * 37 % 5000), '\0');
    for (char& c : junk) {
      seed = seed * 1103515245u + 12345u;
      c = char(seed >> 24);
    }
    EXPECT_LE(Decode(junk, round % 2 == 0, {}, 100000).size(), 100000u);
  }
}

// ---- Against Ghostscript's LZWEncode -----------------------------------------

TEST(LzwOracle, GhostscriptEncodedDataRoundTrips) {
  if (!HaveTool("gs")) GTEST_SKIP() << "needs gs";
  // Word-like text: compresses, fills the table many times (clear codes), and
  // makes enough codes for the decoder to drop dead table strings along the way.
  Bytes text;
  uint32_t seed = 42;
  const char* words[] = {"pagelume ", "stream ", "filter ", "LZW ", "decode ", "table ", "code ", "\n"};
  while (text.size() < 600000) {
    seed = seed * 1103515245u + 12345u;
    text += words[seed >> 29];
    if ((seed >> 20) % 7 == 0) text += char('A' + (seed >> 8) % 26);
  }
  TempFile in(text, ".txt");
  for (bool early : {true, false}) {
    TempFile out(""), ps("", ".ps");
    Bytes program = "/in (" + in.Path() + ") (r) file def\n/out (" + out.Path() + ") (w) file << /EarlyChange " +
                    (early ? "1" : "0") +
                    " >> /LZWEncode filter def\n/buf 65536 string def\n"
                    "{ in buf readstring exch out exch writestring not { exit } if } loop out closefile\n";
    TempFile script(program, ".ps");
    auto r = RunCommand("gs -q -dNOSAFER -dBATCH -dNODISPLAY " + ShellQuote(script.Path()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    Bytes encoded = ReadWholeFile(out.Path());
    ASSERT_LT(encoded.size(), text.size() / 2) << "gs should compress";
    Bytes got = Decode(encoded, early);
    EXPECT_EQ(got.size(), text.size()) << "early change " << early;
    EXPECT_TRUE(got == text) << "early change " << early;
  }
}

}  // namespace
}  // namespace pagelume
