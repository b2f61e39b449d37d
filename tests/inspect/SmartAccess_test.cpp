// The inspection reader on hand-written files that break one thing each, and on files
// written by qpdf in its layouts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/inspect/MarlockPDFLibrarySmartAccess.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/InspectFiles.h"
#include "tests/support/PdfFixture.h"

namespace pagelume::test {
namespace {

// A file and a reader on it.
struct FromPath {
  std::string path;
};
struct Opened {
  explicit Opened(ByteView bytes)
      : file(std::make_unique<TempFile>(bytes)), stream(Utf8ToText(file->Path()), kFileOpenRead), reader(stream) {}
  explicit Opened(const FromPath& p) : stream(Utf8ToText(p.path), kFileOpenRead), reader(stream) {}
  std::unique_ptr<TempFile> file;
  TKavrelWideFileStream stream;
  TSmartPDFReader reader;
};

// The text of a dictionary entry that is a string, or "-".
std::string StringOf(TPDFObject* obj, const char* key) {
  TPDFDictionary* d = As<TPDFDictionary>(obj);
  TPDFString* s = d ? As<TPDFString>(d->Get(key, true)) : nullptr;
  return s ? s->BytesValue : "-";
}

std::string TypeOf(TPDFObject* obj) {
  TPDFDictionary* d = As<TPDFDictionary>(obj);
  if (TPDFStream* s = As<TPDFStream>(obj)) d = s->StreamDict;
  return d ? d->TypeName() : "-";
}

// A file whose cross-reference data is one stream (ASCIIHex, /W [1 4 2]) at the end of
// `body`. entries[i] describes object i; kind 1 with position -1 means the offset of
// object i's header in the body. The stream itself is object entries.size().
struct XEntry {
  int kind;
  int64_t position;
  int second;
};
Bytes XRefStreamPdf(const std::string& body, std::vector<XEntry> entries, const std::string& trailerExtra) {
  const size_t self = entries.size();
  entries.push_back({1, int64_t(body.size()), 0});
  std::string hex;
  char buffer[32];
  for (size_t i = 0; i < entries.size(); ++i) {
    XEntry e = entries[i];
    if (e.kind == 1 && e.position < 0) {
      size_t at = body.find("\n" + std::to_string(i) + " 0 obj");
      e.position = at == std::string::npos ? 0 : int64_t(at + 1);
    }
    snprintf(buffer, sizeof buffer, "%02X%08llX%04X", e.kind, (unsigned long long)e.position, e.second);
    hex += buffer;
  }
  hex += ">";
  std::string out = body + std::to_string(self) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(self + 1) +
                    " /W [1 4 2] /Filter /ASCIIHexDecode /Length " + std::to_string(hex.size()) + " " +
                    trailerExtra + " >>\nstream\n" + hex + "\nendstream\nendobj\nstartxref\n" +
                    std::to_string(body.size()) + "\n%%EOF\n";
  return out;
}

// An uncompressed object stream holding `objects` (number, text) as object `number`.
std::string ObjectStream(int number, const std::vector<std::pair<int, std::string>>& objects,
                         const std::string& extra = "") {
  std::string head, data;
  for (const auto& [n, text] : objects) {
    head += std::to_string(n) + " " + std::to_string(data.size()) + " ";
    data += text + "\n";
  }
  std::string all = head + data;
  return std::to_string(number) + " 0 obj\n<< /Type /ObjStm /N " + std::to_string(objects.size()) + " /First " +
         std::to_string(head.size()) + " /Length " + std::to_string(all.size()) + extra + " >>\nstream\n" + all +
         "\nendstream\nendobj\n";
}

const char kCatalog[] = "<< /Type /Catalog /Pages 2 0 R >>";
const char kPages[] = "<< /Type /Pages /Kids [] /Count 0 >>";

TEST(SmartReader, ClassicTableOpensAndReadsObjects) {
  Opened o(BuildPdf({kCatalog, kPages, "<< /Title (Hello) >>"}, "/Root 1 0 R /Info 3 0 R"));
  TSmartPDFReader& r = o.reader;
  ASSERT_EQ(r.Status, kReaderReady);
  EXPECT_EQ(r.Version, "1.4");
  EXPECT_FALSE(r.Encrypted);
  EXPECT_EQ(r.TableLength(), 4);
  EXPECT_EQ(r.Trailers().size(), 1u);
  EXPECT_EQ(TypeOf(r.FindTrailerDictionary("Root")), "Catalog");
  ASSERT_NE(r.FindTrailerReference("Info"), nullptr);
  EXPECT_EQ(r.FindTrailerReference("Info")->RefNumber, 3);
  EXPECT_EQ(StringOf(r.FindTrailerDictionary("Info"), "Title"), "Hello");
  EXPECT_EQ(r.FindTrailerDictionary("Size"), nullptr);  // not a dictionary
  EXPECT_EQ(r.GetObjectText(2), std::string("\n") + kPages + "\nendobj\n");
  // The last object's text runs to the end of the file.
  EXPECT_EQ(r.GetObjectText(3).find("\n<< /Title (Hello) >>\nendobj\nxref"), 0u);
  // Cached: the same object twice; uncached: a new one each time.
  EXPECT_EQ(r.GetObject(2), r.GetObject(2));
  TPDFStructure mine;
  TPDFObject* own = r.GetObject(2, mine);
  EXPECT_NE(own, r.GetObject(2));
  EXPECT_EQ(own->Structure, &mine);
  for (int32_t n : {0, -1, 4, 1000, INT32_MAX}) EXPECT_EQ(r.GetObject(n), nullptr) << n;
}

TEST(SmartReader, HeaderVersions) {
  struct Case {
    const char* header;
    uint8_t status;
    const char* version;
  } cases[] = {
      {"%PDF-1.7", kReaderReady, "1.7"},
      {"%PDF-1.4.2", kReaderReady, "1.4"},         // digit, point, digit, point: first three
      {"%PDF-12.3.4", kReaderNoHeader, ""},        // any other version with two points
      {"%!PS-Adobe-3.0 PDF-1.3", kReaderReady, "1.3"},
      {"%PDF-x", kReaderReady, ""},                // an empty version is accepted
      {"%PDX-1.4", kReaderNoHeader, ""},
  };
  for (const Case& c : cases) {
    Bytes pdf = FillTemplate(std::string(c.header) + "\n1 0 obj\n" + kCatalog +
                             "\nendobj\n{{xref}}trailer\n<< /Size {{size}} /Root 1 0 R >>\nstartxref\n"
                             "{{startxref}}\n%%EOF\n");
    Opened o(pdf);
    EXPECT_EQ(o.reader.Status, c.status) << c.header;
    if (c.status == kReaderReady) {
      EXPECT_EQ(o.reader.Version, c.version) << c.header;
    }
  }
}

TEST(SmartReader, JunkBeforeHeader) {
  for (bool fromHeader : {true, false}) {
    PdfFixtureOptions options;
    options.junkBeforeHeader = std::string(300, 'J') + "\n";
    options.offsetsFromHeader = fromHeader;
    Opened o(BuildPdf({kCatalog, kPages, "<< /Title (Junk) >>"}, "/Root 1 0 R /Info 3 0 R", options));
    ASSERT_EQ(o.reader.Status, kReaderReady) << fromHeader;
    EXPECT_EQ(o.reader.HeaderOffset(), 301);
    EXPECT_EQ(o.reader.HeaderRelative(), fromHeader);
    EXPECT_EQ(StringOf(o.reader.FindTrailerDictionary("Info"), "Title"), "Junk");
    EXPECT_EQ(TypeOf(o.reader.GetObject(2)), "Pages");
  }
}

TEST(SmartReader, UnusableFilesGetTheirStatus) {
  Bytes good = BuildPdf({kCatalog, kPages}, "/Root 1 0 R");
  // Cut off after "%%E": still found.
  Bytes cut = good.substr(0, good.rfind("%%EOF") + 3);
  EXPECT_EQ(Opened(cut).reader.Status, kReaderReady);

  Bytes noStartXRef = good.substr(0, good.find("startxref"));
  Bytes noTrailer = good;
  noTrailer.replace(noTrailer.find("trailer"), 7, "trai1er");
  Bytes prevLoop = FillTemplate(std::string("%PDF-1.4\n1 0 obj\n") + kCatalog +
                                "\nendobj\n{{xref}}trailer\n<< /Size {{size}} /Root 1 0 R /Prev {{startxref}} >>\n"
                                "startxref\n{{startxref}}\n%%EOF\n");
  struct Case {
    const char* name;
    Bytes bytes;
    uint8_t status;
  } cases[] = {
      {"text file", "hello, world\n", kReaderNoHeader},
      {"empty file", "", kReaderNoHeader},
      {"no startxref", noStartXRef, kReaderNoXRef},
      {"no trailer", noTrailer, kReaderNoXRef},
      {"prev names its own section", prevLoop, kReaderNoXRef},
  };
  for (const Case& c : cases) EXPECT_EQ(Opened(c.bytes).reader.Status, c.status) << c.name;
}

TEST(SmartReader, TableOneNumberTooHighIsMovedDown) {
  Bytes pdf = FillTemplate(std::string("%PDF-1.4\n1 0 obj\n") + kCatalog + "\nendobj\n2 0 obj\n" + kPages +
                           "\nendobj\n{{mark:x}}xref\n0 4\n0000000000 65535 f \n0000000000 65535 f \n"
                           "{{offset10:1}} 00000 n \n{{offset10:2}} 00000 n \ntrailer\n<< /Size 3 /Root 1 0 R >>\n"
                           "startxref\n{{pos:x}}\n%%EOF\n");
  Opened o(pdf);
  ASSERT_EQ(o.reader.Status, kReaderReady);
  EXPECT_EQ(TypeOf(o.reader.GetObject(1)), "Catalog");
  EXPECT_EQ(TypeOf(o.reader.GetObject(2)), "Pages");
  EXPECT_EQ(TypeOf(o.reader.FindTrailerDictionary("Root")), "Catalog");
}

TEST(SmartReader, IncrementalUpdateWithFreedObject) {
  Bytes pdf = FillTemplate(std::string("%PDF-1.4\n1 0 obj\n") + kCatalog + "\nendobj\n2 0 obj\n" + kPages +
                           "\nendobj\n3 0 obj\n<< /Title (Old) >>\nendobj\n4 0 obj\n<< /Old true >>\nendobj\n"
                           "{{mark:x1}}{{xref}}trailer\n<< /Size 5 /Root 1 0 R /Info 3 0 R >>\nstartxref\n"
                           "{{startxref}}\n%%EOF\n3 0 obj\n<< /Title (New) >>\nendobj\n{{mark:x2}}xref\n0 1\n"
                           "0000000000 65535 f \n3 2\n{{offset10:3}} 00000 n \n0000000000 00001 f \ntrailer\n"
                           "<< /Size 5 /Root 1 0 R /Info 3 0 R /Prev {{pos:x1}} >>\nstartxref\n{{pos:x2}}\n%%EOF\n");
  Opened o(pdf);
  ASSERT_EQ(o.reader.Status, kReaderReady);
  EXPECT_EQ(o.reader.Trailers().size(), 2u);
  EXPECT_NE(o.reader.MainTrailer->Get("Prev", false), nullptr);
  EXPECT_EQ(StringOf(o.reader.GetObject(3), "Title"), "New");
  EXPECT_EQ(o.reader.GetObject(4), nullptr);  // freed in the newest section
  EXPECT_EQ(TypeOf(o.reader.GetObject(1)), "Catalog");
}

TEST(SmartReader, EntryBeyondTheFileYieldsNoObject) {
  Bytes pdf = FillTemplate(std::string("%PDF-1.4\n1 0 obj\n") + kCatalog +
                           "\nendobj\n{{mark:x}}xref\n0 3\n0000000000 65535 f \n{{offset10:1}} 00000 n \n"
                           "9999999999 00000 n \ntrailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n{{pos:x}}\n%%EOF\n");
  Opened o(pdf);
  ASSERT_EQ(o.reader.Status, kReaderReady);
  EXPECT_EQ(o.reader.GetObject(2), nullptr);
  EXPECT_EQ(TypeOf(o.reader.GetObject(1)), "Catalog");
}

TEST(SmartReader, HugeObjectNumberNeedsNoHugeTable) {
  Bytes pdf = FillTemplate(std::string("%PDF-1.4\n2147483646 0 obj\n") + kCatalog +
                           "\nendobj\n{{mark:x}}xref\n0 1\n0000000000 65535 f \n2147483646 1\n"
                           "{{offset10:2147483646}} 00000 n \ntrailer\n<< /Size 2147483647 /Root 2147483646 0 R >>\n"
                           "startxref\n{{pos:x}}\n%%EOF\n");
  auto start = std::chrono::steady_clock::now();
  Opened o(pdf);
  ASSERT_EQ(o.reader.Status, kReaderReady);
  EXPECT_EQ(o.reader.TableLength(), 2147483647);
  EXPECT_EQ(TypeOf(o.reader.FindTrailerDictionary("Root")), "Catalog");
  EXPECT_EQ(o.reader.GetObject(2147483645), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(SmartReader, StreamDataFollowsEndstream) {
  struct Case {
    std::string length;
    const char* data;
  } cases[] = {
      {"10", "ABCDEFGHIJ"},
      {"7", "ABCDEFGHIJ\n"},     // too short: grows up to "endstream"
      {"12", "ABCDEFGHIJ\ne"},   // points into "endstream": kept
      {"4 0 R", "ABCDEFGHIJ"},   // indirect
  };
  for (const Case& c : cases) {
    Opened o(BuildPdf({kCatalog, kPages, "<< /Length " + c.length + " >>\nstream\nABCDEFGHIJ\nendstream", "10"},
                      "/Root 1 0 R"));
    TPDFStream* s = As<TPDFStream>(o.reader.GetObject(3));
    ASSERT_NE(s, nullptr) << c.length;
    EXPECT_EQ(s->Raw(), c.data) << c.length;
  }
  // A dictionary whose "stream" keyword is missing stays a dictionary.
  Opened o(BuildPdf({kCatalog, kPages, "<< /Length 10 >>\nABCDEFGHIJ\nendstream"}, "/Root 1 0 R"));
  EXPECT_NE(As<TPDFDictionary>(o.reader.GetObject(3)), nullptr);
}

// Objects whose text is long, placed last so that the text also runs through the table
// to the end of the file, read as their whole text reads: a "stream" keyword far behind a
// dictionary still makes it a stream, and a large array or string is whole.
TEST(SmartReader, LongTextsReadWhole) {
  std::string numbers = "[";
  for (int i = 0; i < 100000; ++i) numbers += " " + std::to_string(i);
  numbers += " ]";
  const std::string pad(200000, ' ');
  struct Case {
    std::string object;
    std::string expected;  // the object's text, or "stream:" and its data
  } cases[] = {
      {"<< /A 1 >>", "<< /A 1 >>"},
      {"<< /A 1 >>" + pad + "% no keyword here", "<< /A 1 >>"},
      {"<< /Length 3 >>" + pad + "\nstream\nabc\nendstream", "stream:abc"},
      {numbers, ""},
      {"(" + std::string(100000, 'x') + ")", "(" + std::string(100000, 'x') + ")"},
      {"42", "42"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.object.substr(0, 30));
    Opened o(BuildPdf({kCatalog, kPages, c.object}, "/Root 1 0 R " + std::string(300, ' ')));
    TPDFObject* obj = o.reader.GetObject(3);
    ASSERT_NE(obj, nullptr);
    if (c.expected.rfind("stream:", 0) == 0) {
      ASSERT_NE(As<TPDFStream>(obj), nullptr);
      EXPECT_EQ(As<TPDFStream>(obj)->Raw(), c.expected.substr(7));
    } else if (c.expected.empty()) {
      ASSERT_NE(As<TPDFArray>(obj), nullptr);
      EXPECT_EQ(As<TPDFArray>(obj)->Count(), 100000);
    } else {
      EXPECT_EQ(obj->ToText(), TPDFStructure().Parse(c.expected)->ToText());
    }
  }
}

TEST(SmartReader, ObjectStreamsAndHybridFiles) {
  std::string objstm = ObjectStream(3, {{1, kCatalog}, {2, "<< /Type /Pages /Kids [] /Count 7 >>"}});
  std::string body = "%PDF-1.5\n" + objstm;
  {
    Opened o(XRefStreamPdf(body, {{0, 0, 65535}, {2, 3, 0}, {2, 3, 1}, {1, -1, 0}}, "/Root 1 0 R"));
    ASSERT_EQ(o.reader.Status, kReaderReady);
    EXPECT_TRUE(o.reader.IsCompressed(1));
    EXPECT_FALSE(o.reader.IsCompressed(3));
    EXPECT_EQ(TypeOf(o.reader.GetObject(1)), "Catalog");
    EXPECT_EQ(TypeOf(o.reader.GetObject(2)), "Pages");
    EXPECT_EQ(TypeOf(o.reader.GetObject(3)), "ObjStm");
  }
  {
    // The entry's index names a pair of another object.
    Opened o(XRefStreamPdf(body, {{0, 0, 65535}, {2, 3, 1}, {2, 3, 0}, {1, -1, 0}}, "/Root 1 0 R"));
    EXPECT_EQ(o.reader.GetObject(1), nullptr);
    EXPECT_EQ(o.reader.GetObject(2), nullptr);
  }
  {
    // Hybrid: the classic table lists the compressed objects as free; the stream that its
    // trailer names through /XRefStm has their entries.
    Bytes withStream = XRefStreamPdf(body, {{0, 0, 65535}, {2, 3, 0}, {2, 3, 1}, {1, -1, 0}}, "");
    std::string head = withStream.substr(0, withStream.rfind("startxref"));
    size_t stmOffset = head.find("4 0 obj");
    char entries[200];
    snprintf(entries, sizeof entries,
             "xref\n0 5\n0000000000 65535 f \n0000000000 65535 f \n0000000000 65535 f \n%010zu 00000 n \n"
             "%010zu 00000 n \n",
             head.find("3 0 obj"), stmOffset);
    std::string pdf = head + entries + "trailer\n<< /Size 5 /Root 1 0 R /XRefStm " + std::to_string(stmOffset) +
                      " >>\nstartxref\n" + std::to_string(head.size()) + "\n%%EOF\n";
    Opened o(pdf);
    ASSERT_EQ(o.reader.Status, kReaderReady);
    EXPECT_EQ(TypeOf(o.reader.FindTrailerDictionary("Root")), "Catalog");
    EXPECT_EQ(TypeOf(o.reader.GetObject(2)), "Pages");
  }
}

TEST(SmartReader, LoopsEndWithoutObject) {
  // 3: an object stream that lies in itself; 4: one that lies in 5, which holds 4's
  // objects; 6 and 7: streams whose /Length leads to each other; 8: /Length is itself.
  std::string body = "%PDF-1.5\n" + ObjectStream(3, {{3, "<< >>"}}) + ObjectStream(5, {{4, "<< /Type /ObjStm >>"}}) +
                     "6 0 obj\n<< /Length 7 0 R >>\nstream\nxyz\nendstream\nendobj\n"
                     "7 0 obj\n<< /Length 6 0 R >>\nstream\nxyz\nendstream\nendobj\n"
                     "8 0 obj\n<< /Length 8 0 R >>\nstream\nxyz\nendstream\nendobj\n" +
                     ObjectStream(9, {{10, "<< /Type /Found >>"}}, " /Extends 9 0 R");
  Opened o(XRefStreamPdf(body,
                         {{0, 0, 65535}, {2, 4, 0}, {2, 4, 1}, {2, 3, 0}, {2, 5, 0}, {1, -1, 0}, {1, -1, 0},
                          {1, -1, 0}, {1, -1, 0}, {1, -1, 0}, {2, 9, 0}},
                         "/Root 1 0 R"));
  ASSERT_EQ(o.reader.Status, kReaderReady);
  for (int32_t n : {1, 2, 3}) EXPECT_EQ(o.reader.GetObject(n), nullptr) << n;
  EXPECT_EQ(TypeOf(o.reader.GetObject(4)), "ObjStm");  // a dictionary in 5, not a stream
  EXPECT_EQ(As<TPDFStream>(o.reader.GetObject(4)), nullptr);
  // The cycles are cut: a /Length that is no number leaves the dictionary alone.
  for (int32_t n : {6, 7, 8}) {
    EXPECT_NE(As<TPDFDictionary>(o.reader.GetObject(n)), nullptr) << n;
  }
  EXPECT_EQ(TypeOf(o.reader.GetObject(10)), "Found");
}

TEST(SmartReader, CacheKeepsTheHundredLatest) {
  std::vector<std::string> objects(kObjectCacheCapacity + 2, "<< /K 1 >>");
  Opened o(BuildPdf(objects));
  TPDFObject* first = o.reader.GetObject(1);
  ASSERT_NE(first, nullptr);
  for (int32_t n = 2; n <= int32_t(kObjectCacheCapacity); ++n) o.reader.GetObject(n);
  EXPECT_EQ(o.reader.GetObject(1), first);  // 100 distinct objects: still there
  o.reader.GetObject(int32_t(kObjectCacheCapacity) + 1);
  TPDFObject* again = o.reader.GetObject(1);
  EXPECT_NE(again, first);  // pushed out and parsed anew
  EXPECT_EQ(again->ToText(), first->ToText());
}

TEST(SmartReader, QpdfLayouts) {
  for (const char* name : {"classic", "objstm", "linearized"}) {
    const InspectFile* f = FindInspectFile(name);
    if (!f) continue;
    Opened o(FromPath{f->path});
    ASSERT_EQ(o.reader.Status, kReaderReady) << name;
    TPDFDictionary* catalog = o.reader.FindTrailerDictionary("Root");
    EXPECT_EQ(TypeOf(catalog), "Catalog") << name;
    TPDFDictionary* pages = catalog ? catalog->GetDictionary("Pages") : nullptr;
    ASSERT_NE(pages, nullptr) << name;
    EXPECT_EQ(pages->GetInteger("Count", -1), kInspectPages) << name;
    EXPECT_EQ(StringOf(o.reader.FindTrailerDictionary("Info"), "Title"), kInspectTitle) << name;
  }
  // The object-stream layout's cross-reference stream uses a PNG predictor, and its
  // catalog lives in an object stream.
  if (const InspectFile* f = FindInspectFile("objstm")) {
    EXPECT_NE(ReadWholeFile(f->path).find("/Predictor 12"), std::string::npos);
    Opened o(FromPath{f->path});
    TPDFIndRef* root = o.reader.FindTrailerReference("Root");
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(o.reader.IsCompressed(root->RefNumber));
  }
}

}  // namespace
}  // namespace pagelume::test
