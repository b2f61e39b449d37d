// The inspection list of files the quick path cannot read (409): the same items, taken
// from the loaded and repaired document, with the security answers of the quick path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/InspectFiles.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

// More junk than the header search window covers.
const std::string kJunk(3000, 'j');

std::vector<Text> Items(TKavrel& engine, int32_t handle) {
  std::vector<Text> items;
  for (int i = 0; i < kInspectionItemCount; ++i) items.push_back(engine.GetInspectionItem(handle, i));
  return items;
}

// The quick path's list of a file, or empty when it cannot read it.
std::vector<Text> QuickItems(const std::string& path, const std::u16string& password) {
  TMarlockPDFLibrary1711 engine;
  const int32_t handle = engine.OpenInspection(Utf8ToText(path), password);
  EXPECT_NE(handle, 0) << engine.ErrorCode;
  return handle ? Items(engine, handle) : std::vector<Text>{};
}

// A file the quick path cannot read: junk in front of the header; with `noStartxref`
// also no startxref, so that the object table is reconstructed (which finds no object
// inside object streams).
Bytes Damaged(const Bytes& pdf, bool noStartxref) {
  Bytes out = kJunk + pdf;
  const size_t startxref = out.rfind("startxref");
  if (noStartxref && startxref != Bytes::npos) out.replace(startxref, 9, "startxrex");
  return out;
}

TEST(RepairedInspection, SameItemsAsTheQuickPathOfTheSoundFile) {
  const auto& files = test::InspectFiles();
  if (files.empty()) GTEST_SKIP() << "qpdf missing";
  for (const test::InspectFile& f : files) {
    for (const std::string& password : {f.userPassword, f.ownerPassword}) {
      SCOPED_TRACE(f.name + " with '" + password + "'");
      const std::u16string pw = Utf8ToText(password);
      const std::vector<Text> sound = QuickItems(f.path, pw);
      ASSERT_EQ(sound.size(), size_t(kInspectionItemCount));

      const bool objectStreams = f.name.find("objstm") != std::string::npos;
      test::TempFile damaged(Damaged(test::ReadWholeFile(f.path), !objectStreams));
      const Text name = Utf8ToText(damaged.Path());
      TMarlockPDFLibrary1711 engine;
      EXPECT_EQ(engine.OpenInspection(name, pw), 0);
      EXPECT_EQ(engine.ErrorCode, kErrorStructure);
      const int32_t handle = engine.OpenRepairedInspection(name, pw);
      ASSERT_NE(handle, 0) << engine.ErrorCode;
      const std::vector<Text> repaired = Items(engine, handle);
      EXPECT_EQ(repaired[0], name);
      EXPECT_EQ(repaired[1], Utf8ToText(std::to_string(kJunk.size() + test::ReadWholeFile(f.path).size())));
      for (int i = 2; i < kInspectionItemCount; ++i) EXPECT_EQ(repaired[size_t(i)], sound[size_t(i)]) << "item " << i;
      EXPECT_EQ(engine.CloseInspection(handle), 1);
    }
  }
}

TEST(RepairedInspection, DatesAreAsStored) {
  const Bytes pdf = test::BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>",
                                    "<< /CreationDate (D:2019) /ModDate 4 0 R >>"},
                                   "/Root 1 0 R /Info 3 0 R");
  test::TempFile file(kJunk + pdf);
  TMarlockPDFLibrary1711 engine;
  const int32_t handle = engine.OpenRepairedInspection(Utf8ToText(file.Path()), u"");
  ASSERT_NE(handle, 0);
  EXPECT_EQ(engine.GetInspectionItem(handle, 10), u"D:2019");
  EXPECT_EQ(engine.GetInspectionItem(handle, 11), u"");  // a reference to nothing
  EXPECT_EQ(engine.GetInspectionItem(handle, 9), u"0");
  EXPECT_EQ(engine.GetInspectionItem(handle, 13), u"None");
}

TEST(RepairedInspection, Errors) {
  TMarlockPDFLibrary1711 engine;
  EXPECT_EQ(engine.OpenRepairedInspection(u"/no/such/file.pdf", u""), 0);
  EXPECT_EQ(engine.ErrorCode, kErrorFile);
  test::TempFile text(Bytes("no PDF here, only text\n"));
  EXPECT_EQ(engine.OpenRepairedInspection(Utf8ToText(text.Path()), u""), 0);
  EXPECT_EQ(engine.ErrorCode, kErrorStructure);
  if (const test::InspectFile* f = test::FindInspectFile("aes256")) {
    test::TempFile damaged(Damaged(test::ReadWholeFile(f->path), true));
    EXPECT_EQ(engine.OpenRepairedInspection(Utf8ToText(damaged.Path()), u"wrong"), 0);
    EXPECT_EQ(engine.ErrorCode, kErrorPassword);
  }
}

}  // namespace
}  // namespace pagelume
