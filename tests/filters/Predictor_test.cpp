// PNG and TIFF predictors: hand-worked rows, parameter errors, the cap, and images
// and cross-reference streams written by Ghostscript and qpdf.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/filters/MarlockPDFLibraryFlate.h"
#include "engine/filters/MarlockPDFLibraryPredictor.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

using test::HaveTool;
using test::ReadWholeFile;
using test::RunCommand;
using test::ShellQuote;
using test::TempFile;

Bytes Hex(std::initializer_list<int> bytes) {
  Bytes s;
  for (int b : bytes) s.push_back(char(b));
  return s;
}

TPDFPredictorParams Params(int32_t predictor, int32_t colors, int32_t bits, int32_t columns) {
  return TPDFPredictorParams{predictor, colors, bits, columns};
}

struct PredictorCase {
  const char* name;
  TPDFPredictorParams params;
  Bytes input;  // inflated
  Bytes expected;
};

TEST(Predictor, PngRows) {
  const std::vector<PredictorCase> cases = {
      {"up rows", Params(12, 1, 8, 3), Hex({2, 1, 2, 3, 2, 1, 1, 1}), Hex({1, 2, 3, 2, 3, 4})},
      {"each row its own tag", Params(15, 1, 8, 2),
       Hex({1, 5, 3,            // Sub
            2, 1, 1,            // Up
            3, 0x10, 0x10,      // Average: (0 + 6) / 2, (0x13 + 9) / 2
            4, 1, 2,            // Paeth: picks up, then up
            0, 7, 8,            // None
            9, 0xAA, 0xBB}),    // unknown tag: unchanged
       Hex({5, 8, 6, 9, 0x13, 0x1E, 0x14, 0x20, 7, 8, 0xAA, 0xBB})},
      {"Predictor 10 follows the tags too", Params(10, 1, 8, 2), Hex({1, 5, 3, 2, 1, 1}),
       Hex({5, 8, 6, 9})},
      {"sums wrap at 256", Params(12, 1, 8, 2), Hex({1, 0xFF, 2}), Hex({0xFF, 1})},
      {"Sub looks one pixel back", Params(15, 3, 8, 2), Hex({1, 1, 2, 3, 10, 20, 30}),
       Hex({1, 2, 3, 11, 22, 33})},
      {"4-bit RGB steps back 2 bytes", Params(10, 3, 4, 2), Hex({1, 1, 2, 3}), Hex({1, 2, 4})},
      {"Paeth on the first row uses the left byte", Params(15, 1, 8, 3), Hex({4, 5, 1, 1}),
       Hex({5, 6, 7})},
      {"Average on the first row halves the left byte", Params(15, 1, 8, 3), Hex({3, 4, 4, 4}),
       Hex({4, 6, 7})},
      {"short last row is zero-filled", Params(12, 1, 8, 3), Hex({0, 1, 2, 3, 2, 5}),
       Hex({1, 2, 3, 6, 2, 3})},
      {"a lone tag byte makes a row", Params(12, 1, 8, 2), Hex({0, 4, 4, 2}), Hex({4, 4, 4, 4})},
      {"rows of zero bytes", Params(12, 1, 8, 0), Hex({2, 2, 2}), ""},
      {"empty", Params(12, 1, 8, 4), "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(UndoPredictor(c.input, c.params), c.expected) << c.name;
}

TEST(Predictor, TiffRows) {
  const std::vector<PredictorCase> cases = {
      {"8-bit RGB", Params(2, 3, 8, 2), Hex({0x10, 0x20, 0x30, 1, 2, 3}),
       Hex({0x10, 0x20, 0x30, 0x11, 0x22, 0x33})},
      {"1-bit toggles", Params(2, 1, 1, 8), Hex({0xFF}), Hex({0xAA})},
      {"2-bit", Params(2, 1, 2, 4), Hex({0x55}), Hex({0x6C})},
      {"4-bit two components", Params(2, 2, 4, 2), Hex({0x12, 0x34}), Hex({0x12, 0x46})},
      {"16-bit carries into the high byte", Params(2, 1, 16, 2), Hex({0, 0xFF, 0, 2}),
       Hex({0, 0xFF, 1, 1})},
      {"8-bit wraps", Params(2, 1, 8, 2), Hex({0xF0, 0x20}), Hex({0xF0, 0x10})},
      {"each row starts afresh", Params(2, 1, 8, 2), Hex({1, 1, 2, 2}), Hex({1, 2, 2, 4})},
      {"short last row is zero-filled", Params(2, 1, 8, 2), Hex({1, 1, 5}), Hex({1, 2, 5, 5})},
      {"12 components", Params(2, 12, 8, 2), Bytes(24, '\1'),
       Bytes(12, '\1') + Bytes(12, '\2')},
      {"1-bit, 3 components, padding bits untouched", Params(2, 3, 1, 2), Hex({0xFC}), Hex({0xE0})},
  };
  for (const auto& c : cases) EXPECT_EQ(UndoPredictor(c.input, c.params), c.expected) << c.name;
}

TEST(Predictor, OtherPredictorsOnlyCutRows) {
  EXPECT_EQ(UndoPredictor(Hex({1, 2, 3}), Params(5, 1, 8, 2)), Hex({1, 2, 3, 0}));
  EXPECT_EQ(UndoPredictor(Hex({1, 2, 3}), Params(1, 1, 8, 2)), Hex({1, 2, 3}));
}

TEST(Predictor, UnusableParametersAreErrorsNotCrashes) {
  const std::vector<std::pair<const char*, TPDFPredictorParams>> bad = {
      {"TIFF, no columns", Params(2, 1, 8, 0)},
      {"TIFF, no colours", Params(2, 0, 8, 4)},
      {"Predictor 5, no bits", Params(5, 1, 0, 4)},
      {"negative columns", Params(12, 1, 8, -3)},
      {"negative colours cancelling out", Params(12, -1, 8, -3)},
      {"product beyond 64 bits", Params(12, 2147483647, 2147483647, 2147483647)},
      {"row of 32 MiB", Params(2, 1, 8, 1 << 25)},
      {"row of 2^31 bytes", Params(15, 4, 16, 1 << 28)},
  };
  for (const auto& [name, params] : bad) {
    EXPECT_THROW(UndoPredictor(Hex({2, 1, 2, 3}), params), EPDFError) << name;
    EXPECT_THROW(PredictorDecode(FlateCompress("abcd"), params), EPDFError) << name;
  }
  try {
    UndoPredictor("abc", Params(2, 1, 8, 0));
  } catch (const EPDFError& e) {
    EXPECT_NE(std::string(e.what()).find("zero bytes"), std::string::npos) << e.what();
  }
}

TEST(Predictor, InflatesFirstAndHonoursTheCap) {
  Bytes rows;
  for (int r = 0; r < 1000; ++r) rows += Hex({2, 1, 1, 1, 1});  // each row adds 1 to the one above
  Bytes z = FlateCompress(rows);
  Bytes all = PredictorDecode(z, Params(12, 1, 8, 4));
  ASSERT_EQ(all.size(), 4000u);
  EXPECT_EQ(all.substr(3996), Bytes(4, char(1000 % 256)));
  EXPECT_EQ(PredictorDecode(z, Params(12, 1, 8, 4), 10), all.substr(0, 10));
  EXPECT_EQ(UndoPredictor(rows, Params(12, 1, 8, 4), 7), all.substr(0, 7));
  EXPECT_EQ(PredictorDecode("", Params(12, 1, 8, 4)), "");
}

// ---- Against Ghostscript's PNG writer (libpng's adaptive row filters) ----------

// A PNG's IDAT data is a zlib stream with PNG row filters: FlateDecode with
// Predictor 15. The same page rendered to PPM/PGM gives the expected samples.
struct PngImage {
  uint32_t width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  Bytes idat;
};

uint32_t BigEndian32(const Bytes& s, size_t at) {
  return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
         uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

PngImage ReadPng(const Bytes& file) {
  PngImage png;
  for (size_t at = 8; at + 12 <= file.size();) {
    uint32_t length = BigEndian32(file, at);
    Bytes type = file.substr(at + 4, 4);
    if (type == "IHDR") {
      png.width = BigEndian32(file, at + 8);
      png.height = BigEndian32(file, at + 12);
      png.bitDepth = uint8_t(file[at + 16]);
      png.colorType = uint8_t(file[at + 17]);
    } else if (type == "IDAT") {
      png.idat += file.substr(at + 8, length);
    }
    at += 12 + size_t(length);
  }
  return png;
}

// The samples of a binary PPM or PGM (comments allowed in the header).
Bytes NetpbmSamples(const Bytes& file) {
  size_t at = 2;
  int fields = 0;
  while (fields < 3 && at < file.size()) {
    if (file[at] == '#') {
      at = file.find('\n', at);
    } else if (isdigit(uint8_t(file[at]))) {
      while (isdigit(uint8_t(file[at]))) ++at;
      ++fields;
      continue;
    }
    ++at;
  }
  return file.substr(at + 1);  // one whitespace byte ends the header
}

const char* kPicture =
    "0 1 19 { /i exch def i 20 div 1 i 20 div sub 0.5 setrgbcolor i 10 mul i 7 mul 60 40 rectfill } for\n"
    "/Helvetica findfont 24 scalefont setfont 0 0 1 setrgbcolor 20 100 moveto (Pagelume) show\n"
    "0 0 0 setrgbcolor 5 setlinewidth 10 10 moveto 190 140 lineto stroke showpage\n";

TEST(PredictorOracle, GhostscriptPngMatchesItsPixmap) {
  if (!HaveTool("gs")) GTEST_SKIP() << "needs gs";
  TempFile ps(kPicture, ".ps"), png, ppm;
  for (auto [device, out] : {std::pair{"png16m", &png}, std::pair{"ppmraw", &ppm}}) {
    auto r = RunCommand(std::string("gs -q -dSAFER -dBATCH -dNOPAUSE -r72 -g200x150 -sDEVICE=") + device +
                        " -sOutputFile=" + ShellQuote(out->Path()) + " " + ShellQuote(ps.Path()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  PngImage image = ReadPng(ReadWholeFile(png.Path()));
  ASSERT_EQ(image.bitDepth, 8);
  ASSERT_EQ(image.colorType, 2);  // RGB
  ASSERT_EQ(image.width, 200u);

  // The comparison means something only if libpng chose several row filters.
  Bytes inflated = FlateDecompress(image.idat);
  std::set<int> tags;
  for (size_t at = 0; at < inflated.size(); at += image.width * 3 + 1) tags.insert(uint8_t(inflated[at]));
  EXPECT_GE(tags.size(), 3u);

  Bytes decoded = PredictorDecode(image.idat, Params(15, 3, 8, int32_t(image.width)));
  ASSERT_EQ(decoded.size(), size_t(image.width) * image.height * 3);
  EXPECT_TRUE(decoded == NetpbmSamples(ReadWholeFile(ppm.Path()))) << "pixels differ from the PPM";
}

// ---- Against qpdf's cross-reference streams (/Predictor 12) ---------------------

TEST(PredictorOracle, QpdfCrossReferenceStreamDecodesAsQpdfReadsIt) {
  if (!HaveTool("qpdf")) GTEST_SKIP() << "needs qpdf";
  // 300 small objects, reachable from the catalog, for qpdf to pack into object streams.
  std::string extra;
  for (int i = 0; i < 300; ++i) extra += std::to_string(7 + i) + " 0 R ";
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R /Extra [" + extra + "] >>",
                                      "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"};
  for (int page = 0; page < 2; ++page)
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents " +
                      std::to_string(5 + page) + " 0 R >>");
  for (int page = 0; page < 2; ++page)
    objects.push_back("<< /Length 8 >>\nstream\n0 0 m S \nendstream");
  for (int i = 0; i < 300; ++i) objects.push_back("<< /Index " + std::to_string(i) + " >>");
  TempFile in(test::BuildPdf(objects, "/Root 1 0 R")), out, data;
  auto r = RunCommand("qpdf --object-streams=generate " + ShellQuote(in.Path()) + " " + ShellQuote(out.Path()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const Bytes file = ReadWholeFile(out.Path());

  // The cross-reference stream: its number, /Columns, /Predictor and raw data.
  size_t type = file.find("/Type /XRef");
  ASSERT_NE(type, Bytes::npos);
  size_t header = file.rfind(" 0 obj", type);
  size_t lineStart = file.rfind('\n', header) + 1;
  int number = std::atoi(file.c_str() + lineStart);
  size_t dictEnd = file.find("stream", type);
  Bytes dict = file.substr(header, dictEnd - header);
  auto field = [&](const char* key) {
    size_t k = dict.find(key);
    return k == Bytes::npos ? -1 : std::atoi(dict.c_str() + k + strlen(key));
  };
  ASSERT_EQ(field("/Predictor "), 12);
  int columns = field("/Columns ");
  int length = field("/Length ");
  ASSERT_GT(columns, 0);
  size_t start = dictEnd + 6 + (file[dictEnd + 6] == '\r' ? 2 : 1);
  Bytes raw = file.substr(start, size_t(length));

  r = RunCommand("qpdf --show-object=" + std::to_string(number) + " --filtered-stream-data " +
                 ShellQuote(out.Path()) + " > " + ShellQuote(data.Path()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  Bytes expected = ReadWholeFile(data.Path());
  EXPECT_GT(expected.size(), 300u * size_t(columns));
  EXPECT_TRUE(PredictorDecode(raw, Params(12, 1, 8, columns)) == expected);
}

}  // namespace
}  // namespace pagelume
