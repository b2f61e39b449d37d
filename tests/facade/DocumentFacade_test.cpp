// The instance's document operations: the blank document it starts with, LoadDocument
// with its error codes, and the selected page's size in the chosen unit.
#include <gtest/gtest.h>

#include <string>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/document/MarlockPDFLibraryPageTree.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

Bytes A4Pdf() {
  return test::BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>"},
                        "/Root 1 0 R");
}

TEST(DocumentFacade, StartsWithABlankLetterPage) {
  TKavrel engine;
  TPDFDocument* blank = engine.SelectedDocument();
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(blank->Version, "1.4");
  EXPECT_DOUBLE_EQ(engine.SelectedPageWidth(), 612);
  EXPECT_DOUBLE_EQ(engine.SelectedPageHeight(), 792);
  EXPECT_EQ(engine.SetUnitScale(1), 1);
  EXPECT_NEAR(engine.SelectedPageWidth(), 215.9, 1e-9);
  EXPECT_NEAR(engine.SelectedPageHeight(), 279.4, 1e-9);
  EXPECT_EQ(engine.SetUnitScale(2), 1);
  EXPECT_NEAR(engine.SelectedPageWidth(), 8.5, 1e-12);
  EXPECT_EQ(engine.SetUnitScale(7), 1);  // anything else counts as points
  EXPECT_DOUBLE_EQ(engine.SelectedPageWidth(), 612);
}

TEST(DocumentFacade, LoadDocumentSelectsTheLoadedDocumentInPoints) {
  test::TempFile file(A4Pdf());
  TKavrel engine;
  TPDFDocument* blank = engine.SelectedDocument();
  engine.SetUnitScale(1);
  ASSERT_EQ(engine.LoadDocument(Utf8ToText(file.Path()), u""), 1);
  EXPECT_EQ(engine.ErrorCode, kErrorNone);
  EXPECT_NE(engine.SelectedDocument(), blank);
  EXPECT_EQ(engine.SelectedDocument()->FileName, Utf8ToText(file.Path()));
  // The unit chosen before applies to the blank document, not to the loaded one.
  EXPECT_DOUBLE_EQ(engine.SelectedPageWidth(), 595);
  EXPECT_DOUBLE_EQ(engine.SelectedPageHeight(), 842);
  EXPECT_DOUBLE_EQ(blank->UnitScale, kMillimetresPerPoint);
}

TEST(DocumentFacade, LoadDocumentErrors) {
  test::TempFile garbage(Bytes("this is no PDF file at all"));
  test::TempFile noPages(test::BuildPdf({"<< /Type /Catalog >>"}, "/Root 1 0 R"));
  Bytes encrypted;
  if (test::HaveTool("qpdf")) {
    test::TempFile plain(A4Pdf());
    test::TempFile out;
    const auto r = test::RunCommand("qpdf --encrypt user owner 256 -- " + plain.Path() + " " + out.Path());
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.output;
    encrypted = test::ReadWholeFile(out.Path());
  }
  test::TempFile locked(encrypted);
  struct Case {
    const char* name;
    std::string path;
    const char16_t* password;
    int32_t result, error;
  };
  std::vector<Case> cases = {
      {"missing", "/nonexistent/folder/none.pdf", u"", 0, kErrorFile},
      {"a folder", "/tmp", u"", 0, kErrorFile},
      {"garbage", garbage.Path(), u"", 0, kErrorFile},
      {"no pages", noPages.Path(), u"", 0, kErrorFile},
  };
  if (!encrypted.empty()) {
    cases.push_back({"wrong password", locked.Path(), u"wrong", 0, kErrorPassword});
    cases.push_back({"no password", locked.Path(), u"", 0, kErrorPassword});
    cases.push_back({"user password", locked.Path(), u"user", 1, kErrorNone});
  }
  for (const Case& c : cases) {
    TKavrel engine;
    TPDFDocument* before = engine.SelectedDocument();
    engine.ErrorCode = 12345;
    EXPECT_EQ(engine.LoadDocument(Utf8ToText(c.path), c.password), c.result) << c.name;
    EXPECT_EQ(engine.ErrorCode, c.error) << c.name;
    // A failed load leaves the selected document as it was, and usable.
    if (c.result == 0) {
      EXPECT_EQ(engine.SelectedDocument(), before) << c.name;
      EXPECT_DOUBLE_EQ(engine.SelectedPageWidth(), 612) << c.name;
    }
  }
}

}  // namespace
}  // namespace pagelume
