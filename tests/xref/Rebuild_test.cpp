// Reconstruction scans raw bytes for "number generation obj" and the last trailer.
// Every case runs through both entry points (memory and byte source), which must agree.
#include "engine/xref/MarlockPDFLibraryRebuild.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

struct Found {
  int32_t number;
  int32_t generation;
  int64_t offset;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Found& f) {
  return os << "{" << f.number << " " << f.generation << " @" << f.offset << "}";
}

struct Result {
  std::vector<Found> headers;
  Bytes trailer;
};

Result Collect(const TKVLRawAnalyser& a) {
  Result r;
  for (int32_t i = 0; i < a.ObjectCount; ++i)
    r.headers.push_back({a.ObjectNumber(i), a.GenerationNumber(i), a.ObjectOffset(i)});
  r.trailer = a.TrailerText;
  return r;
}

// Analyses both ways and checks that the two agree.
Result Analyse(const Bytes& bytes) {
  TKVLRawAnalyser fromMemory;
  fromMemory.Analyse(ByteView(bytes));
  TKVLMemorySource source(bytes);
  TKVLRawAnalyser fromSource;
  fromSource.Analyse(source);
  Result a = Collect(fromMemory), b = Collect(fromSource);
  EXPECT_EQ(a.headers, b.headers);
  EXPECT_EQ(a.trailer, b.trailer);
  return a;
}

int64_t At(const Bytes& s, const char* what) { return int64_t(s.find(what)); }

TEST(RawAnalyser, WhatCountsAsAHeader) {
  struct Case {
    const char* name;
    Bytes text;
    bool found;
    int32_t number, generation;
  };
  const Case cases[] = {
      {"plain", "x\n12 0 obj\n", true, 12, 0},
      {"mixed whitespace", Bytes("x\r\n7\t\f\r\n 3 \0\r\nobj<<", 19), true, 7, 3},
      {"inside a string", "(text 5 2 obj text)", true, 5, 2},
      {"nothing after obj", "x 9 1 obj", true, 9, 1},
      {"generation against obj", "x 4 0obj", false, 0, 0},
      {"letter before the number", "x a4 0 obj", false, 0, 0},
      {"letter between the numbers", "x 4 a 0 obj", false, 0, 0},
      {"endobj", "x 4 0 endobj", false, 0, 0},
      {"only one number", "x 4 obj", false, 0, 0},
      // The number's digits may not reach the first byte of the window, even at offset 0.
      {"at the start of the file", "4 0 obj", false, 0, 0},
      {"after one byte", " 4 0 obj", true, 4, 0},
      {"number too big", "x 2147483648 0 obj", true, -1, 0},
      {"largest number", "x 2147483647 99999999999 obj", true, 2147483647, -1},
      {"leading zeros", "x 0000000000000012 00 obj", true, 12, 0},
  };
  for (const Case& c : cases) {
    Result r = Analyse(c.text);
    if (!c.found) {
      EXPECT_TRUE(r.headers.empty()) << c.name;
      continue;
    }
    ASSERT_EQ(r.headers.size(), 1u) << c.name;
    EXPECT_EQ(r.headers[0].number, c.number) << c.name;
    EXPECT_EQ(r.headers[0].generation, c.generation) << c.name;
    size_t digits = c.text.find_first_of("0123456789");
    EXPECT_EQ(r.headers[0].offset, int64_t(digits)) << c.name;
  }
}

TEST(RawAnalyser, WindowReachesFortySevenBytesBeforeObj) {
  // The object number must start within the 47 bytes in front of the "o", and the byte
  // before it must lie inside the window too.
  auto text = [](size_t spaces) { return "xx 1" + Bytes(spaces, ' ') + "0 obj"; };
  // "1" + spaces + "0 " : the number starts 1 + spaces + 2 bytes before the "o".
  Result inside = Analyse(text(43));  // 46 bytes before
  ASSERT_EQ(inside.headers.size(), 1u);
  EXPECT_EQ(inside.headers[0], (Found{1, 0, 3}));
  EXPECT_TRUE(Analyse(text(44)).headers.empty());  // 47 bytes before: touches the window start
  EXPECT_TRUE(Analyse(text(45)).headers.empty());
}

TEST(RawAnalyser, DuplicatesInFileOrderAndTheLastTrailer) {
  Bytes pdf = pagelume::test::FillTemplate(
      "%PDF-1.4\n1 0 obj\n<< /A 1 >>\nendobj\n2 0 obj\n(old)\nendobj\n{{xref}}trailer\n<< /Size 2 >>\n"
      "startxref\n{{startxref}}\n%%EOF\n2 0 obj\n(new)\nendobj\n"
      "trailer <</Size 3 /Root 1 0 R /Info << /Nested 1 >> /After 2>>\n%%EOF\n");
  Result r = Analyse(pdf);
  size_t second2 = pdf.find("2 0 obj", pdf.find("2 0 obj") + 1);
  std::vector<Found> expected = {{1, 0, At(pdf, "1 0 obj")}, {2, 0, At(pdf, "2 0 obj")}, {2, 0, int64_t(second2)}};
  EXPECT_EQ(r.headers, expected);
  // The dictionary is cut at the first ">>", which closes the nested one.
  EXPECT_EQ(r.trailer, "<</Size 3 /Root 1 0 R /Info << /Nested 1 >>");
}

TEST(RawAnalyser, TrailerEdges) {
  EXPECT_EQ(Analyse("x 1 0 obj << >> endobj").trailer, "");             // no keyword
  EXPECT_EQ(Analyse("trailer\n<< /Size 1 >>trailer").trailer, "");      // nothing after the last one
  EXPECT_EQ(Analyse("trailer << /Size 1").trailer, "");                 // no ">>"
  EXPECT_EQ(Analyse("trailer<<>>").trailer, "<<>>");
  // ">>" must lie within 2048 bytes of "<<".
  EXPECT_TRUE(Analyse("trailer << /A (" + Bytes(2039, 'a') + ")>>").trailer.empty());
  Bytes fits = "trailer << /A (" + Bytes(2038, 'a') + ")>>";
  EXPECT_TRUE(Analyse(fits).trailer == fits.substr(8));
}

TEST(RawAnalyser, BlockBoundariesGiveTheSameResultBothWays) {
  // The byte-source form reads 64 KiB blocks: put the "o" of headers just around block
  // boundaries, and the last "trailer" and its "<<" across the blocks of the trailer search.
  constexpr int64_t kBlock = 65536;
  Bytes big = "%PDF-1.4\n";
  std::vector<int64_t> expected;
  const int64_t around[] = {-48, -30, -3, -2, -1, 0, 1};
  for (size_t k = 0; k < std::size(around); ++k) {
    Bytes header = "\n" + std::to_string(k + 10) + " 0 obj";
    int64_t start = kBlock * int64_t(k + 1) + around[k] - int64_t(header.size() - 3);
    big.append(size_t(start - int64_t(big.size())), 'z');
    expected.push_back(start + 1);
    big += header;
  }
  // Sizes: the file ends 3 bytes after the first backward block starts.
  int64_t trailerAt = int64_t(big.size()) + 1000;
  big.append(1000, ' ');
  big += "trailer";
  big.append(size_t(trailerAt + kBlock - 1 - int64_t(big.size())), ' ');
  big += "<<>>";
  ASSERT_EQ(int64_t(big.size()), trailerAt + kBlock + 3);
  Result r = Analyse(big);
  ASSERT_EQ(r.headers.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(r.headers[i], (Found{int32_t(i + 10), 0, expected[i]}));
  EXPECT_EQ(r.trailer, "<<>>");
}

TEST(RawAnalyser, IndexOutOfRangeAndReuse) {
  TKVLRawAnalyser a;
  a.Analyse(ByteView("x 3 0 obj trailer <<>>"));
  a.Analyse(ByteView("x 1 0 obj y 2 0 obj"));  // a second scan starts afresh
  EXPECT_EQ(a.ObjectCount, 2);
  EXPECT_EQ(a.TrailerText, "");
  EXPECT_EQ(a.ObjectNumber(-1), 0);
  EXPECT_EQ(a.ObjectNumber(2), 0);
  EXPECT_EQ(a.GenerationNumber(5), 0);
  EXPECT_EQ(a.ObjectOffset(2), 0);
  EXPECT_EQ(a.ObjectOffset(1), 12);
}

}  // namespace
}  // namespace pagelume
