// The facade's quick inspection: the 44 items, error codes, handles, object display, and
// a file beyond 4 GiB.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/facade/MarlockPDFLibraryPropertyText.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/InspectFiles.h"
#include "tests/support/PdfFixture.h"

namespace pagelume::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Items(TKavrel& engine, int32_t handle) {
  std::vector<std::string> items;
  for (int i = 0; i < kInspectionItemCount; ++i) items.push_back(TextToUtf8(engine.GetInspectionItem(handle, i)));
  return items;
}

Text U(const std::string& s) { return Utf8ToText(s); }

TEST(Inspection, UnencryptedFileGivesTheFortyFourItems) {
  const InspectFile* f = FindInspectFile("classic");
  if (!f) return;
  TMarlockPDFLibrary1711 engine;
  int32_t handle = engine.OpenInspection(U(f->path), u"");
  ASSERT_NE(handle, 0) << engine.ErrorCode;
  EXPECT_EQ(engine.ErrorCode, kErrorNone);
  const std::string header = ReadWholeFile(f->path).substr(5, 3);
  std::vector<std::string> expected(kInspectionItemCount);
  expected[0] = fs::absolute(f->path).string();
  expected[1] = std::to_string(fs::file_size(f->path));
  expected[2] = kInspectAuthor;
  expected[3] = kInspectTitle;
  expected[4] = kInspectSubject;
  expected[5] = kInspectKeywords;
  expected[6] = kInspectCreator;
  expected[7] = kInspectProducer;
  expected[8] = header;
  expected[9] = std::to_string(kInspectPages);
  expected[10] = kInspectCreated;
  expected[11] = kInspectModified;
  expected[13] = "None";
  expected[14] = "No";
  const char* answers[] = {"0", "2", "2", "4", "6", "6", "6", "6", "6", "6", "11"};
  for (int i = 0; i <= 10; ++i) expected[size_t(20 + i)] = answers[i];
  expected[31] = std::to_string(kInspectFields);
  expected[41] = expected[42] = expected[43] = "11";
  EXPECT_EQ(Items(engine, handle), expected);
  EXPECT_EQ(engine.CloseInspection(handle), 1);

  // The same items without an instance.
  std::vector<Text> items;
  EXPECT_EQ(TKavrel::InspectFile(U(f->path), u"", items), kErrorNone);
  std::vector<std::string> utf8;
  for (const Text& item : items) utf8.push_back(TextToUtf8(item));
  EXPECT_EQ(utf8, expected);
}

TEST(Inspection, EncryptedFilesGiveTheirSecurityItems) {
  for (const InspectFile& f : InspectFiles()) {
    if (!f.encrypted) continue;
    for (bool owner : {false, true}) {
      SCOPED_TRACE(f.name + (owner ? " owner" : " user"));
      TMarlockPDFLibrary1711 engine;
      int32_t handle = engine.OpenInspection(U(f.path), U(owner ? f.ownerPassword : f.userPassword));
      ASSERT_NE(handle, 0) << engine.ErrorCode;
      std::vector<std::string> items = Items(engine, handle);
      EXPECT_EQ(items[3], kInspectTitle);
      EXPECT_EQ(items[2], kInspectAuthor);
      EXPECT_EQ(items[9], std::to_string(kInspectPages));
      EXPECT_EQ(items[13], owner ? "Owner" : "User");
      EXPECT_EQ(items[20], "1");
      EXPECT_EQ(items[30], std::to_string(f.kindCode));
      EXPECT_EQ(items[42], owner ? "3" : "2");
      EXPECT_EQ(TextToUtf8(EncryptionText(U(items[20]), U(items[30]))), f.kindText);
    }
  }
}

TEST(Inspection, ErrorCodes) {
  TempFile text(Bytes("just some text\n"), ".txt");
  TempFile unusable(BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 1 >>",
                              "<< /Filter /Standard /V 0 /R 2 /O (x) /U (y) /P -4 >>"},
                             "/Root 1 0 R /Encrypt 3 0 R"));
  const InspectFile* aes = FindInspectFile("aes256");
  struct Case {
    std::string name, path, password;
    int32_t code;
  } cases[] = {
      {"missing", fs::temp_directory_path().string() + "/no-such-file.pdf", "", kErrorFile},
      {"directory", fs::temp_directory_path().string(), "", kErrorFile},
      {"not a PDF", text.Path(), "", kErrorStructure},
      {"/V 0", unusable.Path(), "", kErrorPassword},
      {"no password", aes ? aes->path : "", "", kErrorPassword},
      {"wrong password", aes ? aes->path : "", "user13", kErrorPassword},
  };
  TMarlockPDFLibrary1711 engine;
  for (const Case& c : cases) {
    EXPECT_EQ(engine.OpenInspection(U(c.path), U(c.password)), 0) << c.name;
    EXPECT_EQ(engine.ErrorCode, c.code) << c.name;
    std::vector<Text> items{u"stale"};
    EXPECT_EQ(TKavrel::InspectFile(U(c.path), U(c.password), items), c.code) << c.name;
    EXPECT_TRUE(items.empty()) << c.name;
  }
  if (aes) {
    int32_t handle = engine.OpenInspection(U(aes->path), U(aes->userPassword));
    EXPECT_GE(handle, kHandleBase);
    EXPECT_EQ(engine.ErrorCode, kErrorNone);  // reset by the successful call
  }
}

TEST(Inspection, HandlesStopResolvingWhenClosed) {
  const InspectFile* f = FindInspectFile("classic");
  if (!f) return;
  TMarlockPDFLibrary1711 engine;
  int32_t first = engine.OpenInspection(U(f->path), u"");
  int32_t second = engine.OpenInspection(U(f->path), u"");
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(engine.GetInspectionItem(first, -1), u"");
  EXPECT_EQ(engine.GetInspectionItem(first, kInspectionItemCount), u"");
  EXPECT_EQ(engine.CloseInspection(first), 1);
  EXPECT_EQ(engine.CloseInspection(first), 0);
  EXPECT_EQ(engine.GetInspectionItem(first, 3), u"");
  EXPECT_EQ(TextToUtf8(engine.GetInspectionItem(second, 3)), kInspectTitle);
  // Handles that were never given out.
  for (int32_t h : {0, -1, kHandleBase + 1000, second & kHandleIndexMask, second ^ 0x08000000})
    EXPECT_EQ(engine.GetInspectionItem(h, 3), u"") << h;
  // A third list does not take over the first one's handle.
  int32_t third = engine.OpenInspection(U(f->path), u"");
  EXPECT_NE(third, first);
  EXPECT_EQ(engine.GetInspectionItem(first, 3), u"");
}

TEST(Inspection, ShowObject) {
  TempFile file(BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>",
                          "<< /Length 7 /Filter /ASCIIHexDecode >>\nstream\n414243>\nendstream"},
                         "/Root 1 0 R"));
  TMarlockPDFLibrary1711 engine;
  Bytes out;
  EXPECT_EQ(engine.ShowObject(U(file.Path()), u"", 0, false, out), kShowFound);
  EXPECT_EQ(out.find("trailer\n<<"), 0u);
  EXPECT_NE(out.find("/Root 1 0 R"), Bytes::npos);
  EXPECT_EQ(engine.ShowObject(U(file.Path()), u"", 2, false, out), kShowFound);
  EXPECT_EQ(out.find("2 0 obj\n<<"), 0u);
  EXPECT_NE(out.find("/Count 0"), Bytes::npos);
  EXPECT_TRUE(EndsWith(out, "\nendobj\n"));
  EXPECT_EQ(engine.ShowObject(U(file.Path()), u"", 3, false, out), kShowFound);
  EXPECT_NE(out.find("stream\n414243>\nendstream"), Bytes::npos);
  EXPECT_EQ(engine.ShowObject(U(file.Path()), u"", 3, true, out), kShowFound);
  EXPECT_EQ(out, "ABC");
  EXPECT_EQ(engine.ShowObject(U(file.Path()), u"", 4, false, out), kShowNoObject);
  EXPECT_EQ(engine.ShowObject(u"/no/such/file.pdf", u"", 1, false, out), kShowFailed);
  EXPECT_EQ(engine.ErrorCode, kErrorFile);

  // Decrypted, also when the object lies in an encrypted object stream.
  for (const char* name : {"aes256", "rc4-128-objstm", "aes256-objstm"}) {
    const InspectFile* f = FindInspectFile(name);
    if (!f) continue;
    EXPECT_EQ(engine.ShowObject(U(f->path), u"", 0, false, out), kShowFailed) << name;
    EXPECT_EQ(engine.ErrorCode, kErrorPassword) << name;
    ASSERT_EQ(engine.ShowObject(U(f->path), U(f->userPassword), 0, false, out), kShowFound) << name;
    size_t info = out.find("/Info ");
    ASSERT_NE(info, Bytes::npos) << out;
    int32_t number = ToInt(out.substr(info + 6, out.find(' ', info + 6) - info - 6), 0);
    ASSERT_EQ(engine.ShowObject(U(f->path), U(f->ownerPassword), number, false, out), kShowFound) << name;
    // Written back as stored: literal or hexadecimal.
    std::string hex = "<";
    for (unsigned char c : std::string(kInspectTitle)) hex += ToHex(c, 2);
    hex += ">";
    EXPECT_TRUE(out.find(std::string("(") + kInspectTitle + ")") != Bytes::npos || out.find(hex) != Bytes::npos)
        << name << ": " << out;
  }
}

// Offsets and the file size beyond 32 bits: the objects lie after a hole of 5 GiB.
TEST(Inspection, FileBeyondFourGiB) {
  constexpr int64_t kGap = int64_t(5) << 30;
  const std::string head = "%PDF-1.6\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 12 >>",
                                     "<< /Title (Far away) >>"};
  std::string tail, xref = "xref\n0 4\n0000000000 65535 f \n";
  for (size_t i = 0; i < bodies.size(); ++i) {
    char entry[32];
    snprintf(entry, sizeof entry, "%010lld 00000 n \n", (long long)(kGap + int64_t(tail.size())));
    xref += entry;
    tail += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
  }
  const int64_t xrefOffset = kGap + int64_t(tail.size());
  tail += xref + "trailer\n<< /Size 4 /Root 1 0 R /Info 3 0 R >>\nstartxref\n" + std::to_string(xrefOffset) +
          "\n%%EOF\n";

  TempFile file;
  int fd = open(file.Path().c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  bool written = write(fd, head.data(), head.size()) == ssize_t(head.size()) && lseek(fd, kGap, SEEK_SET) == kGap &&
                 write(fd, tail.data(), tail.size()) == ssize_t(tail.size());
  close(fd);
  if (!written) GTEST_SKIP() << "no room for a sparse file here";

  TMarlockPDFLibrary1711 engine;
  int32_t handle = engine.OpenInspection(U(file.Path()), u"");
  ASSERT_NE(handle, 0) << engine.ErrorCode;
  EXPECT_EQ(TextToUtf8(engine.GetInspectionItem(handle, 1)), std::to_string(kGap + int64_t(tail.size())));
  EXPECT_EQ(TextToUtf8(engine.GetInspectionItem(handle, 3)), "Far away");
  EXPECT_EQ(TextToUtf8(engine.GetInspectionItem(handle, 9)), "12");
  EXPECT_EQ(TextToUtf8(engine.GetInspectionItem(handle, 8)), "1.6");
}

TEST(PropertyText, SizesDatesAndEncryption) {
  struct Size {
    int64_t bytes;
    const char* text;
  } sizes[] = {{-5, "-5B"},
               {0, "0B"},
               {512, "512B"},
               {1023, "1023B"},
               {1024, "1.00 KB"},
               {1536, "1.50 KB"},
               {1048575, "1,024.00 KB"},
               {1048576, "1.00 MB"},
               {1073741824, "1.00 GB"},
               {int64_t(1536) << 30, "1,536.00 GB"},
               {int64_t(5) << 30, "5.00 GB"}};
  for (const Size& s : sizes) EXPECT_EQ(TextToUtf8(FileSizeText(s.bytes)), s.text) << s.bytes;

  struct Date {
    const char* stored;
    const char* shown;
  } dates[] = {{"D:20230115143000", "2023/01/15 14:30:00"},
               {"D:20240229235959+01'00'", "2024/02/29 23:59:59"},
               {"20230115143000Z", "2023/01/15 14:30:00"},  // without "D:": nothing lost
               {"D:2023", "2023/01/01 00:00:00"},
               {"", ""},
               {"yesterday", "yesterday"}};
  for (const Date& d : dates) EXPECT_EQ(TextToUtf8(DateDisplayText(U(d.stored))), d.shown) << d.stored;

  EXPECT_EQ(PagesText(u"3"), u"3 pages");
  EXPECT_EQ(EncryptionText(u"0", u"11"), u"Not encrypted");
  EXPECT_EQ(EncryptionText(u"1", u"7"), u"40-bit RC4 (Acrobat 3.x, 4.x)");
  EXPECT_EQ(EncryptionText(u"1", u"14"), u"n/a");
  EXPECT_EQ(EncryptionText(u"9", u"9"), u"Not encrypted");
}

}  // namespace
}  // namespace pagelume::test
