// pagelume-cli run as a program: info in plain text and JSON, show, exit statuses and
// messages, and agreement with pdfinfo on every generated file.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/facade/MarlockPDFLibraryPropertyText.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/InspectFiles.h"
#include "tests/support/PdfFixture.h"

namespace pagelume::test {
namespace {

namespace fs = std::filesystem;

std::string Q(const std::string& s) { return ShellQuote(s); }

// ---- a small JSON reader, enough to check what the tool writes --------------------------

struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<Json> items;
  std::map<std::string, Json> members;
  const Json& operator[](const std::string& key) const {
    static const Json missing;
    auto it = members.find(key);
    return it == members.end() ? missing : it->second;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}
  bool Read(Json& out) {
    if (!Value(out)) return false;
    Space();
    return i_ == s_.size();
  }

 private:
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  bool Literal(const char* word) {
    size_t n = strlen(word);
    if (s_.compare(i_, n, word) != 0) return false;
    i_ += n;
    return true;
  }
  bool Hex4(unsigned& v) {
    if (i_ + 4 > s_.size()) return false;
    v = unsigned(std::stoul(s_.substr(i_, 4), nullptr, 16));
    i_ += 4;
    return true;
  }
  bool Str(std::string& out) {
    if (s_[i_] != '"') return false;
    Text text;
    for (++i_; i_ < s_.size() && s_[i_] != '"'; ++i_) {
      unsigned char c = s_[i_];
      if (c < 0x20) return false;  // raw control characters are not JSON
      if (c != '\\') {
        // Raw UTF-8 bytes go through as they are.
        size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        text += Utf8ToText(s_.substr(i_, len));
        i_ += len - 1;
        continue;
      }
      char e = s_[++i_];
      unsigned v;
      switch (e) {
        case '"': text += u'"'; break;
        case '\\': text += u'\\'; break;
        case '/': text += u'/'; break;
        case 'n': text += u'\n'; break;
        case 'r': text += u'\r'; break;
        case 't': text += u'\t'; break;
        case 'b': text += u'\b'; break;
        case 'f': text += u'\f'; break;
        case 'u':
          ++i_;
          if (!Hex4(v)) return false;
          text += char16_t(v);
          --i_;
          break;
        default: return false;
      }
    }
    if (i_ >= s_.size()) return false;
    ++i_;
    out = TextToUtf8(text);
    return true;
  }
  bool Value(Json& v) {
    Space();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '{') {
      v.kind = Json::Object;
      ++i_;
      Space();
      if (s_[i_] == '}') return ++i_, true;
      for (;;) {
        Space();
        std::string key;
        if (!Str(key)) return false;
        Space();
        if (s_[i_++] != ':') return false;
        if (!Value(v.members[key])) return false;
        Space();
        if (s_[i_] == ',') { ++i_; continue; }
        if (s_[i_] == '}') return ++i_, true;
        return false;
      }
    }
    if (c == '[') {
      v.kind = Json::Array;
      ++i_;
      Space();
      if (s_[i_] == ']') return ++i_, true;
      for (;;) {
        v.items.emplace_back();
        if (!Value(v.items.back())) return false;
        Space();
        if (s_[i_] == ',') { ++i_; continue; }
        if (s_[i_] == ']') return ++i_, true;
        return false;
      }
    }
    if (c == '"') {
      v.kind = Json::String;
      return Str(v.string);
    }
    if (Literal("true")) { v.kind = Json::Bool; v.boolean = true; return true; }
    if (Literal("false")) { v.kind = Json::Bool; return true; }
    if (Literal("null")) return true;
    size_t used = 0;
    try {
      v.number = std::stod(s_.substr(i_), &used);
    } catch (...) {
      return false;
    }
    v.kind = Json::Number;
    i_ += used;
    return true;
  }
  const std::string& s_;
  size_t i_ = 0;
};

Json ParseJson(const std::string& text) {
  Json j;
  EXPECT_TRUE(JsonReader(text).Read(j)) << "not JSON:\n" << text;
  return j;
}

// ---- info ---------------------------------------------------------------------------------

TEST(CliInfo, PlainOutputShowsTheWindowsTexts) {
  const InspectFile* f = FindInspectFile("classic");
  if (!f) return;
  CliResult r = RunCli("info " + Q(f->path));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string size = TextToUtf8(FileSizeText(int64_t(fs::file_size(f->path))));
  const std::string version = ReadWholeFile(f->path).substr(5, 3);
  const std::string expected = "File Name:     " + f->path + "\n" +
                               "Title:         Inspection Title\n"
                               "Subject:       Sub(ject) \\ back\n"
                               "Author:        " + kInspectAuthor + "\n" +
                               "Keywords:      k1, k2\n"
                               "Creator:       Creator Tool\n"
                               "Producer:      Producer Lib\n"
                               "PDF Version:   " + version + "\n" +
                               "CreateDate:    2023/01/15 14:30:00\n"
                               "ModifyDate:    2024/02/29 23:59:59\n"
                               "File Size:     " + size + "\n" +
                               "Pages:         3 pages\n"
                               "Encryption:    Not encrypted\n"
                               "Security:      None\n"
                               "Print:         allowed\n"
                               "Modify:        allowed\n"
                               "Copy:          allowed\n"
                               "Annotate:      allowed\n"
                               "Fill Forms:    allowed\n"
                               "Accessibility: allowed\n"
                               "Assemble:      allowed\n";
  EXPECT_EQ(r.out, expected);

  // Encrypted, with the permissions the file denies.
  const InspectFile* e = FindInspectFile("aes128-empty-user");
  if (!e) return;
  r = RunCli("info " + Q(e->path));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nEncryption:    128-bit AES (Acrobat 7)\nSecurity:      User\nPrint:         not allowed\n"
                       "Modify:        not allowed\nCopy:          allowed\n"),
            std::string::npos)
      << r.out;
}

TEST(CliInfo, JsonForOneFileAndForSeveral) {
  const InspectFile* plain = FindInspectFile("classic");
  const InspectFile* aes = FindInspectFile("aes128-empty-user");
  if (!plain || !aes) return;
  CliResult r = RunCli("info --json " + Q(plain->path));
  ASSERT_EQ(r.status, 0) << r.err;
  Json j = ParseJson(r.out);
  ASSERT_EQ(j.kind, Json::Object);
  EXPECT_EQ(j["file"].string, plain->path);
  EXPECT_EQ(j["size"].kind, Json::Number);
  EXPECT_EQ(j["size"].number, double(fs::file_size(plain->path)));
  EXPECT_EQ(j["title"].string, kInspectTitle);
  EXPECT_EQ(j["author"].string, kInspectAuthor);
  EXPECT_EQ(j["subject"].string, kInspectSubject);
  EXPECT_EQ(j["keywords"].string, kInspectKeywords);
  EXPECT_EQ(j["creator"].string, kInspectCreator);
  EXPECT_EQ(j["producer"].string, kInspectProducer);
  EXPECT_EQ(j["pages"].number, kInspectPages);
  EXPECT_EQ(j["created"].string, kInspectCreated);
  EXPECT_EQ(j["modified"].string, kInspectModified);
  EXPECT_EQ(j["security"].string, "None");
  EXPECT_EQ(j["encrypted"].kind, Json::Bool);
  EXPECT_FALSE(j["encrypted"].boolean);
  EXPECT_EQ(j["encryption_code"].number, 11);
  EXPECT_EQ(j["encryption"].string, "Not encrypted");
  EXPECT_EQ(j["form_fields"].number, kInspectFields);
  ASSERT_EQ(j["items"].items.size(), 44u);
  EXPECT_EQ(j["items"].items[3].string, kInspectTitle);
  for (const char* p : {"print", "modify", "copy", "annotate", "fill_forms", "accessibility", "assemble"})
    EXPECT_TRUE(j["permissions"][p].boolean) << p;

  // Several files: an array, in the order given; a bad file is left out and reported.
  r = RunCli("info --json " + Q(plain->path) + " /no/such.pdf " + Q(aes->path));
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "/no/such.pdf: there is no such file; check the name\n");
  j = ParseJson(r.out);
  ASSERT_EQ(j.kind, Json::Array);
  ASSERT_EQ(j.items.size(), 2u);
  const Json& second = j.items[1];
  EXPECT_EQ(second["file"].string, aes->path);
  EXPECT_TRUE(second["encrypted"].boolean);
  EXPECT_EQ(second["security"].string, "User");
  EXPECT_EQ(second["encryption_code"].number, 12);
  EXPECT_EQ(second["encryption"].string, "128-bit AES (Acrobat 7)");
  EXPECT_FALSE(second["permissions"]["print"].boolean);
  EXPECT_FALSE(second["permissions"]["modify"].boolean);
  EXPECT_TRUE(second["permissions"]["copy"].boolean);

  // Nothing readable: still an array.
  r = RunCli("info --json /no/such.pdf /no/other.pdf");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(ParseJson(r.out).kind, Json::Array);
}

TEST(CliInfo, JsonEscapesEveryString) {
  // Quote, backslash, line break, a control byte, tab, and a character outside the BMP.
  TempFile file(BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>",
                          "<< /Title (say \"hi\" \\\\ now\\nnext\\001\\tend) /Author <FEFF0041D83DDE000042> "
                          "/CreationDate (20230115143000Z) >>"},
                         "/Root 1 0 R /Info 3 0 R"));
  CliResult r = RunCli("info --json " + Q(file.Path()));
  ASSERT_EQ(r.status, 0) << r.err;
  Json j = ParseJson(r.out);
  EXPECT_EQ(j["title"].string, std::string("say \"hi\" \\ now\nnext") + TextToUtf8(Text(1, PdfDocChar(1))) + "\tend");
  EXPECT_EQ(j["author"].string, "A\xF0\x9F\x98\x80" "B");
  EXPECT_NE(r.out.find("A\xF0\x9F\x98\x80" "B"), std::string::npos);  // raw UTF-8, not escaped
  EXPECT_EQ(j["created"].string, "20230115143000Z");

  // The plain output keeps one line per property, and a date without "D:" shows whole.
  r = RunCli("info " + Q(file.Path()));
  EXPECT_NE(r.out.find("\nCreateDate:    2023/01/15 14:30:00\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nTitle:         say \"hi\" \\ now next"), std::string::npos) << r.out;
}

TEST(CliInfo, PasswordsFromOptionFileAndEnvironment) {
  const InspectFile* f = FindInspectFile("aes256");
  if (!f) return;
  CliResult r = RunCli("info " + Q(f->path));
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, f->path + ": this file is encrypted; give its user or owner password with --password\n");
  EXPECT_EQ(r.out, "");

  r = RunCli("info --password wrong " + Q(f->path));
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("the password does not open this file"), std::string::npos);

  r = RunCli("info --password " + Q(f->ownerPassword) + " " + Q(f->path));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Security:      Owner\n"), std::string::npos);
  r = RunCli("info --password=" + Q(f->userPassword) + " " + Q(f->path));
  EXPECT_NE(r.out.find("Security:      User\n"), std::string::npos);

  TempFile passwordFile(f->userPassword + "\nsecond line\n", ".txt");
  r = RunCli("info --password-file " + Q(passwordFile.Path()) + " " + Q(f->path));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Encryption:    256-bit AES (Acrobat X)\n"), std::string::npos);

  r = RunCli("info " + Q(f->path), "PAGELUME_PASSWORD=" + Q(f->ownerPassword));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Security:      Owner\n"), std::string::npos);
  // The option wins over the environment.
  r = RunCli("info --password wrong " + Q(f->path), "PAGELUME_PASSWORD=" + Q(f->ownerPassword));
  EXPECT_EQ(r.status, 4);
}

TEST(CliInfo, ExitStatusIsTheWorstSeen) {
  const InspectFile* plain = FindInspectFile("classic");
  const InspectFile* aes = FindInspectFile("aes256");
  if (!plain || !aes) return;
  TempFile text(Bytes("not a pdf\n"), ".pdf");
  struct Case {
    std::string args;
    int status;
    std::string errorStart;  // "" for no error output
  } cases[] = {
      {Q(plain->path), 0, ""},
      {"/no/such/file.pdf", 3, "/no/such/file.pdf: there is no such file"},
      {Q(fs::temp_directory_path().string()), 3, fs::temp_directory_path().string() + ": this is a folder"},
      {Q(text.Path()), 5, text.Path() + ": this is not a PDF file, or its cross-reference data is damaged"},
      {Q(aes->path), 4, aes->path + ": this file is encrypted"},
      {Q(text.Path()) + " " + Q(aes->path) + " " + Q(plain->path), 5, text.Path() + ": "},
      {"/no/such.pdf " + Q(aes->path), 4, "/no/such.pdf: "},
  };
  for (const Case& c : cases) {
    CliResult r = RunCli("info " + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    if (c.errorStart.empty())
      EXPECT_EQ(r.err, "") << c.args;
    else
      EXPECT_EQ(r.err.compare(0, c.errorStart.size(), c.errorStart), 0) << c.args << ": " << r.err;
  }
  // The good file after two bad ones is still shown.
  CliResult r = RunCli("info " + Q(text.Path()) + " " + Q(aes->path) + " " + Q(plain->path));
  EXPECT_NE(r.out.find("Title:         Inspection Title\n"), std::string::npos);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2);
}

TEST(CliInfo, UsageErrorsAndHelp) {
  const char* usage[] = {"",
                         "frobnicate x.pdf",
                         "info",
                         "info --jsn x.pdf",
                         "info --password",
                         "info --password a --password-file b x.pdf",
                         "info --password-file /no/such/password-file x.pdf",
                         "show x.pdf",
                         "show x.pdf 0",
                         "show x.pdf -3",
                         "show x.pdf 99999999999",
                         "show x.pdf trailers",
                         "show --json x.pdf 1"};
  for (const char* args : usage) {
    CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find("pagelume-cli --help"), std::string::npos) << args << ": " << r.err;
    EXPECT_EQ(r.out, "") << args;
  }
  for (const char* args : {"--help", "help", "-h"}) {
    CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("info [--password PW | --password-file F] [--json] FILE..."), std::string::npos);
    EXPECT_NE(r.out.find("show [--password PW | --password-file F] [--decode] FILE trailer|NUMBER..."),
              std::string::npos);
  }
}

// ---- show -------------------------------------------------------------------------------

TEST(CliShow, PrintsObjectsAndDecodedStreams) {
  TempFile file(BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>",
                          "<< /Length 12 /Filter /ASCIIHexDecode >>\nstream\n41 00 42 0A>\nendstream"},
                         "/Root 1 0 R"));
  CliResult r = RunCli("show " + Q(file.Path()) + " trailer 2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("trailer\n<<"), 0u) << r.out;
  size_t obj = r.out.find("\n2 0 obj\n<<");
  ASSERT_NE(obj, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("/Count 0", obj), std::string::npos);
  EXPECT_TRUE(EndsWith(r.out, "\nendobj\n"));

  r = RunCli("show " + Q(file.Path()) + " 3");
  EXPECT_NE(r.out.find("stream\n41 00 42 0A>\nendstream\nendobj\n"), std::string::npos) << r.out;
  r = RunCli("show --decode " + Q(file.Path()) + " 3");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("A\0B\n", 4));

  r = RunCli("show " + Q(file.Path()) + " 7 1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, file.Path() + ": no object 7\n");
  EXPECT_EQ(r.out.find("1 0 obj\n"), 0u);  // the others are still shown

  r = RunCli("show /no/such.pdf 1");
  EXPECT_EQ(r.status, 3);
}

TEST(CliShow, DecryptsObjectsAlsoInsideObjectStreams) {
  for (const char* name : {"rc4-40", "aes256-objstm"}) {
    const InspectFile* f = FindInspectFile(name);
    if (!f) continue;
    CliResult r = RunCli("show " + Q(f->path) + " 1");
    EXPECT_EQ(r.status, 4) << name;
    r = RunCli("show --password " + Q(f->userPassword) + " " + Q(f->path) + " trailer");
    ASSERT_EQ(r.status, 0) << name << r.err;
    size_t info = r.out.find("/Info ");
    ASSERT_NE(info, std::string::npos);
    std::string number = r.out.substr(info + 6, r.out.find(' ', info + 6) - info - 6);
    r = RunCli("show --password " + Q(f->userPassword) + " " + Q(f->path) + " " + number);
    ASSERT_EQ(r.status, 0) << name << r.err;
    std::string hex = "<";
    for (unsigned char c : std::string(kInspectCreator)) hex += ToHex(c, 2);
    EXPECT_TRUE(r.out.find(std::string("(") + kInspectCreator + ")") != std::string::npos ||
                r.out.find(hex + ">") != std::string::npos)
        << name << ": " << r.out;
  }
}

// ---- pdfinfo as the judge ------------------------------------------------------------------------

std::map<std::string, std::string> PdfinfoFields(const std::string& output) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    size_t value = line.find_first_not_of(' ', colon + 1);
    fields[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
  }
  return fields;
}

TEST(CliInfo, AgreesWithPdfinfo) {
  if (!HaveTool("pdfinfo")) GTEST_SKIP() << "pdfinfo is not installed";
  std::vector<InspectFile> files = InspectFiles();
  ASSERT_FALSE(files.empty());
  int compared = 0;
  for (const InspectFile& f : files) {
    for (bool owner : {false, true}) {
      if (owner && !f.encrypted) continue;
      SCOPED_TRACE(f.name + (owner ? " owner" : " user"));
      const std::string password = owner ? f.ownerPassword : f.userPassword;
      std::string popt = f.encrypted ? (owner ? "-opw " : "-upw ") + Q(password) + " " : "";
      CommandResult oracle = RunCommand("pdfinfo -enc UTF-8 " + popt + Q(f.path) + " 2>/dev/null");
      if (oracle.exitCode != 0) continue;  // pdfinfo cannot read it: nothing to compare
      std::map<std::string, std::string> expected = PdfinfoFields(oracle.output);
      CliResult r = RunCli("info --json --password " + Q(password) + " " + Q(f.path));
      ASSERT_EQ(r.status, 0) << r.err;
      Json j = ParseJson(r.out);
      for (const char* key : {"Title", "Author", "Subject", "Keywords", "Creator", "Producer"}) {
        std::string lower = key;
        lower[0] = char(tolower(lower[0]));
        EXPECT_EQ(j[lower].string, expected[key]) << key;
      }
      EXPECT_EQ(j["pages"].number, std::stod(expected["Pages"]));
      EXPECT_EQ(j["encrypted"].boolean, expected["Encrypted"].rfind("yes", 0) == 0) << expected["Encrypted"];
      ++compared;
    }
  }
  EXPECT_GT(compared, 10);
}

}  // namespace
}  // namespace pagelume::test
