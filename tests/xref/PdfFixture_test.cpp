// The fixture builder must produce files whose offsets are right, or every test
// built on it checks nothing; qpdf is the judge where it is installed.
#include "tests/support/PdfFixture.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace pagelume::test {
namespace {

size_t Find(const Bytes& s, const std::string& what, size_t from = 0) { return s.find(what, from); }

TEST(PdfFixture, BuildPdfWritesOffsetsTableAndStartxref) {
  Bytes pdf = BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"},
                       "/Root 1 0 R");
  size_t obj1 = Find(pdf, "1 0 obj"), obj2 = Find(pdf, "2 0 obj"), xref = Find(pdf, "xref\n0 3\n");
  ASSERT_NE(obj1, Bytes::npos);
  ASSERT_NE(xref, Bytes::npos);
  char entry[32];
  snprintf(entry, sizeof entry, "%010zu 00000 n \n", obj1);
  EXPECT_NE(Find(pdf, entry), Bytes::npos);
  snprintf(entry, sizeof entry, "%010zu 00000 n \n", obj2);
  EXPECT_NE(Find(pdf, entry), Bytes::npos);
  EXPECT_NE(Find(pdf, "0000000000 65535 f \n"), Bytes::npos);
  EXPECT_NE(Find(pdf, "trailer\n<< /Size 3 /Root 1 0 R >>"), Bytes::npos);
  EXPECT_NE(Find(pdf, "startxref\n" + std::to_string(xref) + "\n%%EOF\n"), Bytes::npos);

  if (HaveTool("qpdf")) {
    TempFile file(pdf);
    CommandResult check = RunCommand("qpdf --check " + ShellQuote(file.Path()));
    EXPECT_EQ(check.exitCode, 0) << check.output;
  }
}

TEST(PdfFixture, EntryEndsAndJunkBeforeHeader) {
  PdfFixtureOptions options;
  options.entryEnd = "\n";
  options.junkBeforeHeader = "JUNKJUNK";
  options.offsetsFromHeader = true;
  Bytes pdf = BuildPdf({"<< >>"}, "", options);
  ASSERT_EQ(pdf.compare(0, 13, "JUNKJUNK%PDF-"), 0);
  size_t obj1 = Find(pdf, "1 0 obj");
  char entry[32];
  snprintf(entry, sizeof entry, "\n%010zu 00000 n\ntrailer", obj1 - 8);
  EXPECT_NE(Find(pdf, entry), Bytes::npos);
  EXPECT_NE(Find(pdf, "startxref\n" + std::to_string(Find(pdf, "xref\n") - 8) + "\n"), Bytes::npos);
}

TEST(PdfFixture, TemplatePlaceholders) {
  // The width of {{offset:1}} changes the offsets after it; the layout must settle.
  std::string t = "%PDF-1.7\n% {{offset:3}} {{pos:end}}\n1 0 obj\n<< /L {{dist:s:e}} >>\nstream\n{{mark:s}}"
                  "ABCDEFGHIJ{{mark:e}}\nendstream\nendobj\n" + std::string(200, '%') +
                  "\n3 0 obj\n1\nendobj\n3 0 obj\n2\nendobj\n{{xref}}{{offset10:3}}{{mark:end}} {{size}}\n"
                  "startxref\n{{startxref}}\n";
  Bytes pdf = FillTemplate(t);
  size_t first3 = Find(pdf, "3 0 obj"), second3 = Find(pdf, "3 0 obj", first3 + 1);
  EXPECT_NE(Find(pdf, "% " + std::to_string(first3) + " "), Bytes::npos);
  EXPECT_NE(Find(pdf, "<< /L 10 >>"), Bytes::npos);
  char entry[40];
  snprintf(entry, sizeof entry, "%010zu 00000 n \n%010zu", second3, second3);
  EXPECT_NE(Find(pdf, entry), Bytes::npos) << pdf;
  EXPECT_NE(Find(pdf, "0000000000 00000 f \n"), Bytes::npos);  // object 2 is missing
  size_t end = Find(pdf, " 4\nstartxref");
  ASSERT_NE(end, Bytes::npos);
  EXPECT_NE(Find(pdf, " " + std::to_string(end) + "\n1 0 obj"), Bytes::npos);

  for (const char* bad : {"{{nope}}", "{{pos:missing}}", "{{offset:9}}", "{{startxref}}", "{{xref"})
    EXPECT_THROW(FillTemplate(std::string("1 0 obj\n") + bad), std::invalid_argument) << bad;
}

TEST(PdfFixture, CommandsAndTempFiles) {
  CommandResult r = RunCommand("printf 'out'; printf 'err' >&2; exit 3");
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.output, "outerr");
  EXPECT_TRUE(HaveTool("sh"));
  EXPECT_FALSE(HaveTool("no-such-tool-pagelume"));
  std::string path;
  {
    TempFile file(Bytes("a\0b", 3));
    path = file.Path();
    EXPECT_EQ(ReadWholeFile(path), Bytes("a\0b", 3));
  }
  EXPECT_THROW(ReadWholeFile(path), std::runtime_error);
  EXPECT_EQ(ShellQuote("it's"), "'it'\\''s'");
}

}  // namespace
}  // namespace pagelume::test
