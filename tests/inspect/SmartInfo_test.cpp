// The information collector: information strings, page count, form fields and security
// answers, on qpdf's files in every kind of encryption and on small hand-written files.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/inspect/MarlockPDFLibrarySmartAccess.h"
#include "engine/inspect/MarlockPDFLibrarySmartInfo.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/InspectFiles.h"
#include "tests/support/PdfFixture.h"

namespace pagelume::test {
namespace {

struct Collected {
  Collected(const std::string& path, const std::string& password)
      : stream(Utf8ToText(path), kFileOpenRead), reader(stream), info(reader, true, Utf8ToText(password)) {}
  TKavrelWideFileStream stream;
  TSmartPDFReader reader;
  TSmartPDFInfo info;
};

struct CollectedBytes {
  explicit CollectedBytes(ByteView pdf) : file(pdf), c(file.Path(), "") {}
  TempFile file;
  Collected c;
};

std::string Info(TSmartPDFInfo& info, const char* key) { return TextToUtf8(info.GetInfoText(key)); }

TEST(SmartInfo, UnencryptedFileGivesItsInformation) {
  const InspectFile* f = FindInspectFile("classic");
  if (!f) return;
  Collected c(f->path, "");
  ASSERT_EQ(c.reader.Status, kReaderReady);
  TSmartPDFInfo& info = c.info;
  EXPECT_EQ(info.EncryptionState(), kNotEncrypted);
  EXPECT_EQ(Info(info, "Title"), kInspectTitle);
  EXPECT_EQ(Info(info, "Author"), kInspectAuthor);
  EXPECT_EQ(Info(info, "Subject"), kInspectSubject);
  EXPECT_EQ(Info(info, "Keywords"), kInspectKeywords);
  EXPECT_EQ(Info(info, "CreationDate"), kInspectCreated);
  EXPECT_EQ(Info(info, "ModDate"), kInspectModified);
  EXPECT_EQ(Info(info, "Missing"), "");
  EXPECT_EQ(info.PageCount(), kInspectPages);
  EXPECT_EQ(info.FormFieldCount(), kInspectFields);
  EXPECT_FALSE(info.HasUsageRights());
  const char* answers[] = {"0", "2", "2", "4", "6", "6", "6", "6", "6", "6", "11", "11", "11", "11"};
  for (int q = 0; q < 14; ++q) EXPECT_EQ(info.SecurityItem(q), answers[q]) << q;
}

// Every kind of encryption, opened with the user and with the owner password.
TEST(SmartInfo, EncryptedFilesOpenWithEitherPassword) {
  int seen = 0;
  for (const InspectFile& f : InspectFiles()) {
    if (!f.encrypted) continue;
    ++seen;
    for (bool owner : {false, true}) {
      const std::string password = owner ? f.ownerPassword : f.userPassword;
      SCOPED_TRACE(f.name + (owner ? " owner" : " user"));
      Collected c(f.path, password);
      ASSERT_EQ(c.reader.Status, kReaderReady);
      TSmartPDFInfo& info = c.info;
      EXPECT_EQ(info.EncryptionState(), kEncrypted);
      EXPECT_TRUE(info.CheckPassword(Utf8ToText(password)));
      EXPECT_FALSE(info.CheckPassword(u"wrong"));
      EXPECT_EQ(Info(info, "Title"), kInspectTitle);
      EXPECT_EQ(Info(info, "Title"), kInspectTitle);  // the cached object kept its stored form
      EXPECT_EQ(Info(info, "Author"), kInspectAuthor);
      EXPECT_EQ(Info(info, "CreationDate"), kInspectCreated);
      EXPECT_EQ(info.PageCount(), kInspectPages);
      EXPECT_EQ(info.FormFieldCount(), kInspectFields);
      EXPECT_EQ(info.SecurityItem(0), "1");
      EXPECT_EQ(info.SecurityItem(10), std::to_string(f.kindCode));
      // An owner password that differs from the user password is recognised as such.
      const bool ownerOnly = owner && f.ownerPassword != f.userPassword;
      EXPECT_EQ(info.OpenedWithOwner(), owner);
      EXPECT_EQ(info.SecurityItem(12), owner ? "3" : "2");
      EXPECT_EQ(info.SecurityItem(11), ownerOnly ? "2" : "3");
    }
  }
  EXPECT_GE(seen, 7);
}

TEST(SmartInfo, PermissionsAndEmptyUserPassword) {
  const InspectFile* f = FindInspectFile("aes128-empty-user");
  if (!f) return;
  Collected c(f->path, "");
  EXPECT_EQ(Info(c.info, "Title"), kInspectTitle);
  EXPECT_FALSE(c.info.OpenedWithOwner());
  EXPECT_EQ(c.info.SecurityItem(1), "2");  // the empty password opens it
  EXPECT_EQ(c.info.SecurityItem(3), "5");  // no printing
  EXPECT_EQ(c.info.SecurityItem(4), "5");  // no changes
  EXPECT_EQ(c.info.SecurityItem(5), "6");  // copying
}

TEST(SmartInfo, WrongPasswordCollectsNothing) {
  const InspectFile* f = FindInspectFile("aes256");
  if (!f) return;
  Collected c(f->path, "wrong");
  EXPECT_EQ(c.info.PageCount(), 0);
  EXPECT_EQ(c.info.Catalog(), nullptr);
}

TEST(SmartInfo, PageCountComesFromTheRootNode) {
  struct Case {
    const char* pages;
    int32_t count;
  } cases[] = {
      {"<< /Type /Pages /Kids [] /Count 5 >>", 5},
      {"<< /Kids [] /Count 6 >>", 6},            // no /Type, but /Kids
      {"<< /Count 7 >>", 0},                      // neither
      {"<< /Type /Pages /Count 3 0 R >>", 9},     // indirect, object 3 holds 9
      {"<< /Type /Pages /Count -4 >>", 0},
      {"<< /Type /Pages /Count (8) >>", 0},
  };
  for (const Case& c : cases) {
    CollectedBytes b(BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", c.pages, "9"}, "/Root 1 0 R"));
    EXPECT_EQ(b.c.info.PageCount(), c.count) << c.pages;
  }
}

// A root with a /Kids array of thousands of pages is read without that array; whatever
// the array holds, the keys around it are found, also when the array outgrows the part
// of the text read first and when the root is the last object (its text then runs to the
// end of the file). A stream is never taken for a dictionary.
TEST(SmartInfo, LargePageTreeRootIsReadWithoutItsKids) {
  auto refs = [](int n) {
    std::string kids;
    for (int i = 0; i < n; ++i) kids += "3 0 R ";
    return kids;
  };
  const std::string kids = refs(2000);
  const std::string huge = refs(250000);  // 1.5 MB
  struct Case {
    std::string pages;
    int32_t count;
  } cases[] = {
      {"<< /Type /Pages /Kids [" + kids + "(a]b\\\\ \\)) [<< /X [1] /Y (]) >>] <5D> ] /Count 2003 >>", 2003},
      {"<< /Kids [" + kids + "] % ] /Count 1\n/Count 2000 >>", 2000},
      {"<< /Count 2001 /Kids [" + kids + "] >>", 2001},
      {"<< /Kids 4 0 R /Count 17 /Pad (" + std::string(5000, 'x') + ") >>", 17},
      {"<< /Type /Pages /Pad [" + kids + "] /Count 12 >>", 12},
      {"<< /Pad [" + kids + "] /Count 12 >>", 0},  // neither /Type nor /Kids
      {"<< /Type /Pages /Kids [" + huge + "] /Count 250000 >>", 250000},
      {"<< /Type /Pages /Kids [" + huge + "] /Count 250000 /Length 3 >>\nstream\nabc\nendstream", 0},
      {"<< /Type /Pages /Kids [" + kids + "] /Count 5 /Length 3 >>" + std::string(300000, ' ') +
           "\nstream\nabc\nendstream",
       0},
  };
  for (const Case& c : cases) {
    for (const bool last : {false, true}) {
      SCOPED_TRACE(c.pages.substr(0, 20) + "..." + c.pages.substr(c.pages.size() - 40) + (last ? ", last" : ""));
      const int32_t root = last ? 4 : 2;
      std::vector<std::string> objects = {"<< /Type /Catalog /Pages " + std::to_string(root) + " 0 R >>", "[]",
                                          "<< /Type /Page >>", "[]"};
      objects[size_t(root - 1)] = c.pages;
      CollectedBytes b(BuildPdf(objects, "/Root 1 0 R"));
      EXPECT_EQ(b.c.info.PageCount(), c.count);
      // The reader's own object is the whole one.
      TPDFObject* full = b.c.reader.GetObject(root);
      ASSERT_NE(full, nullptr);
      TPDFDictionary* dict = As<TPDFDictionary>(full);
      if (TPDFStream* stream = As<TPDFStream>(full)) dict = stream->StreamDict;
      ASSERT_NE(dict, nullptr);
      if (TPDFArray* array = As<TPDFArray>(dict->Get("Kids", false))) {
        EXPECT_GE(array->Count(), 2000);
      }
    }
  }
}

TEST(SmartInfo, UsageRightsAndFieldsAndMissingRoots) {
  CollectedBytes b(BuildPdf({"<< /Type /Catalog /Pages 2 0 R /Perms << /UR3 3 0 R >> /AcroForm 4 0 R >>",
                             "<< /Type /Pages /Kids [] /Count 0 >>", "<< /Name (Reader Rights) >>",
                             "<< /Fields [1 0 R 2 0 R 3 0 R] >>"},
                            "/Root 1 0 R"));
  EXPECT_TRUE(b.c.info.HasUsageRights());
  EXPECT_EQ(TextToUtf8(b.c.info.UsageRightsName()), "Reader Rights");
  EXPECT_EQ(b.c.info.FormFieldCount(), 3);
  EXPECT_EQ(Info(b.c.info, "Title"), "");  // no /Info

  CollectedBytes none(BuildPdf({"<< /Type /Pages /Kids [] /Count 4 >>"}));
  EXPECT_EQ(none.c.info.PageCount(), 0);
  EXPECT_EQ(none.c.info.FormFieldCount(), 0);
  EXPECT_FALSE(none.c.info.HasUsageRights());
}

TEST(SmartInfo, EncryptWithVersionZeroIsUnusable) {
  CollectedBytes b(BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 1 >>",
                             "<< /Filter /Standard /V 0 /R 2 /O (x) /U (y) /P -4 >>"},
                            "/Root 1 0 R /Encrypt 3 0 R"));
  EXPECT_EQ(b.c.info.EncryptionState(), kEncryptUnusable);
  EXPECT_FALSE(b.c.info.CheckPassword(u""));
  EXPECT_EQ(b.c.info.SecurityItem(0), "9");
  EXPECT_EQ(b.c.info.PageCount(), 0);  // never collected
}

}  // namespace
}  // namespace pagelume::test
