// The filter pipeline through TPDFStream: chains, decode parameters, references,
// unknown filters, errors, the shared cap, SetContent, and streams written by
// Ghostscript and qpdf compared with what qpdf decodes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/filters/MarlockPDFLibraryFilters.h"
#include "engine/filters/MarlockPDFLibraryFlate.h"
#include "engine/objects/MarlockPDFLibraryStructure.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

using test::HaveTool;
using test::ReadWholeFile;
using test::RunCommand;
using test::ShellQuote;
using test::TempFile;

Bytes A85(ByteView data) {
  Bytes out;
  for (size_t i = 0; i < data.size(); i += 4) {
    size_t n = std::min<size_t>(4, data.size() - i);
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) v = v << 8 | (k < n ? uint8_t(data[i + k]) : 0);
    char digits[5];
    for (int k = 4; k >= 0; --k, v /= 85) digits[k] = char('!' + v % 85);
    out.append(digits, n + 1);
  }
  return out + "~>";
}

// A structure whose references resolve to objects parsed from `objects` (number -> text).
class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s.ResolveReference = [this](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
      auto it = indirect.find(number);
      return it == indirect.end() ? nullptr : it->second;
    };
  }
  void Define(int32_t number, const std::string& text) { indirect[number] = s.Parse(text); }
  TPDFStream* Stream(const std::string& dict, Bytes raw) {
    auto* d = As<TPDFDictionary>(s.Parse(dict));
    EXPECT_NE(d, nullptr) << dict;
    return s.NewStreamWith(d, std::move(raw));
  }
  Bytes Decoded(const std::string& dict, Bytes raw) { return Stream(dict, std::move(raw))->Decoded(); }

  TPDFStructure s;
  std::map<int32_t, TPDFObject*> indirect;
};

TEST_F(PipelineTest, FilterChains) {
  const Bytes hello = FlateCompress("hello");
  const Bytes jpeg = "\xFF\xD8\xFF\xE0 not really a JPEG";
  struct Case {
    const char* name;
    std::string dict;
    Bytes raw;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"Flate", "<< /Filter /FlateDecode >>", hello, "hello"},
      {"no filter", "<< /Length 3 >>", "abc", "abc"},
      {"filter of another type", "<< /Filter 5 >>", "abc", "abc"},
      {"ASCII85 then Flate", "<< /Filter [/ASCII85Decode /FlateDecode] >>", A85(hello), "hello"},
      {"image codec left as is", "<< /Filter [/FlateDecode /DCTDecode] >>", FlateCompress(jpeg), jpeg},
      {"AHx is not a known name", "<< /Filter /AHx >>", "48 65>", "48 65>"},
      {"ASCIIHex", "<< /Filter /ASCIIHexDecode >>", "48 65 6C 6C 6F>", "Hello"},
      {"ASCIIHex odd", "<< /Filter /ASCIIHexDecode >>", "414", "\x41\x40"},
      {"abbreviations", "<< /Filter [/A85 /RL /Fl] >>",
       A85(char(FlateCompress("xyz").size() - 1) + FlateCompress("xyz") + "\x80"), "xyz"},
      {"Crypt skipped, later filter applied", "<< /Filter [/Crypt /ASCIIHexDecode] >>", "4142", "AB"},
      {"names are case-sensitive", "<< /Filter /flatedecode >>", hello, hello},
      {"non-names in the array skipped", "<< /Filter [1 /ASCIIHexDecode (x) << >>] >>", "4142", "AB"},
      {"empty array", "<< /Filter [] >>", "abc", "abc"},
      {"LZW", "<< /Filter /LZWDecode >>", "\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01", "-----A---B"},
      {"LZW abbreviation not known", "<< /Filter /LZW >>", "\x80\x0B", "\x80\x0B"},
  };
  for (const auto& c : cases) EXPECT_EQ(Decoded(c.dict, c.raw), c.expected) << c.name;

  Bytes cut = Decoded("<< /Filter /FlateDecode >>", hello.substr(0, hello.size() / 2));
  EXPECT_EQ(cut, Bytes("hello").substr(0, cut.size()));
}

TEST_F(PipelineTest, DecodeParameters) {
  const Bytes rows = FlateCompress(Bytes("\x02\x01\x02\x03\x04\x02\x01\x01\x01\x01", 10));
  const Bytes up = "\x01\x02\x03\x04\x02\x03\x04\x05";
  struct Case {
    const char* name;
    std::string dict;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"DecodeParms", "<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 4 >> >>", up},
      {"DP when DecodeParms is absent", "<< /Filter /FlateDecode /DP << /Predictor 12 /Columns 4 >> >>", up},
      {"DecodeParms before DP",
       "<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 4 >> /DP << /Predictor 1 >> >>", up},
      {"array, one per filter",
       "<< /Filter [/Crypt /FlateDecode] /DecodeParms [null << /Predictor 12 /Columns 4 >>] >>", up},
      {"dictionary belongs to the first filter only",
       "<< /Filter [/Crypt /FlateDecode] /DecodeParms << /Predictor 12 /Columns 4 >> >>",
       Bytes("\x02\x01\x02\x03\x04\x02\x01\x01\x01\x01", 10)},
      {"Predictor 1 inflates only", "<< /Filter /FlateDecode /DecodeParms << /Predictor 1 /Columns 4 >> >>",
       Bytes("\x02\x01\x02\x03\x04\x02\x01\x01\x01\x01", 10)},
      {"non-number takes the default", "<< /Filter /FlateDecode /DecodeParms << /Predictor /Up /Columns 4 >> >>",
       Bytes("\x02\x01\x02\x03\x04\x02\x01\x01\x01\x01", 10)},
      {"reals are rounded", "<< /Filter /FlateDecode /DecodeParms << /Predictor 12.2 /Columns 3.6 >> >>", up},
      {"referenced values", "<< /Filter 7 0 R /DecodeParms 8 0 R >>", up},
      {"referenced array elements", "<< /Filter [7 0 R] /DecodeParms [8 0 R] >>", up},
      {"referenced number", "<< /Filter /FlateDecode /DecodeParms << /Predictor 9 0 R /Columns 4 >> >>", up},
      {"dangling reference", "<< /Filter 99 0 R >>", rows},
  };
  Define(7, "/FlateDecode");
  Define(8, "<< /Predictor 12 /Columns 4 >>");
  Define(9, "12");
  for (const auto& c : cases) EXPECT_EQ(Decoded(c.dict, rows), c.expected) << c.name;

  // LZW parameters: early change off, the TIFF predictor.
  EXPECT_EQ(Decoded("<< /Filter /LZWDecode /DecodeParms << /EarlyChange 0 >> >>",
                    "\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01"),
            "-----A---B");
  EXPECT_EQ(Decoded("<< /Filter /LZWDecode /DecodeParms << /Predictor 2 /Columns 5 >> >>",
                    "\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01"),
            "-Z\x87\xB4\xE1" "An\x9B\xC8\n");
}

TEST_F(PipelineTest, ZeroRowParametersFailWithAnError) {
  const Bytes z = FlateCompress("abcdef");
  for (const char* dict : {"<< /Filter /FlateDecode /DecodeParms << /Predictor 2 /Columns 0 >> >>",
                           "<< /Filter /FlateDecode /DecodeParms << /Predictor 4 /Colors 0 >> >>",
                           "<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns -1 >> >>",
                           "<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 99999999 /Colors 99 >> >>",
                           "<< /Filter /LZWDecode /DecodeParms << /Predictor 2 /Colors 0 >> >>"}) {
    TPDFStream* stream = Stream(dict, z);
    EXPECT_THROW(stream->Decoded(), EPDFError) << dict;
    EXPECT_THROW(stream->DecodedText(), EPDFError) << dict;
  }
  // With a PNG predictor a zero-byte row is just its tag: no data, no error.
  EXPECT_EQ(Decoded("<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 0 >> >>", z), "");
}

TEST_F(PipelineTest, OneCapForTheWholeChain) {
  // Two Flate layers: 8 MiB of zeros inside, well above the cap given.
  const Bytes inner = FlateCompress(Bytes(size_t(8) << 20, '\0'));
  TPDFStream* stream = Stream("<< /Filter [/FlateDecode /FlateDecode] >>", FlateCompress(inner));
  Bytes out;
  DecodeStreamData(*stream, out, 100000);
  EXPECT_EQ(out.size(), 100000u);
  DecodeStreamData(*stream, out);
  EXPECT_EQ(out.size(), size_t(8) << 20);
}

TEST_F(PipelineTest, SetContent) {
  TPDFStream* stream = Stream("<< /DecodeParms << /Predictor 1 >> /Filter /ASCIIHexDecode >>", "");
  stream->SetModified(false);
  stream->SetContent("abc", true);
  EXPECT_TRUE(stream->Modified);
  EXPECT_EQ(uint8_t(stream->Raw()[0]), 0x78);
  EXPECT_EQ(stream->StreamDict->GetName("Filter")->GetNameBytes(), "FlateDecode");
  EXPECT_EQ(stream->StreamDict->GetInteger("Length", -1), int32_t(stream->Raw().size()));
  EXPECT_NE(stream->StreamDict->Get("DecodeParms", false), nullptr);
  EXPECT_EQ(stream->Decoded(), "abc");

  stream->SetContent("plain", false);
  EXPECT_EQ(stream->StreamDict->Get("Filter", false), nullptr);
  EXPECT_EQ(stream->Raw(), "plain");
  EXPECT_EQ(stream->StreamDict->GetInteger("Length", -1), 5);

  for (bool compress : {false, true}) {
    const Text text = u"Gr\u00FC\u00DFe \u4E16\u754C";
    stream->SetContentText(text, compress);
    EXPECT_EQ(stream->DecodedText(), text);
    EXPECT_EQ(stream->Decoded(), EncodeTextString(text, false));
    stream->SetContentText(u"Latin", compress);
    EXPECT_EQ(stream->Decoded(), "Latin");
  }
  TPDFStream* made = s.NewStream("made", true);
  EXPECT_EQ(made->Decoded(), "made");
  EXPECT_EQ(made->StreamDict->GetName("Filter")->GetNameBytes(), "FlateDecode");
}

// ---- Streams written by other tools, decoded as qpdf decodes them ---------------

struct FileStream {
  int number;
  std::string dict;
  Bytes data;
};

// Each "N 0 obj << ... >> stream": its dictionary text and the bytes up to the
// end-of-line before "endstream".
std::vector<FileStream> ScanStreams(const Bytes& file) {
  std::vector<FileStream> found;
  for (size_t at = 0; (at = file.find(" 0 obj", at)) != Bytes::npos; at += 6) {
    size_t lineStart = file.rfind('\n', at);
    lineStart = lineStart == Bytes::npos ? 0 : lineStart + 1;
    size_t end = file.find("endobj", at);
    size_t s = file.find("stream", at);
    if (s == Bytes::npos || end == Bytes::npos || s > end) continue;
    size_t dataStart = s + 6 + (file[s + 6] == '\r' ? 2 : 1);
    size_t dataEnd = file.find("endstream", dataStart);
    if (dataEnd > dataStart && file[dataEnd - 1] == '\n') --dataEnd;
    if (dataEnd > dataStart && file[dataEnd - 1] == '\r') --dataEnd;
    found.push_back({std::atoi(file.c_str() + lineStart), file.substr(at + 6, s - at - 6),
                     file.substr(dataStart, dataEnd - dataStart)});
  }
  return found;
}

Bytes QpdfFiltered(const std::string& pdf, int number) {
  TempFile out;
  auto r = RunCommand("qpdf --show-object=" + std::to_string(number) + " --filtered-stream-data " +
                      ShellQuote(pdf) + " > " + ShellQuote(out.Path()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return ReadWholeFile(out.Path());
}

void ExpectDecodedAsQpdf(TPDFStructure& s, const std::string& pdf, const char* mustHave, size_t atLeast) {
  size_t checked = 0;
  for (const FileStream& f : ScanStreams(ReadWholeFile(pdf))) {
    if (f.dict.find(mustHave) == std::string::npos) continue;
    auto* dict = As<TPDFDictionary>(s.Parse(f.dict));
    ASSERT_NE(dict, nullptr) << f.dict;
    TPDFStream* stream = s.NewStreamWith(dict, f.data);
    Bytes expected = QpdfFiltered(pdf, f.number);
    EXPECT_TRUE(stream->Decoded() == expected) << "object " << f.number << " " << f.dict;
    ++checked;
  }
  EXPECT_GE(checked, atLeast) << mustHave;
}

const char* kPicture =
    "0 1 19 { /i exch def i 20 div 1 i 20 div sub 0.5 setrgbcolor i 10 mul i 7 mul 60 40 rectfill } for\n"
    "/Helvetica findfont 24 scalefont setfont 0 0 1 setrgbcolor 20 100 moveto (Pagelume) show\n"
    "0 0 0 setrgbcolor 5 setlinewidth 10 10 moveto 190 140 lineto stroke showpage\n";

TEST_F(PipelineTest, GhostscriptAscii85AndFlateStreams) {
  if (!HaveTool("gs") || !HaveTool("qpdf")) GTEST_SKIP() << "needs gs and qpdf";
  TempFile ps(std::string(kPicture) + kPicture, ".ps");  // two pages
  for (bool ascii85 : {false, true}) {
    TempFile pdf;
    auto r = RunCommand(std::string("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite ") +
                        (ascii85 ? "-dASCII85EncodePages=true " : "") + "-sOutputFile=" + ShellQuote(pdf.Path()) +
                        " " + ShellQuote(ps.Path()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    ExpectDecodedAsQpdf(s, pdf.Path(), ascii85 ? "/ASCII85Decode" : "/FlateDecode", 2);
  }
}

TEST_F(PipelineTest, QpdfObjectAndCrossReferenceStreams) {
  if (!HaveTool("qpdf")) GTEST_SKIP() << "needs qpdf";
  std::string extra;
  std::vector<std::string> objects = {"", "<< /Type /Pages /Kids [] /Count 0 >>"};
  for (int i = 0; i < 200; ++i) {
    extra += std::to_string(3 + i) + " 0 R ";
    objects.push_back("(item " + std::to_string(i) + ")");
  }
  objects[0] = "<< /Type /Catalog /Pages 2 0 R /Extra [" + extra + "] >>";
  TempFile in(test::BuildPdf(objects, "/Root 1 0 R")), out;
  auto r = RunCommand("qpdf --object-streams=generate " + ShellQuote(in.Path()) + " " + ShellQuote(out.Path()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  ExpectDecodedAsQpdf(s, out.Path(), "/XRef", 1);
  ExpectDecodedAsQpdf(s, out.Path(), "/ObjStm", 1);
}

TEST_F(PipelineTest, GhostscriptLzwDataAsQpdfDecodesIt) {
  if (!HaveTool("gs") || !HaveTool("qpdf")) GTEST_SKIP() << "needs gs and qpdf";
  // RGB rows of 50 pixels, encoded by Ghostscript's LZWEncode and declared with the
  // TIFF predictor, with and without early change; qpdf undoes both independently.
  Bytes pixels;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 50; ++x) pixels += {char(x * 5), char(y * 2), char((x + y) % 7)};
  TempFile raw(pixels, ".bin");
  for (int early : {1, 0}) {
    TempFile lzw("");
    TempFile script("/in (" + raw.Path() + ") (r) file def /out (" + lzw.Path() + ") (w) file << /EarlyChange " +
                        std::to_string(early) + " >> /LZWEncode filter def /buf 4096 string def\n"
                        "{ in buf readstring exch out exch writestring not { exit } if } loop out closefile\n",
                    ".ps");
    auto r = RunCommand("gs -q -dNOSAFER -dBATCH -dNODISPLAY " + ShellQuote(script.Path()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const Bytes encoded = ReadWholeFile(lzw.Path());
    const std::string params = "/DecodeParms << /Predictor 2 /Colors 3 /Columns 50 /EarlyChange " +
                               std::to_string(early) + " >>";
    TempFile pdf(test::FillTemplate(
        "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
        "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n"
        "3 0 obj\n<< /Length {{dist:a:b}} /Filter /LZWDecode " + params + " >>\nstream\n{{mark:a}}" + encoded +
        "{{mark:b}}\nendstream\nendobj\n{{xref}}trailer\n<< /Size {{size}} /Root 1 0 R >>\n"
        "startxref\n{{startxref}}\n%%EOF\n"));
    ExpectDecodedAsQpdf(s, pdf.Path(), "/LZWDecode", 1);
  }
}

}  // namespace
}  // namespace pagelume
