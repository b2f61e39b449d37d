// The encryption state of a loaded document: log-in with user and owner passwords for
// every kind of standard encryption (files by qpdf), decryption on first use, the
// writer's re-encryption of single objects, and files whose trailer has no usable /ID,
// which stay encrypted.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/document/MarlockPDFLibraryPageTree.h"
#include "engine/security/MarlockPDFLibraryCrypto.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

const char* const kTitle = "Secret Title";
const char* const kContent = "BT /F1 12 Tf 72 700 Td (Hello) Tj ET";

Bytes PlainPdf() {
  return test::BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R >>",
                         std::string("<< /Title (") + kTitle + ") >>",
                         "<< /Length " + std::to_string(strlen(kContent)) + " >>\nstream\n" + kContent +
                             "\nendstream"},
                        "/Root 1 0 R /Info 4 0 R");
}

Bytes QpdfEncrypted(const std::string& args) {
  test::TempFile plain(PlainPdf());
  test::TempFile out;
  const auto r = test::RunCommand("qpdf --compress-streams=n " + args + " " + plain.Path() + " " + out.Path());
  EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.output;
  return test::ReadWholeFile(out.Path());
}

Bytes TitleOf(TPDFDocument& doc) {
  auto* info = As<TPDFDictionary>(doc.Trailer->Get("Info", true));
  auto* title = info ? info->GetString("Title") : nullptr;
  return title ? title->GetBytes() : Bytes("<none>");
}

Bytes FirstContent(TPDFDocument& doc) {
  const auto& streams = doc.PageTree->ContentStreams();
  return streams.empty() ? Bytes("<none>") : Bytes(streams.front()->Raw());
}

TEST(DocEncryption, EveryKindOpensWithUserAndOwnerPassword) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  struct Case {
    const char* name;
    std::string args;
  };
  for (const Case& c : std::vector<Case>{
           {"RC4 40", "--allow-weak-crypto --encrypt user owner 40 --"},
           {"RC4 128", "--allow-weak-crypto --encrypt user owner 128 --use-aes=n --"},
           {"AES 128", "--encrypt user owner 128 --use-aes=y --"},
           {"AES 128, object streams", "--object-streams=generate --encrypt user owner 128 --use-aes=y --"},
           {"AES 256 R6", "--encrypt user owner 256 --"},
           {"AES 256 R5", "--allow-weak-crypto --encrypt user owner 256 --force-R5 --"},
       }) {
    const Bytes pdf = QpdfEncrypted(c.args);
    struct Login {
      const char16_t* password;
      int result;
      bool user, owner;
    };
    for (const Login& login : std::vector<Login>{{u"user", 0, true, false},
                                                 {u"owner", 0, false, true},
                                                 {u"wrong", 1, false, false},
                                                 {u"", 1, false, false}}) {
      TPDFDocument doc;
      ASSERT_EQ(doc.LoadFromBytes(pdf, login.password), login.result) << c.name;
      if (login.result != 0) {
        EXPECT_EQ(doc.ObjectCount(), 0u) << c.name;
        continue;
      }
      EXPECT_EQ(doc.EncryptionState(), kEncrypted) << c.name;
      EXPECT_EQ(doc.UserLoggedIn(), login.user) << c.name;
      EXPECT_EQ(doc.OwnerLoggedIn(), login.owner) << c.name;
      EXPECT_EQ(*doc.AcceptedPassword(), login.password) << c.name;
      EXPECT_EQ(TitleOf(doc), kTitle) << c.name;
      EXPECT_EQ(FirstContent(doc), kContent) << c.name;
      EXPECT_NE(doc.Trailer->Get("Encrypt", false), nullptr) << c.name;
      EXPECT_NE(doc.Trailer->GetArray("ID"), nullptr) << c.name;
    }
  }
}

TEST(DocEncryption, WriterRoundTripOfOneObject) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  for (const std::string args : {"--allow-weak-crypto --encrypt user owner 128 --use-aes=n --",
                                 "--encrypt user owner 256 --"}) {
    TPDFDocument doc;
    ASSERT_EQ(doc.LoadFromBytes(QpdfEncrypted(args), u"user"), 0) << args;
    auto* infoRef = As<TPDFIndRef>(doc.Trailer->Get("Info", false));
    TPDFIndObj* info = doc.FindObject(infoRef->RefNumber);
    ASSERT_EQ(TitleOf(doc), kTitle);
    ASSERT_TRUE(info->Decrypted);
    doc.EncryptIndirectObject(*info);
    EXPECT_FALSE(info->Decrypted);
    auto* title = As<TPDFDictionary>(info->Body)->GetString("Title");
    EXPECT_NE(title->GetBytes(), kTitle) << args;
    // Obtaining the object again makes it plain.
    EXPECT_EQ(As<TPDFDictionary>(info->GetBody())->GetString("Title")->GetBytes(), kTitle) << args;
    EXPECT_TRUE(info->Decrypted);

    // New objects count as plain and are encrypted on the way out.
    TPDFIndObj* added = doc.AddIndirect(doc.Structure.NewString("new", 0));
    EXPECT_TRUE(added->Decrypted);
    doc.EncryptIndirectObject(*added);
    EXPECT_NE(As<TPDFString>(added->Body)->GetBytes(), "new");
    EXPECT_EQ(As<TPDFString>(added->GetBody())->GetBytes(), "new");

    // The /Encrypt dictionary's own object is never changed.
    auto* encryptRef = As<TPDFIndRef>(doc.Trailer->Get("Encrypt", false));
    ASSERT_NE(encryptRef, nullptr);
    TPDFIndObj* encrypt = doc.FindObject(encryptRef->RefNumber);
    const Bytes before = encrypt->IndirectText();
    doc.EncryptIndirectObject(*encrypt);
    EXPECT_EQ(encrypt->IndirectText(), before);
  }
}

TEST(DocEncryption, Aes256EmptyOwnerPasswordDoesNotCountHere) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  const Bytes pdf = QpdfEncrypted("--encrypt user '' 256 --allow-insecure --");
  TPDFDocument doc;
  EXPECT_EQ(doc.LoadFromBytes(pdf, u""), TPDFDocument::kWrongPassword);
  EXPECT_EQ(doc.LoadFromBytes(pdf, u"user"), 0);
}

// ---- Files without a usable /ID --------------------------------------------------------

const Bytes kPadding("\x28\xBF\x4E\x5E\x4E\x75\x8A\x41\x64\x00\x4E\x56\xFF\xFA\x01\x08"
                     "\x2E\x2E\x00\xB6\xD0\x68\x3E\x80\x2F\x0C\xA9\xFE\x64\x53\x69\x7A",
                     32);

Bytes Padded(const Bytes& pw) { return (pw + kPadding).substr(0, 32); }

// A 40-bit RC4 file (V 1, R 2) made by hand with an empty file identifier in its keys;
// `idEntry` is written into the trailer as it is (empty: no /ID at all).
Bytes HandMadeRc4(const std::string& idEntry) {
  const Bytes user = "user", owner = "owner";
  const Bytes o = RC4Transform(MD5OfBytes(Padded(owner)).substr(0, 5), Padded(user));
  const Bytes p("\xFC\xFF\xFF\xFF", 4);  // -4
  const Bytes fileKey = MD5OfBytes(Padded(user) + o + p).substr(0, 5);
  const Bytes u = RC4Transform(fileKey, kPadding);
  const Bytes objectKey = MD5OfBytes(fileKey + Bytes("\x04\x00\x00\x00\x00", 5)).substr(0, 10);
  const Bytes title = RC4Transform(objectKey, kTitle);
  return test::BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                         "<< /Type /Page /Parent 2 0 R >>", "<< /Title <" + DigestHex(title) + "> >>",
                         "<< /Filter /Standard /V 1 /R 2 /O <" + DigestHex(o) + "> /U <" + DigestHex(u) +
                             "> /P -4 >>"},
                        "/Root 1 0 R /Info 4 0 R /Encrypt 5 0 R" + idEntry);
}

TEST(DocEncryption, WithoutIdTheFileStaysEncrypted) {
  struct Case {
    const char* name;
    std::string idEntry;
  };
  for (const Case& c : std::vector<Case>{{"no /ID", ""}, {"/ID a string", " /ID (abc)"}}) {
    const Bytes pdf = HandMadeRc4(c.idEntry);
    for (const char16_t* password : {u"user", u"owner"}) {
      TPDFDocument doc;
      ASSERT_EQ(doc.LoadFromBytes(pdf, password), 0) << c.name;
      EXPECT_EQ(TitleOf(doc), kTitle) << c.name;
      EXPECT_EQ(doc.EncryptionState(), kEncrypted) << c.name;
      EXPECT_NE(doc.FindObject(5), nullptr) << c.name;
      EXPECT_NE(doc.Trailer->Get("Encrypt", false), nullptr) << c.name;
      // The trailer keeps what it had: no new /ID, a string /ID unchanged.
      TPDFObject* id = doc.Trailer->Get("ID", false);
      if (c.idEntry.empty()) {
        EXPECT_EQ(id, nullptr) << c.name;
      } else {
        ASSERT_NE(As<TPDFString>(id), nullptr) << c.name;
        EXPECT_EQ(As<TPDFString>(id)->GetBytes(), "abc");
      }
      // Written back, the title is encrypted under the same key as before.
      TPDFIndObj* info = doc.FindObject(4);
      doc.EncryptIndirectObject(*info);
      EXPECT_EQ(info->IndirectText().find(kTitle), Bytes::npos);
      EXPECT_EQ(As<TPDFDictionary>(info->GetBody())->GetString("Title")->GetBytes(), kTitle);
    }
    TPDFDocument doc;
    EXPECT_EQ(doc.LoadFromBytes(pdf, u"wrong"), TPDFDocument::kWrongPassword) << c.name;
  }
}

TEST(DocEncryption, EncryptedFileCutShortDoesNotLoadAsPlain) {
  // Without its trailer nothing says how the strings are encrypted.
  const Bytes pdf = HandMadeRc4("");
  TPDFDocument doc;
  EXPECT_EQ(doc.LoadFromBytes(pdf.substr(0, pdf.find("xref")), u"user"), TPDFDocument::kNotPdf);
}

TEST(DocEncryption, Aes256WithIdRemovedStaysEncrypted) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  Bytes pdf = QpdfEncrypted("--object-streams=disable --encrypt user owner 256 --");
  const size_t trailer = pdf.rfind("trailer");
  const size_t id = pdf.find("/ID [", trailer);
  ASSERT_NE(id, Bytes::npos);
  const size_t end = pdf.find(']', id);
  pdf.replace(id, end + 1 - id, std::string(end + 1 - id, ' '));
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromBytes(pdf, u"owner"), 0);
  EXPECT_EQ(doc.EncryptionState(), kEncrypted);
  EXPECT_EQ(doc.Trailer->Get("ID", false), nullptr);
  EXPECT_EQ(TitleOf(doc), kTitle);
}

}  // namespace
}  // namespace pagelume
