// Loading an editable document: header, cross-reference data and their repairs,
// reconstruction, lazy object reading with its offset and stream-length repairs,
// object streams, and hostile input.
#include "engine/document/MarlockPDFLibraryDocument.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/document/MarlockPDFLibraryPageTree.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

using test::BuildPdf;
using test::FillTemplate;
using test::PdfFixtureOptions;

struct Loaded {
  std::unique_ptr<TPDFDocument> doc = std::make_unique<TPDFDocument>();
  int result = -1;
};

Loaded Load(const Bytes& bytes, const std::u16string& password = u"") {
  Loaded l;
  l.result = l.doc->LoadFromBytes(bytes, password);
  return l;
}

// Catalog, pages node, page, information dictionary with a title.
std::vector<std::string> BasicObjects() {
  return {"<< /Type /Catalog /Pages 2 0 R >>",
          "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>",
          "<< /Title (Hello) >>"};
}
Bytes BasicPdf(const PdfFixtureOptions& options = {}) {
  return BuildPdf(BasicObjects(), "/Root 1 0 R /Info 4 0 R", options);
}

Bytes TitleOf(TPDFDocument& doc) {
  auto* info = As<TPDFDictionary>(doc.Trailer->Get("Info", true));
  auto* title = info ? info->GetString("Title") : nullptr;
  return title ? title->GetBytes() : Bytes("<none>");
}

// Rewrites the 10-digit offset of `number` in the file's last classic table.
void PatchOffset(Bytes& pdf, int number, int64_t offset) {
  const size_t table = pdf.rfind("xref\n0 ");
  ASSERT_NE(table, Bytes::npos);
  const size_t first = pdf.find('\n', table + 5) + 1;
  pdf.replace(first + size_t(number) * 20, 10, PadNumber(offset, 10));
}

int64_t HeaderOffset(const Bytes& pdf, int number) {
  return int64_t(pdf.find("\n" + std::to_string(number) + " 0 obj") + 1);
}

size_t LoadedCount(TPDFDocument& doc) {
  size_t n = 0;
  for (size_t i = 0; i < doc.ObjectCount(); ++i) n += doc.ObjectAt(i).Loaded ? 1 : 0;
  return n;
}

bool QpdfRun(const std::string& args) {
  const auto r = test::RunCommand("qpdf " + args);
  return r.exitCode == 0 || r.exitCode == 3;
}

TEST(DocumentLoad, PlainFileLoadsWithItsTableAndTrailer) {
  Loaded l = Load(BasicPdf());
  ASSERT_EQ(l.result, TPDFDocument::kLoaded);
  TPDFDocument& doc = *l.doc;
  EXPECT_EQ(doc.Version, "1.4");
  EXPECT_FALSE(doc.Reconstructed);
  EXPECT_EQ(doc.GetCatalog()->TypeName(), "Catalog");
  EXPECT_EQ(TitleOf(doc), "Hello");
  EXPECT_EQ(doc.PageTree->PageCount(), 1);
  EXPECT_EQ(doc.PageTree->SelectedPageNumber(), 1);
  // The table is in file order; the page's new content stream comes after the loaded objects.
  ASSERT_GE(doc.ObjectCount(), 5u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(doc.ObjectAt(size_t(i)).Number, i + 1);
  EXPECT_EQ(doc.ObjectAt(4).Number, 5);
  EXPECT_EQ(doc.FindObject(6), nullptr);
  EXPECT_EQ(doc.HighestNumber(), 5);
  EXPECT_EQ(doc.Trailer->GetInteger("Size", 0), 6);
  EXPECT_EQ(doc.FileSize, int64_t(doc.FileBytes.size()));
}

TEST(DocumentLoad, HeaderVersions) {
  struct Case {
    const char* name;
    std::string version;
    const char* expected;
  };
  for (const Case& c : std::vector<Case>{{"plain", "1.7", "1.7"},
                                         {"second period", "1.7.2", "1.7"},
                                         {"letters", "abc", ""},
                                         {"two-digit minor", "2.0", "2.0"}}) {
    PdfFixtureOptions o;
    o.version = c.version;
    Loaded l = Load(BasicPdf(o));
    EXPECT_EQ(l.result, 0) << c.name;
    EXPECT_EQ(l.doc->Version, c.expected) << c.name;
  }
  Bytes ps = BasicPdf();
  ps.replace(0, 8, "%!PS-Adobe-3.0 PDF-1.3\n");
  Loaded l = Load(ps);
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.doc->Version, "1.3");
}

TEST(DocumentLoad, JunkInFrontOfTheHeader) {
  for (size_t junk : {size_t(500), size_t(3000), size_t(200000)}) {
    PdfFixtureOptions o;
    o.junkBeforeHeader = std::string(junk, 'x') + "\n";
    o.offsetsFromHeader = true;
    Loaded l = Load(BasicPdf(o));
    ASSERT_EQ(l.result, 0) << junk;
    EXPECT_EQ(TitleOf(*l.doc), "Hello") << junk;
    // Beyond the header window the junk is cut and the table read as written.
    if (junk > kHeaderWindow) {
      EXPECT_FALSE(l.doc->Reconstructed) << junk;
    }
  }
  Loaded none = Load(std::string(5000, 'x') + "no header here");
  EXPECT_EQ(none.result, TPDFDocument::kNotPdf);
}

TEST(DocumentLoad, OffsetsSlightlyWrongStillFindTheObject) {
  struct Case {
    int64_t delta;
    bool found;
  };
  for (const Case& c : std::vector<Case>{{-7, true}, {-1, true}, {0, true}, {3, true}, {7, true},
                                         {8, false}, {20, false}}) {
    Bytes pdf = BasicPdf();
    PatchOffset(pdf, 4, HeaderOffset(pdf, 4) + c.delta);
    Loaded l = Load(pdf);
    ASSERT_EQ(l.result, 0) << c.delta;
    EXPECT_FALSE(l.doc->Reconstructed);
    EXPECT_EQ(TitleOf(*l.doc), c.found ? "Hello" : "<none>") << c.delta;
    TPDFObject* body = l.doc->ResolveNumber(4);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(As<TPDFNull>(body) != nullptr, !c.found) << c.delta;
  }
}

TEST(DocumentLoad, OffsetsOutsideTheFileReadAsNull) {
  Bytes pdf = BasicPdf();
  PatchOffset(pdf, 4, 9999999999);
  Loaded l = Load(pdf);
  ASSERT_EQ(l.result, 0);
  EXPECT_NE(As<TPDFNull>(l.doc->ResolveNumber(4)), nullptr);
}

TEST(DocumentLoad, AllOffsetsShiftedFallsBackToReconstruction) {
  Bytes pdf = BasicPdf();
  for (int n = 1; n <= 4; ++n) PatchOffset(pdf, n, HeaderOffset(pdf, n) + 40);
  Loaded l = Load(pdf);
  ASSERT_EQ(l.result, 0);
  EXPECT_TRUE(l.doc->Reconstructed);
  EXPECT_EQ(TitleOf(*l.doc), "Hello");
}

TEST(DocumentLoad, TableOneNumberTooHighIsRenumbered) {
  const Bytes pdf = FillTemplate(
      "%PDF-1.4\n"
      "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
      "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
      "3 0 obj\n<< /Type /Page /Parent 2 0 R >>\nendobj\n"
      "{{mark:x}}xref\n2 3\n"
      "{{offset10:1}} 00000 n \n{{offset10:2}} 00000 n \n{{offset10:3}} 00000 n \n"
      "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n{{pos:x}}\n%%EOF\n");
  Loaded l = Load(pdf);
  ASSERT_EQ(l.result, 0);
  EXPECT_FALSE(l.doc->Reconstructed);
  ASSERT_NE(l.doc->FindObject(1), nullptr);
  EXPECT_EQ(As<TPDFDictionary>(l.doc->ResolveNumber(1))->TypeName(), "Catalog");
  EXPECT_EQ(As<TPDFDictionary>(l.doc->ResolveNumber(3))->TypeName(), "Page");
}

TEST(DocumentLoad, TableOfZeroOffsetsIsReplacedByReconstruction) {
  Bytes pdf = BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                        "<< /Type /Page /Parent 2 0 R >>", "<< /Title (Hello) >>", "(five)", "(six)"},
                       "/Root 1 0 R /Info 4 0 R");
  for (int n = 1; n <= 6; ++n) PatchOffset(pdf, n, 0);
  Loaded l = Load(pdf);
  ASSERT_EQ(l.result, 0);
  EXPECT_TRUE(l.doc->Reconstructed);
  EXPECT_EQ(TitleOf(*l.doc), "Hello");
}

// The basic file plus one incremental update that redefines or frees object 4.
Bytes WithUpdate(const std::string& update) {
  const Bytes base = BasicPdf();
  const size_t oldStart = base.rfind("startxref\n") + 10;
  const Bytes prev = base.substr(oldStart, base.find('\n', oldStart) - oldStart);
  Bytes pdf = base;
  const int64_t obj = int64_t(pdf.size());
  pdf += "4 0 obj\n<< /Title (Newer) >>\nendobj\n";
  const int64_t xref = int64_t(pdf.size());
  pdf += "xref\n0 1\n0000000000 65535 f \n4 1\n";
  pdf += update == "free" ? "0000000000 00001 f \n" : PadNumber(obj, 10) + " 00000 n \n";
  pdf += "trailer\n<< /Size 5 /Root 1 0 R /Info 4 0 R /Prev " + prev + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

TEST(DocumentLoad, NewerSectionsWinAndFreeEntriesHideOlderDefinitions) {
  Loaded redefined = Load(WithUpdate("redefine"));
  ASSERT_EQ(redefined.result, 0);
  EXPECT_EQ(TitleOf(*redefined.doc), "Newer");

  // An object deleted by an update stays deleted: a rewrite must not bring it back.
  Loaded freed = Load(WithUpdate("free"));
  ASSERT_EQ(freed.result, 0);
  EXPECT_EQ(freed.doc->FindObject(4), nullptr);
  EXPECT_EQ(TitleOf(*freed.doc), "<none>");
  EXPECT_FALSE(freed.doc->Reconstructed);
  // Nor does a new object take the freed number, which stale references still name.
  auto* contents = freed.doc->PageTree->SelectedPage()->GetArray("Contents");
  ASSERT_NE(contents, nullptr);
  EXPECT_EQ(As<TPDFIndRef>(contents->Item(0))->RefNumber, 5);
}

TEST(DocumentLoad, HybridFileFreeEntriesDoNotHideTheirOwnXRefStream) {
  // The classic table lists object 4 as free; the /XRefStm stream of the same section
  // puts it into object stream 5.
  const std::string objStmData = "4 0 << /Title (Hybrid) >>";
  const std::string xrefData("\x02\x00\x05\x00", 4);
  const Bytes pdf = FillTemplate(
      "%PDF-1.5\n"
      "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
      "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
      "3 0 obj\n<< /Type /Page /Parent 2 0 R >>\nendobj\n"
      "5 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Length " + std::to_string(objStmData.size()) +
      " >>\nstream\n" + objStmData + "\nendstream\nendobj\n"
      "6 0 obj\n<< /Type /XRef /W [1 2 1] /Index [4 1] /Size 7 /Length 4 >>\nstream\n" + xrefData +
      "\nendstream\nendobj\n"
      "{{xref}}trailer\n<< /Size 7 /Root 1 0 R /Info 4 0 R /XRefStm {{offset:6}} >>\n"
      "startxref\n{{startxref}}\n%%EOF\n");
  Loaded l = Load(pdf);
  ASSERT_EQ(l.result, 0);
  EXPECT_FALSE(l.doc->Reconstructed);
  EXPECT_EQ(TitleOf(*l.doc), "Hybrid");
  ASSERT_NE(l.doc->FindObject(4), nullptr);
  EXPECT_TRUE(l.doc->FindObject(4)->InObjectStream);
}

TEST(DocumentLoad, MissingTableAndDuplicateHeadersByReconstruction) {
  // No cross-reference data at all; object 4 written twice: the last one wins.
  const Bytes pdf =
      "%PDF-1.4\n"
      "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
      "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
      "4 0 obj\n<< /Title (First) >>\nendobj\n"
      "3 0 obj\n<< /Type /Page /Parent 2 0 R >>\nendobj\n"
      "4 0 obj\n<< /Title (Last) >>\nendobj\n"
      "99999999 0 obj\n(beyond the number limit)\nendobj\n"
      "trailer\n<< /Root 1 0 R /Info 4 0 R >>\n%%EOF\n";
  Loaded l = Load(pdf);
  ASSERT_EQ(l.result, 0);
  EXPECT_TRUE(l.doc->Reconstructed);
  EXPECT_EQ(TitleOf(*l.doc), "Last");
  int fours = 0;
  for (size_t i = 0; i < l.doc->ObjectCount(); ++i) fours += l.doc->ObjectAt(i).Number == 4;
  EXPECT_EQ(fours, 1);
  EXPECT_LT(l.doc->HighestNumber(), 10);
}

TEST(DocumentLoad, FileCutShortLoadsFromItsObjects) {
  const Bytes good = BasicPdf();
  Loaded l = Load(good.substr(0, good.find("xref") - 3));
  ASSERT_EQ(l.result, 0);
  EXPECT_TRUE(l.doc->Reconstructed);
  EXPECT_EQ(l.doc->GetCatalog()->TypeName(), "Catalog");
  EXPECT_EQ(l.doc->PageTree->PageCount(), 1);
  EXPECT_EQ(As<TPDFIndRef>(l.doc->Trailer->Get("Root", false))->RefNumber, 1);
}

TEST(DocumentLoad, StreamLengthRepairs) {
  struct Case {
    const char* name;
    std::string dict;
    std::string between;  // stream data and line ends
    std::string extra;    // object 5
    const char* data;
    int64_t length;
  };
  const std::string crlf = "HELLO WORLD\r\n";
  for (const Case& c : std::vector<Case>{
           {"right", "/Length 11", "HELLO WORLD\n", "1", "HELLO WORLD", 11},
           {"too small", "/Length 5", "HELLO WORLD\n", "1", "HELLO WORLD", 11},
           {"too large", "/Length 40", "HELLO WORLD\n", "1", "HELLO WORLD", 11},
           {"too large crlf", "/Length 40", crlf, "1", "HELLO WORLD", 11},
           {"blanks before endstream", "/Length 3", "HELLO WORLD\n  \t", "1", "HELLO WORLD", 11},
           {"missing", "", "HELLO WORLD\n", "1", "HELLO WORLD\n", 12},
           {"reference", "/Length 5 0 R", "HELLO WORLD\n", "11", "HELLO WORLD", 11},
           {"reference to a name", "/Length 5 0 R", "HELLO WORLD\n", "/Eleven", "HELLO WORLD", 11},
           {"reference to nothing", "/Length 9 0 R", "HELLO WORLD\n", "1", "HELLO WORLD\n", 12},
           {"reference to itself", "/Length 4 0 R", "HELLO WORLD\n", "1", "HELLO WORLD\n", 12},
       }) {
    Bytes pdf = BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                          "<< /Type /Page /Parent 2 0 R >>",
                          "<< " + c.dict + " /Kind /Test >>\nstream\n" + c.between + "endstream", c.extra},
                         "/Root 1 0 R");
    Loaded l = Load(pdf);
    ASSERT_EQ(l.result, 0) << c.name;
    auto* s = As<TPDFStream>(l.doc->ResolveNumber(4));
    ASSERT_NE(s, nullptr) << c.name;
    EXPECT_EQ(Bytes(s->Raw()), c.data) << c.name;
    EXPECT_EQ(s->StreamDict->GetInteger("Length", -1), c.length) << c.name;
    EXPECT_EQ(s->StreamDict->GetName("Kind")->NameBytes, "Test") << c.name;
    // The data are not copied out of the file bytes.
    const ByteView file = l.doc->FileBytes;
    EXPECT_TRUE(s->Raw().data() >= file.data() && s->Raw().data() < file.data() + file.size()) << c.name;
  }
}

TEST(DocumentLoad, StreamsWithoutEndReadAsTheirDictionary) {
  Bytes pdf = BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                        "<< /Type /Page /Parent 2 0 R >>", "<< /Length 40 >>\nstream\nHELLO WORLD\n"},
                       "/Root 1 0 R");
  Loaded l = Load(pdf);
  ASSERT_EQ(l.result, 0);
  EXPECT_NE(As<TPDFDictionary>(l.doc->ResolveNumber(4)), nullptr);
}

TEST(DocumentLoad, LengthReferenceChainsEnd) {
  // Each stream's /Length names the next stream; the last names the first.
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                      "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>"};
  const int chain = 200;
  for (int i = 0; i < chain; ++i) {
    const int next = i + 1 < chain ? 5 + i : 4;
    objects.push_back("<< /Length " + std::to_string(next) + " 0 R >>\nstream\nq Q\nendstream");
  }
  Loaded l = Load(BuildPdf(objects, "/Root 1 0 R"));
  ASSERT_EQ(l.result, 0);
  for (int n = 4; n < 4 + chain; ++n) {
    auto* s = As<TPDFStream>(l.doc->ResolveNumber(n));
    ASSERT_NE(s, nullptr) << n;
    EXPECT_EQ(Bytes(s->Raw()).substr(0, 3), "q Q") << n;
  }
}

TEST(DocumentLoad, ObjectStreamsFromQpdf) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  test::TempFile plain(BasicPdf());
  test::TempFile packed;
  ASSERT_TRUE(QpdfRun("--object-streams=generate --compress-streams=n " + plain.Path() + " " + packed.Path()));
  Loaded l = Load(test::ReadWholeFile(packed.Path()));
  ASSERT_EQ(l.result, 0);
  EXPECT_FALSE(l.doc->Reconstructed);
  EXPECT_EQ(TitleOf(*l.doc), "Hello");
  EXPECT_EQ(l.doc->PageTree->PageCount(), 1);
  auto* info = As<TPDFIndRef>(l.doc->Trailer->Get("Info", false));
  ASSERT_NE(info, nullptr);
  TPDFIndObj* rec = l.doc->FindObject(info->RefNumber);
  ASSERT_NE(rec, nullptr);
  EXPECT_TRUE(rec->InObjectStream);
  EXPECT_TRUE(rec->Decrypted);
  EXPECT_EQ(rec->Offset, 0);
  // Objects from object streams come first in the table.
  EXPECT_TRUE(l.doc->ObjectAt(0).InObjectStream);
  EXPECT_EQ(l.doc->ObjectStreams.size(), 1u);
}

TEST(DocumentLoad, ObjectStreamIndexNamingAnotherNumberReadsNull) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  test::TempFile plain(BasicPdf());
  test::TempFile packed;
  ASSERT_TRUE(QpdfRun("--object-streams=generate --compress-streams=n --stream-data=uncompress " + plain.Path() +
                      " " + packed.Path()));
  Bytes pdf = test::ReadWholeFile(packed.Path());
  Loaded first = Load(pdf);
  ASSERT_EQ(first.result, 0);
  const int32_t infoNumber = As<TPDFIndRef>(first.doc->Trailer->Get("Info", false))->RefNumber;
  TPDFIndObj* rec = first.doc->FindObject(infoNumber);
  ASSERT_TRUE(rec->InObjectStream);
  // Rewrite the number in the stream's head ("N offset" pairs) to one that is not there.
  auto* objStm = As<TPDFStream>(first.doc->ResolveNumber(rec->StreamNumber));
  ASSERT_NE(objStm, nullptr);
  ASSERT_TRUE(objStm->StreamDict->Get("Filter", false) == nullptr) << "object stream is compressed";
  const Bytes head = Bytes(objStm->Raw()).substr(0, size_t(objStm->StreamDict->GetInteger("First", 0)));
  const Bytes wanted = std::to_string(infoNumber) + " ";
  size_t at = head.find(wanted);
  while (at != Bytes::npos && at > 0 && head[at - 1] != ' ' && head[at - 1] != '\n') at = head.find(wanted, at + 1);
  ASSERT_NE(at, Bytes::npos);
  const size_t inFile = size_t(objStm->Raw().data() - first.doc->FileBytes.data()) + at;
  pdf.replace(inFile, wanted.size() - 1, std::string(wanted.size() - 1, '9'));
  Loaded l = Load(pdf);
  ASSERT_EQ(l.result, 0);
  EXPECT_NE(As<TPDFNull>(l.doc->ResolveNumber(infoNumber)), nullptr);
}

TEST(DocumentLoad, LinearizationDictionaryIsEmptied) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  test::TempFile plain(BasicPdf());
  test::TempFile linear;
  ASSERT_TRUE(QpdfRun("--linearize " + plain.Path() + " " + linear.Path()));
  const Bytes pdf = test::ReadWholeFile(linear.Path());
  const size_t obj = pdf.find(" 0 obj");
  ASSERT_LT(obj, 1024u);
  const size_t numberStart = pdf.rfind('\n', obj) + 1;
  const int32_t number = int32_t(std::stoi(pdf.substr(numberStart, obj - numberStart)));
  Loaded l = Load(pdf);
  ASSERT_EQ(l.result, 0);
  auto* dict = As<TPDFDictionary>(l.doc->ResolveNumber(number));
  ASSERT_NE(dict, nullptr);
  EXPECT_EQ(dict->Count(), 0);
  EXPECT_EQ(TitleOf(*l.doc), "Hello");
}

TEST(DocumentLoad, ParsesOnlyWhatTheLoadNeeds) {
  // 300 pages, each with a content stream; the load touches the first page only.
  const int pages = 300;
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
  std::string kids;
  for (int i = 0; i < pages; ++i) {
    const int page = 3 + 2 * i;
    kids += std::to_string(page) + " 0 R ";
    objects.push_back("<< /Type /Page /Parent 2 0 R /Contents " + std::to_string(page + 1) + " 0 R >>");
    objects.push_back("<< /Length 8 >>\nstream\nBT ET q\nendstream");
  }
  objects[1] = "<< /Type /Pages /Count " + std::to_string(pages) + " /Kids [" + kids + "] >>";
  Loaded l = Load(BuildPdf(objects, "/Root 1 0 R"));
  ASSERT_EQ(l.result, 0);
  // Catalog, pages node, page 1 and its content stream (the engine stream is new).
  EXPECT_EQ(LoadedCount(*l.doc), 5u);
  EXPECT_EQ(l.doc->PageTree->PageCount(), pages);
}

TEST(DocumentLoad, NoPagesRootFails) {
  Loaded noPages = Load(BuildPdf({"<< /Type /Catalog >>"}, "/Root 1 0 R"));
  EXPECT_EQ(noPages.result, TPDFDocument::kNotPdf);
  EXPECT_EQ(noPages.doc->ObjectCount(), 0u);
  EXPECT_TRUE(noPages.doc->FileBytes.empty());
  Loaded empty = Load("");
  EXPECT_EQ(empty.result, TPDFDocument::kNotPdf);
}

TEST(DocumentLoad, DamagedFilesNeverCrash) {
  const Bytes good = BasicPdf();
  for (size_t cut = 0; cut < good.size(); cut += 7) {
    Loaded l = Load(good.substr(0, cut));
    EXPECT_TRUE(l.result == 0 || l.result == 2) << cut;
    if (l.result == 0) l.doc->PageTree->PageWidth();
  }
  std::mt19937 random(1234);
  for (int round = 0; round < 300; ++round) {
    Bytes bad = good;
    const int flips = 1 + int(random() % 8);
    for (int i = 0; i < flips; ++i) bad[random() % bad.size()] = char(random() % 256);
    Loaded l = Load(bad);
    EXPECT_TRUE(l.result == 0 || l.result == 2) << round;
    if (l.result == 0) {
      for (size_t i = 0; i < l.doc->ObjectCount(); ++i) l.doc->ObjectAt(i).GetBody();
      l.doc->PageTree->PageHeight();
    }
  }
  for (const Bytes& garbage : {Bytes("%PDF-1.4\n"), Bytes("%PDF-1.4\n1 0 obj << /Length 5 0 R >> stream\n"),
                               Bytes("%PDF-1.4\ntrailer << /Root 1 0 R >>\n1 0 obj << /Pages 1 0 R >>"),
                               Bytes("%PDF-1.4\nstartxref\n99999999999999999999\n%%EOF"),
                               Bytes("%PDF-1.4\nxref\n0 2147483647\ntrailer << /Size 2147483647 >>")}) {
    Loaded l = Load(garbage);
    EXPECT_TRUE(l.result == 0 || l.result == 2) << garbage;
  }
}

TEST(DocumentLoad, LoadFromStreamReadsTheWholeFile) {
  test::TempFile file(BasicPdf());
  TKavrelWideFileStream stream(Utf8ToText(file.Path()), kFileOpenRead | kFileShareDenyWrite);
  stream.Seek(10, TSeekOrigin::Beginning);
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromStream(stream, u""), 0);
  EXPECT_EQ(doc.FileBytes, BasicPdf());
  EXPECT_EQ(TitleOf(doc), "Hello");
}

TEST(Document, CreateBlankAndNewObjects) {
  TPDFDocument doc;
  doc.CreateBlank();
  EXPECT_EQ(doc.Version, "1.4");
  EXPECT_EQ(doc.GetCatalog()->TypeName(), "Catalog");
  EXPECT_EQ(doc.GetPagesRoot(), As<TPDFDictionary>(doc.ResolveNumber(1)));
  EXPECT_EQ(doc.PageTree->SelectedPageNumber(), 1);
  EXPECT_DOUBLE_EQ(doc.PageTree->PageWidth(), 612);
  // The engine's content stream of page 1 is object 5.
  auto* content = As<TPDFStream>(doc.ResolveNumber(5));
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->StreamDict->GetName("LC")->NameBytes, "eZLT");
  auto* id = doc.Trailer->GetArray("ID");
  ASSERT_NE(id, nullptr);
  ASSERT_EQ(id->Count(), 2);
  EXPECT_EQ(As<TPDFString>(id->Item(0))->GetBytes().size(), 16u);
  EXPECT_EQ(As<TPDFString>(id->Item(0))->GetBytes(), As<TPDFString>(id->Item(1))->GetBytes());
  EXPECT_EQ(As<TPDFString>(id->Item(0))->Notation, 1);

  TPDFIndRef* ref = doc.MakeIndirect(doc.Structure.NewStringText(u"x", 0));
  EXPECT_EQ(ref->RefNumber, 6);
  EXPECT_EQ(doc.Trailer->GetInteger("Size", 0), 7);
  TPDFIndObj* rec = doc.FindObject(6);
  ASSERT_NE(rec, nullptr);
  EXPECT_TRUE(rec->Loaded);
  EXPECT_TRUE(rec->Decrypted);
  EXPECT_EQ(rec->IndirectText(), "6 0 obj\n(x)\nendobj\n");
  // The arena's hook enters objects the same way.
  const auto [number, generation] = doc.Structure.RegisterIndirect(nullptr, doc.Structure.NewNull());
  EXPECT_EQ(number, 7);
  EXPECT_EQ(generation, 0);
  EXPECT_EQ(doc.FindObject(7)->IndirectText(), "7 0 obj\nnull\nendobj\n");

  doc.Reset();
  EXPECT_EQ(doc.ObjectCount(), 0u);
  EXPECT_EQ(doc.Trailer->Count(), 0);
  EXPECT_EQ(doc.PageTree->PageCount(), 0);
}

TEST(Document, CatalogAndInfoAreMadeWhenMissing) {
  Loaded l = Load(BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                            "<< /Type /Page /Parent 2 0 R >>"},
                           "/Root 1 0 R"));
  ASSERT_EQ(l.result, 0);
  const int32_t before = l.doc->HighestNumber();
  TPDFDictionary* info = l.doc->GetInfo();
  EXPECT_EQ(info->Count(), 0);
  EXPECT_EQ(As<TPDFIndRef>(l.doc->Trailer->Get("Info", false))->RefNumber, before + 1);
  EXPECT_EQ(l.doc->GetInfo(), info);
}

}  // namespace
}  // namespace pagelume
