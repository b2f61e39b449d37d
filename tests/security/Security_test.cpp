// The standard security handler against files encrypted by an independent writer (qpdf),
// plus the reading rules, security answers and object walk on hand-built objects.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "engine/objects/MarlockPDFLibraryStructure.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "engine/security/MarlockPDFLibraryCrypto.h"
#include "engine/security/MarlockPDFLibrarySecurity.h"
#include "engine/security/MarlockPDFLibrarySmartCrypt.h"

using namespace pagelume;
namespace fs = std::filesystem;

namespace {

const char kTitle[] = "Secret Title";
const char kContent[] = "BT (x) ET\n";

fs::path FixtureDir() {
  fs::path dir = fs::path(PAGELUME_BINARY_DIR) / "security-fixtures";
  fs::create_directories(dir);
  return dir;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& path, ByteView bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

// A PDF with the given objects (numbered from 1) and trailer entries, offsets right.
Bytes MakePdf(const std::vector<Bytes>& objects, ByteView trailerEntries) {
  Bytes out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R /Info 5 0 R ";
  out += Bytes(trailerEntries) + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

const fs::path& SourcePdf() {
  static const fs::path path = [] {
    fs::path p = FixtureDir() / "plain.pdf";
    WriteFile(p, MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>",
                          "<< /Length 10 >>\nstream\n" + Bytes(kContent) + "endstream",
                          "<< /Title (" + Bytes(kTitle) + ") >>"},
                         "/ID [<0123456789abcdef0123456789abcdef> <0123456789abcdef0123456789abcdef>]"));
    return p;
  }();
  return path;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// qpdf exits 0, or 3 for warnings.
bool RunQpdf(const std::string& args) {
  int rc = std::system(("qpdf " + args + " >/dev/null 2>&1").c_str());
  return rc != -1 && WIFEXITED(rc) && (WEXITSTATUS(rc) == 0 || WEXITSTATUS(rc) == 3);
}

// A file written without object streams, its objects found by scanning for "N G obj"
// (enough for qpdf's output, where every object starts a line).
class TScannedPdf {
 public:
  explicit TScannedPdf(Bytes text) : text_(std::move(text)) {
    structure_.ResolveReference = [this](TPDFIndRef*, int32_t n, int32_t g) { return Object(n, g); };
  }
  TPDFObject* Object(int32_t number, int32_t generation) {
    size_t at = ObjectStart(number, generation);
    if (at == Bytes::npos) return nullptr;
    size_t consumed = 0;
    TPDFObject* obj = structure_.ParseAt(text_, at + 1, consumed);
    obj->AssignNumber(number, generation);
    return obj;
  }
  TPDFDictionary* Trailer() {
    size_t at = text_.rfind("trailer");
    if (at == Bytes::npos) return nullptr;
    size_t consumed = 0;
    return As<TPDFDictionary>(structure_.ParseAt(text_, at + 8, consumed));
  }
  // The stored bytes of stream `number` (its /Length bytes after the stream keyword).
  Bytes StreamData(int32_t number) {
    auto* dict = As<TPDFDictionary>(Object(number, 0));
    size_t at = ObjectStart(number, 0);
    size_t kw = text_.find("stream", at);
    if (!dict || kw == Bytes::npos) return {};
    kw += 6;
    if (text_[kw] == '\r') ++kw;
    if (text_[kw] == '\n') ++kw;
    return text_.substr(kw, size_t(dict->GetInteger("Length", 0)));
  }
  TPDFStructure& Structure() { return structure_; }

 private:
  size_t ObjectStart(int32_t number, int32_t generation) const {
    Bytes head = "\n" + std::to_string(number) + " " + std::to_string(generation) + " obj";
    size_t at = text_.find(head);
    return at == Bytes::npos ? at : at + head.size();
  }
  Bytes text_;
  TPDFStructure structure_;
};

Text T(const std::string& utf8) { return Utf8ToText(utf8); }

int32_t RefNumber(TPDFDictionary* d, ByteView key) {
  auto* ref = As<TPDFIndRef>(d->Get(key, false));
  return ref ? ref->RefNumber : 0;
}

// ---- Files by qpdf -----------------------------------------------------------------------

struct TQpdfRow {
  std::string name;
  std::string args;  // between "--encrypt U O" and "--"
  std::string user, owner;
  int kind;
  int32_t p;
  std::vector<int> answers3to9;
};

TEST(StandardSecurity, OpensFilesEncryptedByQpdf) {
  const std::string x127(127, 'x');
  const std::vector<TQpdfRow> rows = {
      {"r2-rc4-40", "40", "usr", "own", 7, -4, {4, 6, 6, 6, 5, 5, 5}},
      {"r2-empty-user", "40", "", "own", 7, -4, {4, 6, 6, 6, 5, 5, 5}},
      {"r3-rc4-128", "128 --use-aes=n --print=low --extract=n", "usr", "own", 8, -2068, {10, 6, 5, 6, 6, 6, 6}},
      {"r4-aes-128", "128 --use-aes=y --modify=none", "usr", "own", 12, -1324, {4, 5, 6, 5, 5, 6, 5}},
      {"r4-aes-128-cp1252", "128 --use-aes=y", "café", "ÖWNER", 12, -4, {4, 6, 6, 6, 6, 6, 6}},
      {"r4-rc4-128", "128 --use-aes=n --force-V4", "usr", "own", 8, -4, {4, 6, 6, 6, 6, 6, 6}},
      {"r5-aes-256", "256 --force-R5", "usr", "own", 13, -4, {4, 6, 6, 6, 6, 6, 6}},
      {"r6-aes-256", "256 --print=none", "pässwörd", "ÖWNER", 15, -2056, {5, 6, 6, 6, 6, 6, 6}},
      {"r6-empty-user", "256", "", "own", 15, -4, {4, 6, 6, 6, 6, 6, 6}},
      {"r6-long-user", "256", x127, "own", 15, -4, {4, 6, 6, 6, 6, 6, 6}},
  };
  for (const TQpdfRow& row : rows) {
    SCOPED_TRACE(row.name);
    fs::path out = FixtureDir() / (row.name + ".pdf");
    ASSERT_TRUE(RunQpdf("--allow-weak-crypto --object-streams=disable --compress-streams=n --encrypt " +
                        Quote(row.user) + " " + Quote(row.owner) + " " + row.args + " -- " +
                        Quote(SourcePdf().string()) + " " + Quote(out.string())));
    TScannedPdf pdf(ReadFile(out));
    TPDFDictionary* trailer = pdf.Trailer();
    ASSERT_NE(trailer, nullptr);

    TSmartPDFEncryption params;
    ASSERT_EQ(ReadEncryptDictionary(trailer, TSecurityPath::Inspection, params), kEncrypted);
    EXPECT_TRUE(params.Recognised);
    EXPECT_EQ(params.P, row.p);
    TSmartPDFCrypt crypt(params, kEncrypted, FileIdentifier(trailer));
    const Text user = T(row.user), owner = T(row.owner);

    ASSERT_TRUE(crypt.CheckUserPassword(user));
    const Bytes fileKey = crypt.FileKey;
    EXPECT_EQ(fileKey.size(), crypt.KeyLength());
    ASSERT_TRUE(crypt.CheckOwnerPassword(owner));
    EXPECT_EQ(crypt.FileKey, fileKey) << "owner check recovers the user's file key";
    EXPECT_FALSE(crypt.CheckUserPassword(owner));
    EXPECT_FALSE(crypt.CheckOwnerPassword(user));
    EXPECT_FALSE(crypt.CheckUserPassword(u"wrong"));
    EXPECT_FALSE(crypt.CheckOwnerPassword(u"wrong"));
    if (row.user.size() == 127) { EXPECT_TRUE(crypt.CheckUserPassword(T(row.user + "beyond"))); }

    // A wrong password leaves the earlier log-in's key base alone.
    crypt.Authenticate(u"wrong");
    EXPECT_FALSE(crypt.AcceptedPassword.has_value());
    crypt.Authenticate(user);
    ASSERT_TRUE(crypt.AcceptedPassword.has_value());
    EXPECT_EQ(crypt.ObjectKeyBase, fileKey);
    EXPECT_EQ(crypt.SecurityQuery(0), 1);
    EXPECT_EQ(crypt.SecurityQuery(1), row.user.empty() ? 2 : 3);
    EXPECT_EQ(crypt.SecurityQuery(10), row.kind);
    EXPECT_EQ(crypt.SecurityQuery(11), 3);
    EXPECT_EQ(crypt.SecurityQuery(12), 2);
    EXPECT_EQ(crypt.SecurityQuery(13), 0);
    for (int q = 3; q <= 9; ++q) EXPECT_EQ(crypt.SecurityQuery(q), row.answers3to9[size_t(q - 3)]) << "question " << q;
    crypt.Authenticate(u"wrong");
    EXPECT_EQ(crypt.ObjectKeyBase, fileKey);
    crypt.Authenticate(owner);
    EXPECT_EQ(crypt.ObjectKeyBase, fileKey);
    EXPECT_EQ(crypt.SecurityQuery(2), 2);
    EXPECT_EQ(crypt.SecurityQuery(11), 2);
    EXPECT_EQ(crypt.SecurityQuery(12), 3);

    // The Info title and the page content decrypt with the object's key.
    const int32_t infoNumber = RefNumber(trailer, "Info");
    auto* info = As<TPDFDictionary>(pdf.Object(infoNumber, 0));
    ASSERT_NE(info, nullptr);
    TPDFString* title = info->GetString("Title");
    ASSERT_NE(title, nullptr);
    const Bytes stored = title->BytesValue;
    const Bytes key = crypt.ObjectKey(infoNumber, 0);
    crypt.DecryptObject(key, info);
    EXPECT_EQ(title->BytesValue, kTitle);
    EXPECT_FALSE(title->Modified);
    crypt.EncryptObject(key, info);
    EXPECT_TRUE(title->Modified);
    if (params.Cipher == TCipherKind::RC4) { EXPECT_EQ(title->BytesValue, stored); }
    crypt.DecryptObject(key, info);
    EXPECT_EQ(title->BytesValue, kTitle);

    auto* catalog = As<TPDFDictionary>(trailer->Get("Root", true));
    auto* pages = catalog ? catalog->GetDictionary("Pages") : nullptr;
    auto* kids = pages ? pages->GetArray("Kids") : nullptr;
    auto* page = kids ? As<TPDFDictionary>(As<TPDFIndRef>(kids->Item(0))->Resolve()) : nullptr;
    ASSERT_NE(page, nullptr);
    const int32_t contentNumber = RefNumber(page, "Contents");
    TPDFStream* content = pdf.Structure().NewStreamWith(pdf.Structure().NewDictionary(), pdf.StreamData(contentNumber));
    crypt.DecryptObject(crypt.ObjectKey(contentNumber, 0), content);
    EXPECT_EQ(content->Raw(), kContent);

    // The document path reads the same dictionary and keeps its own object unencrypted.
    TPDFSecurityHandler doc(TSecurityPath::Document);
    ASSERT_EQ(doc.ReadFromTrailer(trailer), kEncrypted);
    EXPECT_EQ(doc.Params.EncryptObjectNumber, RefNumber(trailer, "Encrypt"));
    EXPECT_TRUE(doc.ObjectKey(doc.Params.EncryptObjectNumber, 0).empty());
    ASSERT_TRUE(doc.CheckOwnerPassword(owner));
    doc.ObjectKeyBase = doc.FileKey;
    EXPECT_EQ(doc.ObjectKey(infoNumber, 0), key);
  }
}

// Vectors from an independent implementation, chosen so that the stop rule matters: a
// stop at the first allowed round (63), and two inputs where "last byte <= round - 30"
// would stop a round early.
TEST(StandardSecurity, Revision6HashVectors) {
  Bytes udata;
  for (int i = 0; i < 48; ++i) udata.push_back(char(i));
  struct Row {
    std::string pw;
    bool withUdata;
    std::string hex;
  };
  const std::vector<Row> rows = {
      {"pw19", false, "0b12b9f3b93cd90c37ee1f5e574dadb21e7d38676b140a86c71b2e8c773bff0b"},
      {"pw23", true, "9913137dd27a9af73a13fe841574fe0d715932d8e1a7ecdc1a4c10244fe98336"},
      {"pw119", true, "8b8c2386bb889015189c3f423d2e08e82a9c7043529b5b93ee3ecf8107d32c0d"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(DigestHex(Revision6Hash(r.pw + "saltsalt", r.pw, r.withUdata ? udata : Bytes())), r.hex) << r.pw;
}

// ---- RC4 keys of 41 to 127 bits ------------------------------------------------------------

// O and U of a V 2, R 3 file, computed here from the published algorithms. The owner key's
// 50 extra MD5 rounds hash `ownerHashed` bytes: 16 as described, or n as several writers do.
struct TMidKeyFile {
  Bytes o, u, fileKey;
};

TMidKeyFile MakeMidKey(size_t n, size_t ownerHashed, ByteView user, ByteView owner, ByteView id, int32_t p) {
  const Bytes pad(
      "\x28\xBF\x4E\x5E\x4E\x75\x8A\x41\x64\x00\x4E\x56\xFF\xFA\x01\x08"
      "\x2E\x2E\x00\xB6\xD0\x68\x3E\x80\x2F\x0C\xA9\xFE\x64\x53\x69\x7A", 32);
  auto padded = [&](ByteView pw) { return (Bytes(pw) + pad).substr(0, 32); };
  auto xored = [](Bytes k, int i) {
    for (char& c : k) c = char(c ^ i);
    return k;
  };
  TMidKeyFile f;
  Bytes d = MD5OfBytes(padded(owner));
  for (int i = 0; i < 50; ++i) d = MD5OfBytes(d.substr(0, ownerHashed));
  f.o = padded(user);
  for (int i = 0; i <= 19; ++i) f.o = RC4Transform(xored(d.substr(0, n), i), f.o);
  Bytes pbytes(4, '\0');
  for (int i = 0; i < 4; ++i) pbytes[size_t(i)] = char((uint32_t(p) >> (8 * i)) & 0xFF);
  d = MD5OfBytes(padded(user) + f.o + pbytes + Bytes(id));
  for (int i = 0; i < 50; ++i) d = MD5OfBytes(d.substr(0, n));
  f.fileKey = d.substr(0, n);
  f.u = RC4Transform(f.fileKey, MD5OfBytes(pad + Bytes(id)));
  for (int i = 1; i <= 19; ++i) f.u = RC4Transform(xored(f.fileKey, i), f.u);
  f.u += Bytes(16, '\0');
  return f;
}

TEST(StandardSecurity, RC4KeyOf56BitsOpensWithEitherOwnerKeyReading) {
  const Bytes id = Bytes("\x01\x23\x45\x67\x89\xab\xcd\xef\x01\x23\x45\x67\x89\xab\xcd\xef", 16);
  for (size_t hashed : {size_t(16), size_t(7)}) {
    SCOPED_TRACE(hashed);
    TMidKeyFile f = MakeMidKey(7, hashed, "usr", "own", id, -4);
    const Bytes title = RC4Transform(MD5OfBytes(f.fileKey + Bytes("\x02\x00\x00\x00\x00", 5)).substr(0, 12), kTitle);
    const Bytes pdfText = MakePdf(
        {"<< /Type /Catalog /Pages 3 0 R >>", "<< /Title <" + DigestHex(title) + "> >>",
         "<< /Type /Pages /Kids [] /Count 0 >>",
         "<< /Filter /Standard /V 2 /R 3 /Length 56 /P -4 /O <" + DigestHex(f.o) + "> /U <" + DigestHex(f.u) + "> >>",
         "<< >>"},
        "/Encrypt 4 0 R /ID [<0123456789abcdef0123456789abcdef> <0123456789abcdef0123456789abcdef>]");
    fs::path path = FixtureDir() / ("rc4-56-hash" + std::to_string(hashed) + ".pdf");
    WriteFile(path, pdfText);
    // The independent reader agrees with the fixture for the user password, and for the
    // owner password when only n bytes were hashed.
    EXPECT_TRUE(RunQpdf("--show-encryption --password=usr " + Quote(path.string())));
    if (hashed == 7) { EXPECT_TRUE(RunQpdf("--show-encryption --password=own " + Quote(path.string()))); }

    TScannedPdf pdf(pdfText);
    TSmartPDFEncryption params;
    ASSERT_EQ(ReadEncryptDictionary(pdf.Trailer(), TSecurityPath::Inspection, params), kEncrypted);
    TSmartPDFCrypt crypt(params, kEncrypted, FileIdentifier(pdf.Trailer()));
    EXPECT_EQ(crypt.KeyClass(), kKeyRC4Mid);
    ASSERT_TRUE(crypt.CheckUserPassword(u"usr"));
    EXPECT_EQ(crypt.FileKey, f.fileKey);
    ASSERT_TRUE(crypt.CheckOwnerPassword(u"own"));
    EXPECT_EQ(crypt.FileKey, f.fileKey);
    EXPECT_FALSE(crypt.CheckOwnerPassword(u"usr"));
    crypt.Authenticate(u"own");
    EXPECT_EQ(crypt.SecurityQuery(10), 14);
    EXPECT_EQ(crypt.SecurityQuery(13), 56);
    EXPECT_EQ(crypt.SecurityQuery(12), 3);
    auto* info = As<TPDFDictionary>(pdf.Object(2, 0));
    crypt.DecryptObject(crypt.ObjectKey(2, 0), info);
    EXPECT_EQ(info->GetString("Title")->BytesValue, kTitle);
  }
}

// ---- Reading /Encrypt -------------------------------------------------------------------------

class EncryptReading : public ::testing::Test {
 protected:
  TPDFDictionary* Dict(ByteView text) { return As<TPDFDictionary>(s.Parse(text)); }
  TPDFStructure s;
};

TEST_F(EncryptReading, PermissionsAndLengthsAsWritten) {
  struct Row {
    const char* text;
    int32_t p, length;
    int kind, q13;
  };
  const std::vector<Row> rows = {
      {"/V 1 /R 2 /P 4294967292", -4, 40, 7, 0},
      {"/V 1 /R 2 /P -4 /Length 128", -4, 40, 7, 0},  // V 1, R 2 is always 40-bit
      {"/V 2 /R 3 /P -3904", -3904, 40, 7, 0},        // no /Length: 40
      {"/V 2 /R 3 /P 0 /Length 128", 0, 128, 8, 0},
      {"/V 2 /R 3 /Length 56", 0, 56, 14, 56},
      {"/V 1 /R 3 /P 4294967295 /Length 64", -1, 64, 14, 64},
      {"/V 4 /R 4 /StrF /StdCF /StmF /StdCF /CF << /StdCF << /CFM /V2 /Length 7 >> >>", 0, 56, 14, 56},
      {"/V 4 /R 4 /StrF /StdCF /StmF /StdCF /CF << /StdCF << /CFM /V2 >> >>", 0, 40, 7, 0},
      {"/V 4 /R 4 /StrF /StdCF /StmF /StdCF /CF << /StdCF << /CFM /AESV2 /Length 128 >> >>", 0, 128, 12, 0},
      {"/V 5 /R 6 /StrF /StdCF /StmF /StdCF /CF << /StdCF << /CFM /AESV3 /Length 256 >> >>", 0, 32, 15, 0},
      {"/V 5 /R 5 /StrF /StdCF /StmF /StdCF /CF << /StdCF << /CFM /AESV3 /Length 64 >> >>", 0, 64, 13, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    TSmartPDFEncryption params;
    TPDFDictionary* enc = Dict("<< /Filter /Standard /O <00> /U <00> " + Bytes(r.text) + " >>");
    ASSERT_EQ(ReadEncryptEntries(enc, TSecurityPath::Inspection, params), kEncrypted);
    ASSERT_TRUE(params.Recognised);
    EXPECT_EQ(params.P, r.p);
    EXPECT_EQ(params.Length, r.length);
    TSmartPDFCrypt crypt(params, kEncrypted, {});
    EXPECT_EQ(crypt.SecurityQuery(10), r.kind);
    EXPECT_EQ(crypt.SecurityQuery(13), r.q13);
  }
}

TEST_F(EncryptReading, UnrecognisedDictionariesDifferByPath) {
  struct Row {
    const char* trailerEntry;
    int inspection, document;
  };
  const std::vector<Row> rows = {
      {"", kNotEncrypted, kNotEncrypted},
      {"/Encrypt null", kNotEncrypted, kNotEncrypted},
      {"/Encrypt 99 0 R", kNotEncrypted, kEncryptUnusable},  // leads nowhere
      {"/Encrypt [1 2]", kNotEncrypted, kEncryptUnusable},
      {"/Encrypt << /Filter /Standard /V 0 /R 2 >>", kEncryptUnusable, kEncryptUnusable},
      {"/Encrypt << /Filter /Standard /R 2 >>", kEncryptUnusable, kEncryptUnusable},
      {"/Encrypt << /Filter /Other /V 1 /R 2 >>", kEncrypted, kEncryptUnusable},
      {"/Encrypt << /Filter /Standard /V 1 /R 7 >>", kEncrypted, kEncryptUnusable},
      {"/Encrypt << /Filter /Standard /V 4 /R 4 /StrF /Identity /StmF /StdCF "
       "/CF << /StdCF << /CFM /AESV2 >> >> >>", kEncrypted, kEncryptUnusable},
      {"/Encrypt << /Filter /Standard /V 4 /R 4 /StrF /StdCF /StmF /StdCF /CF << /StdCF << /CFM /None >> >> >>",
       kEncrypted, kEncryptUnusable},
      {"/Encrypt << /Filter /Standard /V 5 /R 6 /StrF /StdCF /StmF /StdCF /CF << /StdCF << /CFM /AESV2 >> >> >>",
       kEncrypted, kEncryptUnusable},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.trailerEntry);
    TPDFDictionary* trailer = Dict("<< /Size 3 " + Bytes(r.trailerEntry) + " >>");
    TPDFEncryption params;
    EXPECT_EQ(ReadEncryptDictionary(trailer, TSecurityPath::Inspection, params), r.inspection);
    EXPECT_FALSE(params.Recognised);
    EXPECT_EQ(params.V, 0) << "start values stay";
    EXPECT_EQ(ReadEncryptDictionary(trailer, TSecurityPath::Document, params), r.document);
    for (TSecurityPath path : {TSecurityPath::Inspection, TSecurityPath::Document}) {
      TSmartPDFCrypt crypt(params, path == TSecurityPath::Inspection ? r.inspection : r.document, {});
      if (crypt.State == kNotEncrypted) continue;
      EXPECT_FALSE(crypt.CheckUserPassword(u""));
      EXPECT_FALSE(crypt.CheckOwnerPassword(u""));
    }
  }
}

TEST_F(EncryptReading, BadLengthsFromTheFileFailQuietly) {
  const std::string big(100000, 'A');
  const std::vector<std::string> dicts = {
      "/V 1 /R 2 /O <> /U <>",
      "/V 2 /R 3 /Length 128 /O <0102> /U <0102>",
      "/V 2 /R 3 /Length 0 /O (" + big + ") /U (" + big + ")",
      "/V 2 /R 3 /Length -8 /O <00> /U <00>",
      "/V 2 /R 3 /Length 2147483647 /O <00> /U <00>",
      "/V 5 /R 6 /StrF /StdCF /StmF /StdCF /CF << /StdCF << /CFM /AESV3 >> >> /O <0011> /U <0011>",
      "/V 5 /R 5 /StrF /StdCF /StmF /StdCF /CF << /StdCF << /CFM /AESV3 >> >> /O (" + big + ") /U (" + big +
          ") /OE <00> /UE (" + big + ")",
  };
  for (const std::string& d : dicts) {
    SCOPED_TRACE(d.substr(0, 80));
    TSmartPDFEncryption params;
    ASSERT_EQ(ReadEncryptEntries(Dict("<< /Filter /Standard /P -4 " + d + " >>"), TSecurityPath::Inspection, params),
              kEncrypted);
    TSmartPDFCrypt crypt(params, kEncrypted, Bytes(500, 'i'));
    EXPECT_FALSE(crypt.CheckUserPassword(u"x"));
    EXPECT_FALSE(crypt.CheckOwnerPassword(u""));
    crypt.Authenticate(u"");
    EXPECT_FALSE(crypt.AcceptedPassword.has_value());
    for (int q = -1; q <= 14; ++q) crypt.SecurityQuery(q);
  }
}

// ---- Security answers --------------------------------------------------------------------------

TEST(SecurityQuery, PlainAndUnusableFiles) {
  TSmartPDFCrypt plain(TSmartPDFEncryption{}, kNotEncrypted, {});
  plain.Authenticate(u"");
  EXPECT_TRUE(plain.AcceptedPassword.has_value());
  const std::vector<int> expected = {0, 2, 2, 4, 6, 6, 6, 6, 6, 6, 11, 11, 11, 11};
  for (int q = 0; q < 14; ++q) EXPECT_EQ(plain.SecurityQuery(q), expected[size_t(q)]) << q;
  EXPECT_EQ(plain.SecurityQuery(14), 11);
  EXPECT_EQ(plain.SecurityQuery(-1), 11);
  EXPECT_TRUE(plain.CheckUserPassword(u""));
  EXPECT_FALSE(plain.CheckUserPassword(u"x"));

  TSmartPDFCrypt unusable(TSmartPDFEncryption{}, kEncryptUnusable, {});
  for (int q = -1; q <= 14; ++q) EXPECT_EQ(unusable.SecurityQuery(q), 9) << q;
}

// ---- The object walk ---------------------------------------------------------------------------

class ObjectWalk : public ::testing::Test {
 protected:
  TSmartPDFCrypt Handler(TCipherKind cipher, bool encryptMetadata) {
    TSmartPDFEncryption p;
    p.V = 4;
    p.R = 4;
    p.Length = 128;
    p.Cipher = cipher;
    p.EncryptMetadata = encryptMetadata;
    p.Recognised = true;
    return TSmartPDFCrypt(p, kEncrypted, {});
  }
  TPDFStream* Stream(ByteView type, ByteView data) {
    TPDFDictionary* d = s.NewDictionary();
    if (!type.empty()) d->Put("Type", s.NewName(type));
    d->Put("Length", s.NewNumber(double(data.size())));
    d->Put("Note", s.NewString("note", 0));
    TPDFStream* st = s.NewStreamWith(d, Bytes(data));
    st->SetModified(false);
    d->SetModified(false);
    return st;
  }
  TPDFStructure s;
  const Bytes key = Bytes(16, '\x42');
};

TEST_F(ObjectWalk, ExemptStreamsAreLeftAlone) {
  struct Row {
    const char* type;
    bool encryptMetadata, touched;
  };
  for (Row r : {Row{"XRef", true, false}, Row{"Metadata", false, false}, Row{"Metadata", true, true},
                Row{"", false, true}, Row{"ObjStm", true, true}}) {
    SCOPED_TRACE(r.type);
    TSmartPDFCrypt h = Handler(TCipherKind::RC4, r.encryptMetadata);
    TPDFStream* st = Stream(r.type, "plain data");
    h.EncryptObject(key, st);
    EXPECT_EQ(st->Raw() != "plain data", r.touched);
    EXPECT_EQ(st->StreamDict->GetString("Note")->BytesValue != "note", r.touched);
  }
}

TEST_F(ObjectWalk, AesStreamRoundTripKeepsLengthAndFlags) {
  TSmartPDFCrypt h = Handler(TCipherKind::AES, true);
  TPDFStream* st = Stream("", "0123456789abcdefXYZ");
  h.EncryptObject(key, st);
  EXPECT_EQ(st->Raw().size(), 48u);
  EXPECT_EQ(st->StreamDict->GetInteger("Length", 0), 48);
  EXPECT_TRUE(st->Modified);
  st->SetModified(false);
  st->StreamDict->SetModified(false);
  st->StreamDict->GetString("Note")->SetModified(false);
  st->StreamDict->GetNumber("Length")->SetModified(false);
  h.DecryptObject(key, st);
  EXPECT_EQ(st->Raw(), "0123456789abcdefXYZ");
  EXPECT_EQ(st->StreamDict->GetInteger("Length", 0), 19);
  EXPECT_EQ(st->StreamDict->GetString("Note")->BytesValue, "note");
  EXPECT_FALSE(st->IsModified());
  EXPECT_FALSE(st->StreamDict->IsModified());
}

TEST_F(ObjectWalk, SharedSelfHoldingAndDeepContainersAreSafe) {
  TSmartPDFCrypt h = Handler(TCipherKind::RC4, true);
  // One string object held twice is transformed once.
  TPDFString* shared = s.NewString("shared", 0);
  TPDFArray* arr = s.NewEmptyArray();
  arr->Append(shared);
  arr->Append(shared);
  arr->Append(arr);  // a container that holds itself
  h.EncryptObject(key, arr);
  h.DecryptObject(key, arr);
  EXPECT_EQ(shared->BytesValue, "shared");

  // Nesting far beyond the parser's limit ends without exhausting the stack.
  TPDFArray* outer = s.NewEmptyArray();
  TPDFArray* at = outer;
  for (int i = 0; i < 100000; ++i) {
    TPDFArray* inner = s.NewEmptyArray();
    at->Append(inner);
    at = inner;
  }
  at->Append(s.NewString("deep", 0));
  h.EncryptObject(key, outer);
  EXPECT_EQ(As<TPDFString>(at->Item(0))->BytesValue, "deep");

  // Bad AES padding reads as empty; an empty key changes nothing.
  TSmartPDFCrypt aes = Handler(TCipherKind::AES, true);
  TPDFString* bad = s.NewString(Bytes(32, '\x07'), 1);
  aes.DecryptObject(key, bad);
  EXPECT_EQ(bad->BytesValue, "");
  TPDFString* kept = s.NewString("kept", 0);
  aes.EncryptObject({}, kept);
  EXPECT_EQ(kept->BytesValue, "kept");
}

TEST(ObjectKeys, SaltedForAesAndSharedForAes256) {
  TSmartPDFEncryption p;
  p.V = 2;
  p.R = 3;
  p.Length = 128;
  p.Recognised = true;
  TSmartPDFCrypt rc4(p, kEncrypted, {});
  rc4.ObjectKeyBase = Bytes(16, 'k');
  const Bytes numGen("\x0c\x00\x00\x00\x00", 5);
  EXPECT_EQ(rc4.ObjectKey(12, 0), MD5OfBytes(Bytes(16, 'k') + numGen));
  p.Cipher = TCipherKind::AES;
  TSmartPDFCrypt aes(p, kEncrypted, {});
  aes.ObjectKeyBase = Bytes(16, 'k');
  EXPECT_EQ(aes.ObjectKey(12, 0), MD5OfBytes(Bytes(16, 'k') + numGen + "sAlT"));
  p.Length = 40;
  p.Cipher = TCipherKind::RC4;
  TSmartPDFCrypt short40(p, kEncrypted, {});
  short40.ObjectKeyBase = Bytes(5, 'k');
  EXPECT_EQ(short40.ObjectKey(12, 0).size(), 10u);
  p.Aes256 = true;
  p.R = 6;
  TSmartPDFCrypt aes256(p, kEncrypted, {});
  aes256.ObjectKeyBase = Bytes(32, 'k');
  EXPECT_EQ(aes256.ObjectKey(12, 0), Bytes(32, 'k'));
  EXPECT_EQ(aes256.ObjectKey(99, 3), Bytes(32, 'k'));
}

}  // namespace
