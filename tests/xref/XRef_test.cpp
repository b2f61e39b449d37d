// The cross-reference reader, driven like its owners do: FindStartXRef, ReadSection,
// and a recording owner that keeps every event in order.
#include "engine/xref/MarlockPDFLibraryXRef.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <sstream>

#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

using pagelume::test::FillTemplate;
using pagelume::test::BuildPdf;

// Every event as one line: "S off", "E number second kind position", "T text".
struct Recording {
  bool ok = false;
  int64_t startxref = 0;
  std::vector<std::string> events;
  bool xrefStreamSeen = false, xrefStmSeen = false;
  int64_t lastPrev = 0;
  int32_t subsections = 0, prevs = 0;

  std::vector<std::string> Entries() const { return Starting("E "); }
  std::vector<std::string> Trailers() const { return Starting("T "); }
  std::vector<std::string> Sections() const { return Starting("S "); }
  std::vector<std::string> Starting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& e : events)
      if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
  }
  // Events with trailers shortened to "T", for checking the order of reports.
  std::vector<std::string> Outline() const {
    std::vector<std::string> out;
    for (const std::string& e : events) out.push_back(e[0] == 'T' ? "T" : e);
    return out;
  }
};

std::string EntryText(int32_t number, int32_t second, char kind, int64_t position) {
  return "E " + std::to_string(number) + " " + std::to_string(second) + " " + std::string(1, kind) + " " +
         std::to_string(position);
}

void Attach(TPDFXRefReader& reader, Recording& rec) {
  reader.OnEntry = [&rec](int32_t number, int32_t second, char kind, int64_t position) {
    rec.events.push_back(EntryText(number, second, kind, position));
  };
  reader.OnTrailer = [&rec](const Bytes& text) { rec.events.push_back("T " + text); };
  reader.OnSection = [&rec](int64_t offset) { rec.events.push_back("S " + std::to_string(offset)); };
}

void Finish(TPDFXRefReader& reader, Recording& rec) {
  rec.xrefStreamSeen = reader.XRefStreamSeen;
  rec.xrefStmSeen = reader.XRefStmSeen;
  rec.lastPrev = reader.LastPrev;
  rec.subsections = reader.SubsectionCount;
  rec.prevs = reader.PrevCount;
}

// The owners' calling order over a memory image.
Recording Read(const Bytes& pdf, int64_t baseOffset = 0) {
  Recording rec;
  TPDFXRefReader reader(pdf);
  Attach(reader, rec);
  reader.BaseOffset = baseOffset;
  rec.startxref = TPDFXRefReader(pdf).FindStartXRef();
  rec.ok = reader.ReadSection(rec.startxref);
  Finish(reader, rec);
  return rec;
}

// The same through a file stream.
Recording ReadFromFile(const Bytes& pdf) {
  pagelume::test::TempFile file(pdf);
  TKavrelWideFileStream stream(Utf8ToText(file.Path()), kFileOpenRead | kFileShareDenyWrite);
  Recording rec;
  TPDFXRefReader reader(stream);
  Attach(reader, rec);
  rec.startxref = reader.FindStartXRef();
  rec.ok = reader.ReadSection(rec.startxref);
  Finish(reader, rec);
  return rec;
}

int64_t At(const Bytes& s, const std::string& what, size_t from = 0) {
  size_t at = s.find(what, from);
  EXPECT_NE(at, Bytes::npos) << what;
  return int64_t(at);
}

// An uncompressed cross-reference stream object with the given dictionary entries.
std::string XRefStreamObject(int number, const std::string& dictEntries, const std::string& data) {
  return std::to_string(number) + " 0 obj\n<< /Type /XRef " + dictEntries + " /Length " +
         std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
}

// One entry of big-endian fields.
std::string Row(std::initializer_list<std::pair<uint64_t, int>> fields) {
  std::string out;
  for (auto [value, width] : fields)
    for (int i = width - 1; i >= 0; --i) out += char((value >> (8 * i)) & 0xFF);
  return out;
}

const std::vector<std::string> kThreeObjects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                                "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"};

// ---- startxref ------------------------------------------------------------------------

TEST(XRefReader, FindStartXRef) {
  const Bytes body = "%PDF-1.4\nxref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 >>\n";
  struct Case {
    const char* name;
    Bytes tail;
    int64_t expected;
  };
  const Case cases[] = {
      {"plain", "startxref\n9\n%%EOF\n", 9},
      {"CR line ends and spaces", "startxref\r  9  \r%%EOF\r", 9},
      {"garbage after the marker", "startxref\n9\n%%EOF\n" + Bytes(900, 'g'), 9},
      {"marker far before the end", "startxref\n9\n%%EOF\n" + Bytes(3000, 'g'), 9},
      {"last marker wins", "startxref\n7\n%%EOF\nstartxref\n9\n%%EOF\n", 9},
      {"truncated marker", "startxref\n9\n%%E", 9},
      {"truncated marker and a line end", "startxref\n9\n%%E\n", 9},
      {"comment after the number", "startxref\n9 % the table\n%%EOF\n", 9},
      {"number with text after it", "startxref\n9 xref\n%%EOF\n", 0},
      {"last of several lines", "startxref\n5\n\n9\n%%EOF\n", 9},
      {"NUL separated", Bytes("startxref\0009\000%%EOF", 16), 9},
      {"no number", "startxref\n%%EOF\n", 0},
      {"no startxref", "9\n%%EOF\n", 0},
      {"no marker", "startxref\n9\n", 0},
      {"keyword far before the marker", "startxref\n9\n" + Bytes(2500, ' ') + "\n%%EOF", 0},
      {"64-bit value", "startxref\n4611686018427387904\n%%EOF\n", int64_t(1) << 62},
  };
  for (const Case& c : cases) {
    Bytes pdf = body + c.tail;
    EXPECT_EQ(TPDFXRefReader(pdf).FindStartXRef(), c.expected) << c.name;
  }
  // "keyword far before the marker": the last line before the marker is blank spaces only,
  // dropped after trimming, so the number line is the last one.
  EXPECT_EQ(TPDFXRefReader(Bytes()).FindStartXRef(), 0);
  EXPECT_EQ(TPDFXRefReader(Bytes("%%EOF")).FindStartXRef(), 0);
  EXPECT_EQ(TPDFXRefReader(nullptr, 0).FindStartXRef(), 0);
}

// ---- classic tables ---------------------------------------------------------------------

TEST(XRefReader, ClassicTable) {
  Bytes pdf = BuildPdf(kThreeObjects, "/Root 1 0 R");
  Recording rec = Read(pdf);
  EXPECT_TRUE(rec.ok);
  EXPECT_EQ(rec.startxref, At(pdf, "xref\n0 4"));
  std::vector<std::string> expected = {"S " + std::to_string(rec.startxref),
                                       EntryText(0, 65535, 'f', 0),
                                       EntryText(1, 0, 'n', At(pdf, "1 0 obj")),
                                       EntryText(2, 0, 'n', At(pdf, "2 0 obj")),
                                       EntryText(3, 0, 'n', At(pdf, "3 0 obj")),
                                       "T"};
  EXPECT_EQ(rec.Outline(), expected);
  ASSERT_EQ(rec.Trailers().size(), 1u);
  EXPECT_NE(rec.Trailers()[0].find("/Root 1 0 R"), std::string::npos);
  EXPECT_NE(rec.Trailers()[0].find("/Size 4"), std::string::npos);
  EXPECT_EQ(rec.subsections, 1);
  EXPECT_EQ(rec.prevs, 0);
  EXPECT_EQ(rec.lastPrev, -1);
  EXPECT_FALSE(rec.xrefStreamSeen);
  EXPECT_FALSE(rec.xrefStmSeen);

  // A file stream gives the same reports.
  Recording fromFile = ReadFromFile(pdf);
  EXPECT_TRUE(fromFile.ok);
  EXPECT_EQ(fromFile.events, rec.events);
}

TEST(XRefReader, EntryLengths) {
  // 19-, 20- and 21-byte entries; enough of them that a table read as count x 20 bytes
  // would lose the last 21-byte entries, and that the table spans several read windows
  // with entries cut at their edges.
  std::vector<std::string> objects(5000, "<< >>");
  for (const char* end : {" \n", "\r\n", "\n", " \r\n"}) {
    SCOPED_TRACE(testing::PrintToString(end));
    pagelume::test::PdfFixtureOptions options;
    options.entryEnd = end;
    Bytes pdf = BuildPdf(objects, "", options);
    for (const Recording& rec : {Read(pdf), ReadFromFile(pdf)}) {
      EXPECT_TRUE(rec.ok);
      std::vector<std::string> entries = rec.Entries();
      ASSERT_EQ(entries.size(), objects.size() + 1);
      EXPECT_EQ(entries[0], EntryText(0, 65535, 'f', 0));
      size_t from = 0;
      for (size_t n = 1; n < entries.size(); ++n) {
        const int64_t at = At(pdf, "\n" + std::to_string(n) + " 0 obj", from) + 1;
        from = size_t(at);
        ASSERT_EQ(entries[n], EntryText(int32_t(n), 0, 'n', at));
      }
      EXPECT_EQ(rec.Trailers().size(), 1u);
    }
  }
}

TEST(XRefReader, SubsectionsAndOddHeaders) {
  const std::string objects = "%PDF-1.4\n1 0 obj\n1\nendobj\n4 0 obj\n4\nendobj\n";
  const std::string trailer = "trailer\n<< /Size 5 >>\nstartxref\n{{pos:x}}\n%%EOF\n";
  {
    // Two subsections, the second with junk in front of its numbers.
    Bytes pdf = FillTemplate(objects + "{{mark:x}}xref\n0 2\n0000000000 65535 f \n{{offset10:1}} 00000 n \n"
                                       " # 4 1\n{{offset10:4}} 00000 n \n" + trailer);
    Recording rec = Read(pdf);
    EXPECT_TRUE(rec.ok);
    EXPECT_EQ(rec.subsections, 2);
    EXPECT_EQ(rec.Entries(), (std::vector<std::string>{EntryText(0, 65535, 'f', 0),
                                                       EntryText(1, 0, 'n', At(pdf, "1 0 obj")),
                                                       EntryText(4, 0, 'n', At(pdf, "4 0 obj"))}));
  }
  {
    // A table that starts one number too high is read from object 0.
    Bytes pdf = FillTemplate(objects + "{{mark:x}}xref\n1 2\n0000000000 65535 f \n{{offset10:1}} 00000 n \n" +
                             trailer);
    Recording rec = Read(pdf);
    EXPECT_EQ(rec.Entries(), (std::vector<std::string>{EntryText(0, 65535, 'f', 0),
                                                       EntryText(1, 0, 'n', At(pdf, "1 0 obj"))}));
  }
  {
    // Count 0 ends the table, even with entries after it; the trailer is still found.
    Bytes pdf = FillTemplate(objects + "{{mark:x}}xref\n0 0\n0000000000 65535 f \n" + trailer);
    Recording rec = Read(pdf);
    EXPECT_TRUE(rec.ok);
    EXPECT_TRUE(rec.Entries().empty());
    EXPECT_EQ(rec.subsections, 0);
    EXPECT_EQ(rec.Trailers().size(), 1u);
  }
  {
    // Entries that do not convert are skipped; the kind is taken as written.
    Bytes pdf = FillTemplate(objects + "{{mark:x}}xref\n0 3\n000000000x 65535 f \n{{offset10:1}} 00000 ? \n"
                                       "{{offset10:4}} -0001 n \n" + trailer);
    Recording rec = Read(pdf);
    EXPECT_TRUE(rec.ok);
    EXPECT_EQ(rec.Entries(), (std::vector<std::string>{EntryText(1, 0, '?', At(pdf, "1 0 obj"))}));
  }
  {
    // A table cut short by the trailer: the entries that are there count.
    Bytes pdf = FillTemplate(objects + "{{mark:x}}xref\n0 9\n0000000000 65535 f \n" + trailer);
    Recording rec = Read(pdf);
    EXPECT_TRUE(rec.ok);
    EXPECT_EQ(rec.Entries(), (std::vector<std::string>{EntryText(0, 65535, 'f', 0)}));
  }
  {
    // No trailer at all: the section fails but its entries were reported.
    Bytes pdf = FillTemplate(objects + "{{mark:x}}xref\n0 1\n0000000000 65535 f \nstartxref\n{{pos:x}}\n%%EOF\n");
    Recording rec = Read(pdf);
    EXPECT_FALSE(rec.ok);
    EXPECT_EQ(rec.Entries().size(), 1u);
    EXPECT_EQ(rec.Sections(), (std::vector<std::string>{"S " + std::to_string(rec.startxref),
                                                        "S -" + std::to_string(rec.startxref)}));
  }
}

TEST(XRefReader, TrailerFoundInLaterAttempts) {
  // A trailer dictionary longer than the first 2048-byte attempt.
  Bytes pdf = BuildPdf(kThreeObjects, "/Root 1 0 R /Pad (" + Bytes(5000, 'p') + ")");
  Recording rec = Read(pdf);
  EXPECT_TRUE(rec.ok);
  ASSERT_EQ(rec.Trailers().size(), 1u);
  EXPECT_NE(rec.Trailers()[0].find("/Root"), std::string::npos);
  // Beyond the five attempts (10 KiB) the table fails.
  Recording tooLong = Read(BuildPdf(kThreeObjects, "/Pad (" + Bytes(11000, 'p') + ")"));
  EXPECT_FALSE(tooLong.ok);
  EXPECT_TRUE(tooLong.Trailers().empty());
}

TEST(XRefReader, WidenedSearchOverLineFeeds) {
  std::string head = "%PDF-1.4\n1 0 obj\n1\nendobj\n";
  std::string rest = "xref\n0 2\n0000000000 65535 f \n{{offset10:1}} 00000 n \ntrailer\n<< /Size 2 >>\n"
                     "startxref\n{{pos:x}}\n%%EOF\n";
  Recording lf = Read(FillTemplate(head + "{{mark:x}}" + std::string(40, '\n') + rest));
  EXPECT_TRUE(lf.ok);
  EXPECT_EQ(lf.Entries().size(), 2u);
  Recording nul = Read(FillTemplate(head + "{{mark:x}}" + std::string(3000, '\0') + rest));
  EXPECT_TRUE(nul.ok);
  // CR LF pairs are not skipped.
  std::string crlf;
  for (int i = 0; i < 20; ++i) crlf += "\r\n";
  Recording pairs = Read(FillTemplate(head + "{{mark:x}}" + crlf + rest));
  EXPECT_FALSE(pairs.ok);
  EXPECT_TRUE(pairs.Entries().empty());
  // An offset into nothing at all.
  Recording nothing = Read(FillTemplate(head + "{{mark:x}}" + std::string(100, ' ') + rest));
  EXPECT_FALSE(nothing.ok);
}

TEST(XRefReader, JunkBeforeHeaderWithBaseOffset) {
  pagelume::test::PdfFixtureOptions options;
  options.junkBeforeHeader = std::string(100, 'J') + "\n";
  options.offsetsFromHeader = true;
  Bytes pdf = BuildPdf(kThreeObjects, "/Root 1 0 R", options);
  EXPECT_FALSE(Read(pdf).ok);  // the offsets count from the header
  Recording rec = Read(pdf, 101);
  EXPECT_TRUE(rec.ok);
  // Positions are reported as written in the file.
  EXPECT_EQ(rec.Entries()[1], EntryText(1, 0, 'n', At(pdf, "1 0 obj") - 101));
}

TEST(XRefReader, IncrementalUpdateReportsNewestFirst) {
  // Section 1 defines 1..3; the update redefines 2 and frees 3.
  Bytes pdf = FillTemplate(
      "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n2 0 obj\n(old)\nendobj\n3 0 obj\n(three)\nendobj\n"
      "{{mark:x1}}{{xref}}trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n{{pos:x1}}\n%%EOF\n"
      "2 0 obj\n(new)\nendobj\n"
      "{{mark:x2}}xref\n0 1\n0000000000 65535 f \n2 2\n{{offset10:2}} 00000 n \n0000000000 00001 f \n"
      "trailer\n<< /Size 4 /Root 1 0 R /Prev {{pos:x1}} >>\nstartxref\n{{pos:x2}}\n%%EOF\n");
  Recording rec = Read(pdf);
  EXPECT_TRUE(rec.ok);
  int64_t x1 = At(pdf, "xref\n0 4"), x2 = At(pdf, "xref\n0 1");
  size_t old2 = pdf.find("2 0 obj"), new2 = pdf.find("2 0 obj", old2 + 1);
  std::vector<std::string> expected = {
      "S " + std::to_string(x2),         EntryText(0, 65535, 'f', 0),  EntryText(2, 0, 'n', int64_t(new2)),
      EntryText(3, 1, 'f', 0),           "T",                          "S " + std::to_string(x1),
      EntryText(0, 65535, 'f', 0),       EntryText(1, 0, 'n', At(pdf, "1 0 obj")),
      EntryText(2, 0, 'n', int64_t(old2)), EntryText(3, 0, 'n', At(pdf, "3 0 obj")), "T"};
  EXPECT_EQ(rec.Outline(), expected);
  EXPECT_EQ(rec.subsections, 3);
  EXPECT_EQ(rec.prevs, 1);
  EXPECT_EQ(rec.lastPrev, x1);
}

TEST(XRefReader, EntryEventThatThrowsFailsTheSection) {
  Bytes pdf = BuildPdf(kThreeObjects);
  TPDFXRefReader reader(pdf);
  int seen = 0;
  std::vector<int64_t> sections;
  reader.OnEntry = [&](int32_t, int32_t, char, int64_t) {
    if (++seen == 2) throw std::runtime_error("owner gives up");
  };
  reader.OnSection = [&](int64_t offset) { sections.push_back(offset); };
  int64_t start = reader.FindStartXRef();
  EXPECT_FALSE(reader.ReadSection(start));
  EXPECT_EQ(seen, 2);
  EXPECT_EQ(sections, (std::vector<int64_t>{start, -start}));
}

// ---- cross-reference streams --------------------------------------------------------

// qpdf writes cross-reference streams with Flate and the PNG Up predictor; its own
// --show-xref listing is the oracle for the entries.
TEST(XRefReader, QpdfCrossReferenceStreams) {
  if (!pagelume::test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf not installed";
  // 300 more objects, all reachable so that qpdf keeps them: the offsets need two bytes.
  std::vector<std::string> objects = kThreeObjects;
  objects[0] = "<< /Type /Catalog /Pages 2 0 R /Extra 4 0 R >>";
  std::string all = "[";
  for (int i = 0; i < 300; ++i) {
    objects.push_back("(string " + std::to_string(i) + ")");
    all += " " + std::to_string(i + 5) + " 0 R";
  }
  objects.insert(objects.begin() + 3, all + " ]");
  pagelume::test::TempFile in(BuildPdf(objects, "/Root 1 0 R")), out;
  auto made = pagelume::test::RunCommand("qpdf --object-streams=generate " +
                                         pagelume::test::ShellQuote(in.Path()) + " " +
                                         pagelume::test::ShellQuote(out.Path()));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  Bytes pdf = pagelume::test::ReadWholeFile(out.Path());
  ASSERT_NE(pdf.find("/Predictor 12"), Bytes::npos);

  Recording rec = Read(pdf);
  EXPECT_TRUE(rec.ok);
  EXPECT_TRUE(rec.xrefStreamSeen);
  ASSERT_EQ(rec.Trailers().size(), 1u);
  EXPECT_NE(rec.Trailers()[0].find("/XRef"), std::string::npos);

  std::ostringstream ours;
  for (const std::string& e : rec.Entries()) {
    std::istringstream fields(e.substr(2));
    int32_t number, second;
    std::string kind;
    int64_t position;
    fields >> number >> second >> kind >> position;
    if (kind == "n") ours << number << "/" << second << ": uncompressed; offset = " << position << "\n";
    if (kind == "c") ours << number << "/0: compressed; stream = " << position << ", index = " << second << "\n";
  }
  auto listing = pagelume::test::RunCommand("qpdf --show-xref " + pagelume::test::ShellQuote(out.Path()));
  ASSERT_EQ(listing.exitCode, 0);
  // The first line that differs, not the whole listing.
  std::istringstream a(ours.str()), b(listing.output);
  std::string lineA, lineB;
  int line = 0;
  while (std::getline(b, lineB)) {
    ++line;
    if (!std::getline(a, lineA) || lineA != lineB) {
      ADD_FAILURE() << "line " << line << ": ours '" << lineA << "', qpdf '" << lineB << "'";
      break;
    }
  }
  EXPECT_FALSE(std::getline(a, lineA)) << "extra entry " << lineA;
  EXPECT_EQ(ReadFromFile(pdf).events, rec.events);
}

TEST(XRefReader, HybridFile) {
  // An update section whose classic table leaves 3 and 4 free and whose trailer points at
  // a cross-reference stream that places them in object stream 5.
  const std::string data = Row({{2, 1}, {5, 2}, {0, 1}}) + Row({{2, 1}, {5, 2}, {1, 1}});
  Bytes pdf = FillTemplate(
      "%PDF-1.5\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n2 0 obj\n(old)\nendobj\n"
      "{{mark:x1}}{{xref}}trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n{{pos:x1}}\n%%EOF\n"
      "2 0 obj\n(new)\nendobj\n5 0 obj\n<< /Type /ObjStm /N 2 /First 8 /Length 12 >>\nstream\n3 0 4 2 1 2\n"
      "endstream\nendobj\n" +
      XRefStreamObject(6, "/Size 7 /W [1 2 1] /Index [3 2]", data) +
      "{{mark:x2}}xref\n0 1\n0000000000 65535 f \n2 4\n{{offset10:2}} 00000 n \n0000000000 00001 f \n"
      "0000000000 00001 f \n{{offset10:5}} 00000 n \n"
      "trailer\n<< /Size 7 /Root 1 0 R /Prev {{pos:x1}} /XRefStm {{offset:6}} >>\nstartxref\n{{pos:x2}}\n%%EOF\n");
  Recording rec = Read(pdf);
  EXPECT_TRUE(rec.ok);
  EXPECT_TRUE(rec.xrefStmSeen);
  EXPECT_TRUE(rec.xrefStreamSeen);
  int64_t x1 = At(pdf, "xref\n0 3"), x2 = At(pdf, "xref\n0 1"), stm = At(pdf, "6 0 obj");
  size_t old2 = pdf.find("2 0 obj"), new2 = pdf.find("2 0 obj", old2 + 1);
  std::vector<std::string> expected = {
      "S " + std::to_string(x2),   EntryText(0, 65535, 'f', 0),        EntryText(2, 0, 'n', int64_t(new2)),
      EntryText(3, 1, 'f', 0),     EntryText(4, 1, 'f', 0),            EntryText(5, 0, 'n', At(pdf, "5 0 obj")),
      "T",                         "S " + std::to_string(stm),         EntryText(3, 0, 'c', 5),
      EntryText(4, 1, 'c', 5),     "T",                                "S " + std::to_string(x1),
      EntryText(0, 65535, 'f', 0), EntryText(1, 0, 'n', At(pdf, "1 0 obj")), EntryText(2, 0, 'n', int64_t(old2)),
      "T"};
  EXPECT_EQ(rec.Outline(), expected);
  EXPECT_EQ(rec.prevs, 1);
  EXPECT_EQ(ReadFromFile(pdf).events, rec.events);
}

// Builds "%PDF-1.5", objects 1 and 2, the given cross-reference stream as object 9 and a
// startxref naming it.
Bytes StreamFile(const std::string& dictEntries, const std::string& data, const std::string& extra = "") {
  return FillTemplate("%PDF-1.5\n1 0 obj\n<< /Type /Catalog >>\nendobj\n2 0 obj\n(two)\nendobj\n" + extra +
                      XRefStreamObject(9, dictEntries, data) + "startxref\n{{offset:9}}\n%%EOF\n");
}

TEST(XRefReader, CrossReferenceStreamFields) {
  struct Case {
    const char* name;
    std::string dict;
    std::string data;
    std::vector<std::string> entries;
  };
  const std::vector<Case> cases = {
      {"types 0, 1, 2 and another", "/Size 4 /W [1 2 2]",
       Row({{0, 1}, {7, 2}, {65535, 2}}) + Row({{1, 1}, {15, 2}, {3, 2}}) + Row({{2, 1}, {9, 2}, {4, 2}}) +
           Row({{7, 1}, {1, 2}, {1, 2}}),
       {EntryText(0, 65535, 'f', 7), EntryText(1, 3, 'n', 15), EntryText(2, 4, 'c', 9), EntryText(3, 0, ' ', 0)}},
      {"no third field", "/Size 2 /W [1 2 0]", Row({{1, 1}, {15, 2}}) + Row({{1, 1}, {40, 2}}),
       {EntryText(0, 0, 'n', 15), EntryText(1, 0, 'n', 40)}},
      {"no type field", "/Size 2 /W [0 2 1]", Row({{15, 2}, {0, 1}}) + Row({{0, 2}, {2, 1}}),
       {EntryText(0, 0, 'n', 15), EntryText(1, 2, 'n', 0)}},
      {"subsections", "/Size 20 /Index [2 1 10 2] /W [1 1 1]",
       Row({{1, 1}, {5, 1}, {0, 1}}) + Row({{1, 1}, {6, 1}, {0, 1}}) + Row({{1, 1}, {7, 1}, {0, 1}}),
       {EntryText(2, 0, 'n', 5), EntryText(10, 0, 'n', 6), EntryText(11, 0, 'n', 7)}},
      {"8-byte offsets", "/Size 1 /W [1 8 1]", Row({{1, 1}, {0x0102030405060708ull, 8}, {0, 1}}),
       {EntryText(0, 0, 'n', 0x0102030405060708ll)}},
      {"offset beyond 63 bits", "/Size 1 /W [1 8 1]", Row({{1, 1}, {0xFFFFFFFFFFFFFFFFull, 8}, {0, 1}}),
       {EntryText(0, 0, 'n', INT64_MAX)}},
      {"a width above 8 reads nothing", "/Size 1 /W [1 9 1]", Row({{1, 1}, {3, 1}}), {EntryText(0, 3, 'n', 0)}},
      {"non-numeric widths and index", "/Size 5 /Index [/A 1] /W [1 (x) 1]", Row({{1, 1}, {3, 1}}),
       {EntryText(0, 3, 'n', 0)}},
      // Entries end with the data: a short stream, a huge /Size or /Index count.
      {"data shorter than announced", "/Size 3 /W [1 2 1]", Row({{1, 1}, {15, 2}, {0, 1}}) + "\x01\x00",
       {EntryText(0, 0, 'n', 15)}},
      {"huge /Size", "/Size 2147483647 /W [1 1 1]", Row({{1, 1}, {15, 1}, {0, 1}}), {EntryText(0, 0, 'n', 15)}},
      {"huge /Index", "/Size 3 /Index [2147483646 2147483647 0 2147483647] /W [1 1 1]",
       Row({{1, 1}, {15, 1}, {0, 1}}) + Row({{1, 1}, {16, 1}, {0, 1}}) + Row({{1, 1}, {17, 1}, {0, 1}}),
       // Numbers end at 2147483647; the next subsection takes the following data.
       {EntryText(2147483646, 0, 'n', 15), EntryText(2147483647, 0, 'n', 16), EntryText(0, 0, 'n', 17)}},
      {"negative first number", "/Size 3 /Index [-1 3] /W [1 1 1]",
       Row({{1, 1}, {15, 1}, {0, 1}}) + Row({{1, 1}, {16, 1}, {0, 1}}) + Row({{1, 1}, {17, 1}, {0, 1}}),
       {EntryText(0, 0, 'n', 16), EntryText(1, 0, 'n', 17)}},
      {"huge widths", "/Size 2 /W [2147483647 2147483647 2147483647]", Row({{1, 1}, {15, 1}}), {}},
      {"zero widths", "/Size 2147483647 /W [0 0 0]", "", {}},
      // A negative width reads 0 like a width of 0, but only W1 = 0 means "type 1".
      {"negative widths", "/Size 3 /W [-1 -5 1]", Row({{4, 1}}), {EntryText(0, 4, 'f', 0)}},
      {"/W too short", "/Size 1 /W [1 2]", Row({{1, 1}, {15, 2}}), {}},
      {"no /W", "/Size 1", Row({{1, 1}, {15, 2}, {0, 1}}), {}},
  };
  for (const Case& c : cases) {
    Bytes pdf = StreamFile(c.dict, c.data);
    auto started = std::chrono::steady_clock::now();
    Recording rec = Read(pdf);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << c.name;
    EXPECT_TRUE(rec.ok) << c.name;
    EXPECT_TRUE(rec.xrefStreamSeen) << c.name;
    EXPECT_EQ(rec.Entries(), c.entries) << c.name;
    EXPECT_EQ(rec.Trailers().size(), 1u) << c.name;
  }
}

TEST(XRefReader, CrossReferenceStreamWithoutData) {
  const std::string row = Row({{1, 1}, {15, 2}, {0, 1}});
  struct Case {
    const char* name;
    Bytes pdf;
  };
  const Case cases[] = {
      {"indirect /Length",
       FillTemplate("%PDF-1.5\n9 0 obj\n<< /Type /XRef /Size 1 /W [1 2 1] /Length 8 0 R >>\nstream\n" + row +
                    "\nendstream\nendobj\nstartxref\n{{offset:9}}\n%%EOF\n")},
      {"no stream keyword after the dictionary",
       FillTemplate("%PDF-1.5\n9 0 obj\n<< /Type /XRef /Size 1 /W [1 2 1] /Length 4 >>\nendobj\n<< >> >>\n"
                    "startxref\n{{offset:9}}\n%%EOF\n")},
      {"junk between stream and the line end",
       FillTemplate("%PDF-1.5\n9 0 obj\n<< /Type /XRef /Size 1 /W [1 2 1] /Length 4 >>\nstream x\n" + row +
                    "\nendstream\nendobj\nstartxref\n{{offset:9}}\n%%EOF\n")},
      {"negative /Length",
       FillTemplate("%PDF-1.5\n9 0 obj\n<< /Type /XRef /Size 1 /W [1 2 1] /Length -4 >>\nstream\n" + row +
                    "\nendstream\nendobj\nstartxref\n{{offset:9}}\n%%EOF\n")},
  };
  for (const Case& c : cases) {
    Recording rec = Read(c.pdf);
    EXPECT_TRUE(rec.ok) << c.name;
    EXPECT_TRUE(rec.Entries().empty()) << c.name;
    EXPECT_EQ(rec.Trailers().size(), 1u) << c.name;
  }
  // A dictionary that is no XRef dictionary, or has no numeric /Size, fails the section.
  for (const char* dict : {"<< /Type /ObjStm /Size 1 >>", "<< /Type /XRef /Size (1) >>", "[ /Type /XRef ]"}) {
    Recording rec = Read(FillTemplate(std::string("%PDF-1.5\n9 0 obj\n") + dict +
                                      "\nstream\n\nendstream\nendobj\nstartxref\n{{offset:9}}\n%%EOF\n"));
    EXPECT_FALSE(rec.ok) << dict;
    EXPECT_TRUE(rec.xrefStreamSeen) << dict;
    EXPECT_TRUE(rec.Trailers().empty()) << dict;
  }
}

TEST(XRefReader, IndirectLengthStillFollowsPrev) {
  Bytes pdf = FillTemplate(
      "%PDF-1.5\n1 0 obj\n(one)\nendobj\n{{mark:x1}}{{xref}}trailer\n<< /Size 2 >>\nstartxref\n{{pos:x1}}\n%%EOF\n"
      "9 0 obj\n<< /Type /XRef /Size 10 /W [1 2 1] /Index [9 1] /Length 8 0 R /Prev {{pos:x1}} >>\nstream\n" +
      Row({{1, 1}, {15, 2}, {0, 1}}) + "\nendstream\nendobj\nstartxref\n{{offset:9}}\n%%EOF\n");
  Recording rec = Read(pdf);
  EXPECT_TRUE(rec.ok);
  EXPECT_EQ(rec.prevs, 1);
  EXPECT_EQ(rec.Trailers().size(), 2u);
  EXPECT_EQ(rec.Entries(), (std::vector<std::string>{EntryText(0, 65535, 'f', 0),
                                                     EntryText(1, 0, 'n', At(pdf, "1 0 obj"))}));
}

TEST(XRefReader, OwnEntryPointingAtItsNumber) {
  // Object 9's entry says "offset 9"; the bytes there are not "9", so the entry is moved
  // to the stream's data. Object 2's entry is left as it is.
  const std::string data = Row({{1, 1}, {2, 2}, {0, 1}}) + Row({{1, 1}, {9, 2}, {0, 1}});
  Bytes pdf = StreamFile("/Size 10 /Index [2 1 9 1] /W [1 2 1]", data);
  Recording rec = Read(pdf);
  int64_t dataStart = At(pdf, "stream\n") + 7;
  EXPECT_EQ(rec.Entries(), (std::vector<std::string>{EntryText(2, 0, 'n', 2), EntryText(9, 0, 'n', dataStart)}));
  // When the number is written there, the entry stays.
  Bytes padded = StreamFile("/Size 10 /Index [9 1] /W [1 2 1]", Row({{1, 1}, {9, 2}, {0, 1}}), "");
  padded.replace(9, 1, "9");
  EXPECT_EQ(Read(padded).Entries(), (std::vector<std::string>{EntryText(9, 0, 'n', 9)}));
}

TEST(XRefReader, CrossReferenceStreamHeadIsCapped) {
  // The "stream" keyword must show up within the first MiB after "obj".
  auto file = [](size_t gap) {
    return FillTemplate("%PDF-1.5\n9 0 obj\n<< /Type /XRef /Size 1 /W [1 2 1] /Length 4 >>" + Bytes(gap, ' ') +
                        "stream\n" + Row({{1, 1}, {15, 2}, {0, 1}}) +
                        "\nendstream\nendobj\nstartxref\n{{offset:9}}\n%%EOF\n");
  };
  EXPECT_EQ(Read(file(100000)).Entries().size(), 1u);
  Recording far = Read(file(size_t(kXRefHeadMax) + 1000));
  EXPECT_TRUE(far.ok);
  EXPECT_TRUE(far.Entries().empty());
}

// ---- chains that must end -------------------------------------------------------------

// Classic sections at marks s0..s{n-1}; section i's /Prev names section prevOf[i].
Bytes ClassicChain(const std::vector<int>& prevOf, const std::string& lastSection = "") {
  std::string t = "%PDF-1.4\n1 0 obj\n(one)\nendobj\n";
  for (size_t i = 0; i < prevOf.size(); ++i) {
    t += "{{mark:s" + std::to_string(i) + "}}xref\n0 2\n0000000000 65535 f \n{{offset10:1}} 00000 n \n"
         "trailer\n<< /Size 2 /Prev {{pos:s" + std::to_string(prevOf[i]) + "}} >>\n";
  }
  return FillTemplate(t + lastSection + "startxref\n{{pos:s" + std::to_string(prevOf.size() - 1) + "}}\n%%EOF\n");
}

TEST(XRefReader, PrevCyclesEndAndFail) {
  // Cycles of 1, 2 and 3 sections: last -> ... -> last.
  for (const std::vector<int>& prevOf : std::vector<std::vector<int>>{{0}, {1, 0}, {2, 0, 1}}) {
    Bytes pdf = ClassicChain(prevOf);
    Recording rec = Read(pdf);
    EXPECT_FALSE(rec.ok) << prevOf.size();
    // Every section is read once; the one that closes the cycle is refused.
    EXPECT_EQ(rec.Entries().size(), 2 * prevOf.size()) << prevOf.size();
  }
  // A cycle through cross-reference streams.
  Bytes streams = FillTemplate(
      "%PDF-1.5\n8 0 obj\n<< /Type /XRef /Size 1 /W [1 2 1] /Prev {{offset:9}} /Length 4 >>\nstream\n" +
      Row({{1, 1}, {15, 2}, {0, 1}}) +
      "\nendstream\nendobj\n9 0 obj\n<< /Type /XRef /Size 1 /W [1 2 1] /Prev {{offset:8}} /Length 4 >>\nstream\n" +
      Row({{1, 1}, {16, 2}, {0, 1}}) + "\nendstream\nendobj\nstartxref\n{{offset:9}}\n%%EOF\n");
  Recording rec = Read(streams);
  EXPECT_FALSE(rec.ok);
  EXPECT_EQ(rec.Entries(), (std::vector<std::string>{EntryText(0, 0, 'n', 16), EntryText(0, 0, 'n', 15)}));
  EXPECT_EQ(rec.prevs, 2);
}

TEST(XRefReader, FailingDeepChainIsNotReadAgain) {
  // 40 sections in a row; the oldest names a /Prev where nothing is. Each trailer would
  // be retried up to five times over the whole rest of the chain.
  std::vector<int> prevOf;
  for (int i = 0; i < 40; ++i) prevOf.push_back(i == 0 ? 0 : i - 1);
  Bytes pdf = ClassicChain(prevOf);
  // Point the oldest section's /Prev at the header.
  size_t first = pdf.find("/Prev ");
  size_t end = pdf.find(' ', first + 6);
  pdf.replace(first + 6, end - first - 6, std::string(end - first - 6 - 1, ' ') + "1");
  auto started = std::chrono::steady_clock::now();
  Recording rec = Read(pdf);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_FALSE(rec.ok);
  EXPECT_LE(rec.Sections().size(), size_t(2 * 41 + 4 * 40 * 2));
  EXPECT_EQ(rec.Entries().size(), 80u);
}

TEST(XRefReader, LongChainsAreBounded) {
  // Deeper than the chain limit: fails, without exhausting the stack.
  const int sections = kXRefMaxChainDepth + 5;
  std::string t = "%PDF-1.4\n1 0 obj\n(one)\nendobj\n";
  for (int i = 0; i < sections; ++i) {
    t += "{{mark:s" + std::to_string(i) + "}}xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 2";
    if (i > 0) t += " /Prev {{pos:s" + std::to_string(i - 1) + "}}";
    t += " >>\n";
  }
  Bytes pdf = FillTemplate(t + "startxref\n{{pos:s" + std::to_string(sections - 1) + "}}\n%%EOF\n");
  Recording rec = Read(pdf);
  EXPECT_FALSE(rec.ok);
  // A chain within the limit is read whole.
  Bytes shorter = FillTemplate(t + "startxref\n{{pos:s" + std::to_string(kXRefMaxChainDepth - 1) + "}}\n%%EOF\n");
  Recording ok = Read(shorter);
  EXPECT_TRUE(ok.ok);
  EXPECT_EQ(ok.prevs, kXRefMaxChainDepth - 1);
}

TEST(XRefReader, HugeOffsetsAreHarmless) {
  // A /Prev that names no section fails the chain; one too big for 64 bits ends it.
  const std::pair<const char*, bool> prevs[] = {{"4611686018427387904", false},
                                                {"-9223372036854775808", true},
                                                {"99999999999999999999999", true}};
  for (auto [prev, ok] : prevs) {
    Recording rec = Read(BuildPdf(kThreeObjects, std::string("/Prev ") + prev));
    EXPECT_EQ(rec.Entries().size(), 4u) << prev;
    EXPECT_EQ(rec.ok, ok) << prev;
  }
  Bytes pdf = BuildPdf(kThreeObjects);
  for (int64_t offset : {INT64_MAX, INT64_MIN, int64_t(1) << 62, int64_t(-1)}) {
    TPDFXRefReader reader(pdf);
    reader.BaseOffset = INT64_MAX - 5;
    EXPECT_FALSE(reader.ReadSection(offset));
    TPDFXRefReader plain(pdf);
    EXPECT_FALSE(plain.ReadSection(offset));
  }
}

}  // namespace
}  // namespace pagelume
