// SaveDocument: the modification date it sets (or keeps), the file it writes, and a
// failed save reported as 0 with error code 0.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

constexpr int32_t kKeyTitle = 1;
constexpr int32_t kKeyModDate = 8;

Bytes SourcePdf() {
  return test::BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>",
                         "<< /Title (Before) /ModDate (D:20000101000000Z) >>"},
                        "/Root 1 0 R /Info 4 0 R");
}

TEST(SaveDocument, SetsTheModificationDateUnlessTheCallerDid) {
  test::TempFile source(SourcePdf());
  test::TempFile target;
  struct Case {
    const char* name;
    const char16_t* modDate;  // written through WriteInfoField first, or null
  };
  for (const Case& c : {Case{"date from the clock", nullptr}, Case{"caller's date", u"D:20210304050607Z"}}) {
    SCOPED_TRACE(c.name);
    Text before, after;
    {
      TKavrel engine;
      ASSERT_EQ(engine.LoadDocument(Utf8ToText(source.Path()), u""), 1);
      ASSERT_EQ(engine.WriteInfoField(kKeyTitle, u"After"), 1);
      if (c.modDate != nullptr) {
        ASSERT_EQ(engine.WriteInfoField(kKeyModDate, c.modDate), 1);
      }
      before = PdfDateNow();
      EXPECT_EQ(engine.SaveDocument(Utf8ToText(target.Path())), 1);
      EXPECT_EQ(engine.ErrorCode, kErrorNone);
      after = PdfDateNow();
    }
    TKavrel reader;
    ASSERT_EQ(reader.LoadDocument(Utf8ToText(target.Path()), u""), 1);
    EXPECT_EQ(reader.ReadInfoField(kKeyTitle), u"After");
    const Text modDate = reader.ReadInfoField(kKeyModDate);
    if (c.modDate != nullptr) {
      EXPECT_EQ(modDate, c.modDate);
    } else {
      // Taken at the save (same zone, so the digits compare in time order).
      EXPECT_EQ(modDate.size(), before.size());
      EXPECT_LE(before.substr(0, 16), modDate.substr(0, 16));
      EXPECT_LE(modDate.substr(0, 16), after.substr(0, 16));
    }
  }
}

TEST(SaveDocument, FailureIsZeroWithErrorCodeZero) {
  test::TempFile source(SourcePdf());
  TKavrel engine;
  ASSERT_EQ(engine.LoadDocument(Utf8ToText(source.Path()), u""), 1);
  engine.ErrorCode = kErrorFile;
  EXPECT_EQ(engine.SaveDocument(Utf8ToText(source.Path() + ".missing/out.pdf")), 0);
  EXPECT_EQ(engine.ErrorCode, kErrorNone);
  EXPECT_FALSE(std::filesystem::exists(source.Path() + ".missing"));
  // The document is still there to be saved.
  test::TempFile target;
  EXPECT_EQ(engine.SaveDocument(Utf8ToText(target.Path())), 1);
}

}  // namespace
}  // namespace pagelume
