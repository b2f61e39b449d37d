// The document writer: the exact layout of a saved file, the free list, every layout
// and kind of encryption qpdf writes saved and checked by qpdf, and saves that fail
// without touching the target.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/document/MarlockPDFLibraryPageTree.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "engine/security/MarlockPDFLibraryCrypto.h"
#include "tests/support/InspectFiles.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

namespace fs = std::filesystem;

const char* const kContent = "BT /F1 12 Tf 72 700 Td (Hello) Tj ET";

Bytes SmallPdf() {
  return test::BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R >>",
                         "<< /Title (Small) >>",
                         "<< /Length " + std::to_string(strlen(kContent)) + " >>\nstream\n" + kContent +
                             "\nendstream"},
                        "/Root 1 0 R /Info 4 0 R");
}

Bytes Written(TPDFDocument& doc) {
  Bytes out;
  EXPECT_TRUE(doc.WriteDocument([&out](ByteView b) {
    out.append(b);
    return true;
  }));
  return out;
}

// The table of a written file: each entry line by number, and the startxref value.
struct Table {
  int64_t xrefOffset = -1;
  int64_t startxref = -1;
  std::vector<std::string> lines;
  Bytes trailer;
};

Table ReadTable(const Bytes& file) {
  Table t;
  const size_t x = file.rfind("\nxref\n");
  if (x == Bytes::npos) return t;
  t.xrefOffset = int64_t(x + 1);
  size_t p = x + 6;
  const size_t eol = file.find('\n', p);
  const Bytes head = file.substr(p, eol - p);
  EXPECT_EQ(head.substr(0, 2), "0 ");
  const int64_t count = ToInt64(head.substr(2), -1);
  p = eol + 1;
  for (int64_t i = 0; i < count && p + 20 <= file.size(); ++i, p += 20) t.lines.push_back(file.substr(p, 20));
  const size_t trailerEnd = file.find("startxref\n", p);
  t.trailer = file.substr(p, trailerEnd - p);
  const size_t valueEnd = file.find('\n', trailerEnd + 10);
  t.startxref = ToInt64(file.substr(trailerEnd + 10, valueEnd - trailerEnd - 10), -1);
  return t;
}

// Follows the free list from entry 0; the numbers met, in order.
std::vector<int64_t> FreeChain(const Table& t) {
  std::vector<int64_t> chain;
  int64_t n = 0;
  for (size_t guard = 0; guard <= t.lines.size(); ++guard) {
    const std::string& line = t.lines[size_t(n)];
    if (line[17] != 'f') break;
    n = ToInt64(line.substr(0, 10), -1);
    if (n <= 0 || n >= int64_t(t.lines.size())) break;
    chain.push_back(n);
  }
  return chain;
}

std::string QpdfCheck(const std::string& path, const std::string& password) {
  const std::string pw = password.empty() ? "" : " --password=" + test::ShellQuote(password);
  const auto r = test::RunCommand("qpdf --check" + pw + " " + test::ShellQuote(path));
  if (r.exitCode != 0 || r.output.find("WARNING") != std::string::npos ||
      r.output.find("No syntax or stream encoding errors found") == std::string::npos)
    return "exit " + std::to_string(r.exitCode) + ": " + r.output;
  return "";
}

TEST(Writer, SmallDocumentExactLayout) {
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromBytes(SmallPdf(), u""), 0);
  const Bytes file = Written(doc);

  // Header, comment line, then every record's text in table order.
  Bytes expected = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::map<int32_t, int64_t> offsets;
  for (size_t i = 0; i < doc.ObjectCount(); ++i) {
    offsets[doc.ObjectAt(i).Number] = int64_t(expected.size());
    expected += doc.ObjectAt(i).IndirectText();
  }
  ASSERT_EQ(file.substr(0, expected.size()), expected);
  // The load added page 1's engine content stream as object 6.
  ASSERT_EQ(doc.HighestNumber(), 6);
  EXPECT_NE(expected.find("6 0 obj\n<<\n/LC /eZLT\n"), Bytes::npos) << expected;

  const Table t = ReadTable(file);
  EXPECT_EQ(t.xrefOffset, int64_t(expected.size()));
  EXPECT_EQ(file.substr(expected.size(), 9), "xref\n0 7\n");
  ASSERT_EQ(t.lines.size(), 7u);
  EXPECT_EQ(t.lines[0], "0000000000 65535 f \n");
  for (int32_t n = 1; n <= 6; ++n) EXPECT_EQ(t.lines[size_t(n)], PadNumber(offsets[n], 10) + " 00000 n \n");
  EXPECT_EQ(t.trailer, "trailer\n<<\n/Size 7\n/Root 1 0 R\n/Info 4 0 R\n>>\n");
  EXPECT_EQ(t.startxref, t.xrefOffset);
  EXPECT_TRUE(EndsWith(file, "startxref\n" + IntToText(t.startxref) + "\n%%EOF\n"));
  EXPECT_EQ(doc.FileSize, int64_t(file.size()));
  // The document stays as it was and writes the same again.
  EXPECT_EQ(doc.PageTree->SelectedPageNumber(), 1);
  EXPECT_EQ(Written(doc), file);

  // Into a file stream, from its current position.
  test::TempFile target;
  {
    auto stream = OpenFileStream(Utf8ToText(target.Path()), kFileCreate);
    ASSERT_EQ(stream->Write("junk", 4), 4);
    EXPECT_TRUE(doc.WriteDocument(*stream));
  }
  EXPECT_EQ(test::ReadWholeFile(target.Path()), "junk" + file);
  EXPECT_EQ(doc.FileSize, int64_t(file.size()) + 4);
}

TEST(Writer, EmptyDocumentWritesTheHeadOfTheFreeListAlone) {
  TPDFDocument doc;
  doc.Version = "1.7";
  EXPECT_EQ(Written(doc),
            "%PDF-1.7\n%\xE2\xE3\xCF\xD3\nxref\n0 1\n0000000000 65535 f \ntrailer\n<<\n/Size 1\n>>\n"
            "startxref\n15\n%%EOF\n");
}

TEST(Writer, NumbersWithoutObjectsFormTheFreeList) {
  // Objects 1, 2, 3, 5 and 8 (with a large generation); 4, 6 and 7 never written.
  const Bytes pdf = test::FillTemplate(
      "%PDF-1.6\n"
      "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
      "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
      "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources << >> >>\nendobj\n"
      "5 0 obj\n(five)\nendobj\n"
      "8 3 obj\n(eight)\nendobj\n"
      "{{xref}}trailer\n<< /Size 4 /Root 1 0 R /XRefStm 999 /Prev 17 >>\nstartxref\n{{startxref}}\n%%EOF\n");
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromBytes(pdf, u""), 0);
  const Bytes file = Written(doc);
  EXPECT_TRUE(StartsWith(file, "%PDF-1.6\n"));
  const Table t = ReadTable(file);
  // The engine content stream of page 1 took number 9.
  ASSERT_EQ(t.lines.size(), 10u);
  EXPECT_EQ(t.lines[0], "0000000004 65535 f \n");
  EXPECT_EQ(t.lines[4], "0000000006 00000 f \n");
  EXPECT_EQ(t.lines[6], "0000000007 00000 f \n");
  EXPECT_EQ(t.lines[7], "0000000000 00000 f \n");
  EXPECT_EQ(t.lines[8].substr(10), " 00003 n \n");
  EXPECT_EQ(t.lines[9].substr(10), " 00000 n \n");
  // /Size follows the table; neither /XRefStm nor /Prev points into the old file.
  EXPECT_EQ(t.trailer, "trailer\n<<\n/Size 10\n/Root 1 0 R\n>>\n");

  if (!test::HaveTool("qpdf")) return;
  test::TempFile saved(file);
  EXPECT_EQ(QpdfCheck(saved.Path(), ""), "");
}

TEST(Writer, EveryLayoutAndEncryptionSavesCleanly) {
  if (test::InspectFiles().empty()) GTEST_SKIP() << "qpdf missing";
  for (const test::InspectFile& f : test::InspectFiles()) {
    SCOPED_TRACE(f.name);
    const Bytes source = test::ReadWholeFile(f.path);
    const std::vector<std::string> passwords =
        f.encrypted ? std::vector<std::string>{f.userPassword, f.ownerPassword} : std::vector<std::string>{""};
    for (const std::string& password : passwords) {
      SCOPED_TRACE("password '" + password + "'");
      TPDFDocument doc;
      ASSERT_EQ(doc.LoadFromBytes(source, Utf8ToText(password)), 0);

      std::set<int32_t> objectStreams;
      size_t members = 0;
      for (size_t i = 0; i < doc.ObjectCount(); ++i) {
        if (doc.ObjectAt(i).InObjectStream) {
          objectStreams.insert(doc.ObjectAt(i).StreamNumber);
          ++members;
        }
      }
      const Bytes file = Written(doc);
      const Table t = ReadTable(file);
      ASSERT_EQ(t.startxref, t.xrefOffset);
      ASSERT_EQ(t.lines.size(), size_t(doc.HighestNumber()) + 1);

      // Object streams are gone and free; their members come first, as plain objects.
      for (int32_t n : objectStreams) {
        EXPECT_EQ(t.lines[size_t(n)][17], 'f') << n;
        EXPECT_EQ(file.find("\n" + IntToText(n) + " 0 obj\n"), Bytes::npos) << n;
      }
      EXPECT_EQ(file.find("/ObjStm"), Bytes::npos);
      if (members > 0) {
        const Bytes first = IntToText(doc.ObjectAt(0).Number) + " " + IntToText(doc.ObjectAt(0).Generation) + " obj\n";
        EXPECT_EQ(file.substr(15, first.size()), first);
      }
      // Every free entry is on the chain from entry 0, and the chain ends at 0.
      size_t freeCount = 0;
      for (const std::string& line : t.lines) freeCount += line[17] == 'f';
      EXPECT_EQ(FreeChain(t).size() + 1, freeCount);
      // Each in-use entry points at its object.
      for (size_t n = 1; n < t.lines.size(); ++n) {
        if (t.lines[n][17] != 'n') continue;
        const int64_t at = ToInt64(t.lines[n].substr(0, 10), -1);
        EXPECT_TRUE(file.compare(size_t(at), IntToText(int64_t(n)).size() + 1, IntToText(int64_t(n)) + " ") == 0)
            << n;
      }

      test::TempFile saved(file);
      EXPECT_EQ(QpdfCheck(saved.Path(), password), "");
      if (!f.encrypted) continue;

      // Same /Encrypt and /ID; opens with both passwords, to qpdf and to us.
      EXPECT_EQ(QpdfCheck(saved.Path(), password == f.userPassword ? f.ownerPassword : f.userPassword), "");
      TPDFDocument source2;
      ASSERT_EQ(source2.LoadFromBytes(source, Utf8ToText(password)), 0);
      for (const std::string& pw : {f.userPassword, f.ownerPassword}) {
        TPDFDocument again;
        ASSERT_EQ(again.LoadFromBytes(file, Utf8ToText(pw)), 0);
        EXPECT_EQ(again.Trailer->Get("ID", false)->ToText(), source2.Trailer->Get("ID", false)->ToText());
        EXPECT_EQ(again.Trailer->Get("Encrypt", true)->ToText(), source2.Trailer->Get("Encrypt", true)->ToText());
        EXPECT_EQ(again.EncryptionState(), kEncrypted);
        // Every object decrypts to what the document held.
        for (size_t i = 0; i < doc.ObjectCount(); ++i) {
          TPDFIndObj& r = doc.ObjectAt(i);
          if (objectStreams.count(r.Number)) continue;
          TPDFIndObj* a = again.FindObject(r.Number);
          ASSERT_NE(a, nullptr) << r.Number;
          ASSERT_NE(a->GetBody(), nullptr);
          EXPECT_EQ(a->GetBody()->ToText(), r.GetBody()->ToText()) << r.Number;
        }
      }
      // A second save writes the same content (AES draws new IVs, so compare decrypted).
      const Bytes second = Written(doc);
      if (f.kindCode == 7 || f.kindCode == 8) {
        EXPECT_EQ(second, file);
      }
      TPDFDocument a, b;
      ASSERT_EQ(a.LoadFromBytes(file, Utf8ToText(password)), 0);
      ASSERT_EQ(b.LoadFromBytes(second, Utf8ToText(password)), 0);
      ASSERT_EQ(a.ObjectCount(), b.ObjectCount());
      for (size_t i = 0; i < a.ObjectCount(); ++i) {
        EXPECT_EQ(a.ObjectAt(i).Number, b.ObjectAt(i).Number);
        EXPECT_EQ(a.ObjectAt(i).GetBody()->ToText(), b.ObjectAt(i).GetBody()->ToText());
      }
    }
  }
}

// Objects the save loads only to write them keep their ciphertext: an untouched stream
// goes out byte for byte. A string that does not decrypt (AES: not whole blocks) comes
// out as decrypting and encrypting it gives, an empty string.
TEST(Writer, UntouchedEncryptedDataGoOutAsRead) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  const std::string good = "a string of more than one block of sixteen bytes";
  const std::string data = "stream data that nothing in the document reads";
  const test::TempFile plain(test::BuildPdf(
      {"<< /Type /Catalog /Pages 2 0 R /Extra 6 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R >>", "<< /Title (Small) >>",
       "<< /Length " + std::to_string(strlen(kContent)) + " >>\nstream\n" + kContent + "\nendstream",
       "<< /Length " + std::to_string(data.size()) + " /A (" + good + ") /Z (" + good + ") >>\nstream\n" + data +
           "\nendstream"},
      "/Root 1 0 R /Info 4 0 R"));
  // The stream holding /A, as loaded: still encrypted unless `decrypted`.
  auto extra = [](TPDFDocument& d, bool decrypted) -> TPDFStream* {
    for (size_t i = 0; i < d.ObjectCount(); ++i) {
      TPDFIndObj& r = d.ObjectAt(i);
      r.LoadBody();
      if (decrypted) r.GetBody();
      auto* st = As<TPDFStream>(r.Body);
      if (st != nullptr && st->StreamDict->Get("A", false) != nullptr) return st;
    }
    return nullptr;
  };
  for (const std::string kind : {"128 --use-aes=y", "128 --use-aes=n", "256"}) {
    SCOPED_TRACE(kind);
    test::TempFile encrypted;
    ASSERT_EQ(test::RunCommand("qpdf --object-streams=disable --allow-weak-crypto --encrypt user owner " + kind + " -- " +
                               test::ShellQuote(plain.Path()) + " " + test::ShellQuote(encrypted.Path()))
                  .exitCode,
              0);
    Bytes source = test::ReadWholeFile(encrypted.Path());
    const bool aes = kind.find("aes=n") == std::string::npos;
    if (aes) {
      // /Z's ciphertext (qpdf writes it in hex) becomes two bytes, padded with spaces
      // so offsets stay right.
      const size_t b = source.find("/Z <");
      ASSERT_NE(b, Bytes::npos);
      const size_t end = source.find('>', b) + 1;
      ASSERT_GT(end, b + 3 + 6);
      source.replace(b + 3, end - b - 3, "<0011>" + Bytes(end - b - 3 - 6, ' '));
    }

    TPDFDocument doc;
    ASSERT_EQ(doc.LoadFromBytes(source, u"user"), 0);
    const Bytes file = Written(doc);
    TPDFDocument input, output;
    ASSERT_EQ(input.LoadFromBytes(source, u"user"), 0);
    ASSERT_EQ(output.LoadFromBytes(file, u"user"), 0);
    TPDFStream* in = extra(input, false);
    TPDFStream* out = extra(output, false);
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->Raw(), in->Raw());
    EXPECT_EQ(out->StreamDict->GetString("A")->BytesValue, in->StreamDict->GetString("A")->BytesValue);
    if (aes) {
      EXPECT_EQ(out->StreamDict->GetString("Z")->BytesValue.size(), 2 * kAESBlockSize);
    }

    // Decrypted: the same data and text, and /Z the empty string its bad ciphertext
    // stands for.
    TPDFDocument again;
    ASSERT_EQ(again.LoadFromBytes(file, u"owner"), 0);
    TPDFStream* back = extra(again, true);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Decoded(), data);
    EXPECT_EQ(back->StreamDict->GetString("A")->BytesValue, good);
    EXPECT_EQ(back->StreamDict->GetString("Z")->BytesValue, aes ? "" : good);
    test::TempFile saved(file);
    EXPECT_EQ(QpdfCheck(saved.Path(), "user"), "");
  }
}

// A folder of its own per test, so that a temporary file left behind shows.
class SaveFolder {
 public:
  SaveFolder() {
    const std::string t = test::WriteTempFile("");
    fs::remove(t);
    path_ = t + ".d";
    fs::create_directory(path_);
  }
  ~SaveFolder() { fs::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(Writer, SaveOverTheLoadedFileKeepsItsPermissions) {
  SaveFolder folder;
  const std::string path = folder.File("doc.pdf");
  {
    test::TempFile seed(SmallPdf());
    fs::copy_file(seed.Path(), path);
  }
  ::chmod(path.c_str(), 0640);
  TPDFDocument doc;
  {
    auto stream = OpenFileStream(Utf8ToText(path), kFileOpenRead | kFileShareDenyWrite);
    ASSERT_EQ(doc.LoadFromStream(*stream, u""), 0);
  }
  const Bytes expected = Written(doc);
  ASSERT_TRUE(doc.SaveToFile(Utf8ToText(path)));
  EXPECT_EQ(test::ReadWholeFile(path), expected);
  EXPECT_EQ(doc.FileSize, int64_t(expected.size()));
  EXPECT_EQ(ModeOf(path), 0640u);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"doc.pdf"});

  // A second save over it, and a new file, which gets 0666 less the umask.
  ASSERT_TRUE(doc.SaveToFile(Utf8ToText(path)));
  EXPECT_EQ(test::ReadWholeFile(path), expected);
  const mode_t mask = ::umask(027);
  const bool saved = doc.SaveToFile(Utf8ToText(folder.File("new.pdf")));
  ::umask(mask);
  ASSERT_TRUE(saved);
  EXPECT_EQ(test::ReadWholeFile(folder.File("new.pdf")), expected);
  EXPECT_EQ(ModeOf(folder.File("new.pdf")), 0640u);

  // Through a symbolic link the file it names is replaced, the link stays.
  fs::create_symlink("new.pdf", folder.File("link.pdf"));
  ::chmod(folder.File("new.pdf").c_str(), 0600);
  ASSERT_TRUE(doc.SaveToFile(Utf8ToText(folder.File("link.pdf"))));
  EXPECT_TRUE(fs::is_symlink(folder.File("link.pdf")));
  EXPECT_EQ(ModeOf(folder.File("new.pdf")), 0600u);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"doc.pdf", "link.pdf", "new.pdf"}));
}

TEST(Writer, FailedSaveLeavesTheTargetAsItWas) {
  SaveFolder folder;
  const std::string path = folder.File("old.pdf");
  const Bytes old = "%PDF-1.4 the old file, which must survive\n";
  { std::FILE* f = std::fopen(path.c_str(), "wb"); std::fwrite(old.data(), 1, old.size(), f); std::fclose(f); }
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromBytes(SmallPdf(), u""), 0);
  const int64_t loadedSize = doc.FileSize;

  // The disk fills up part way: a child whose files may not grow past 300 bytes.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{300, 300};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    _exit(doc.SaveToFile(Utf8ToText(path)) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reported success";
  EXPECT_EQ(test::ReadWholeFile(path), old);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"old.pdf"});

  // Targets that cannot be written: a missing folder, a folder.
  EXPECT_FALSE(doc.SaveToFile(Utf8ToText(folder.File("missing/new.pdf"))));
  fs::create_directory(folder.File("dir.pdf"));
  EXPECT_FALSE(doc.SaveToFile(Utf8ToText(folder.File("dir.pdf"))));
  EXPECT_FALSE(doc.SaveToFile(u""));
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"dir.pdf", "old.pdf"}));
  EXPECT_EQ(doc.FileSize, loadedSize);
}

TEST(Writer, FailedWriteLeavesTheDocumentUsable) {
  if (test::InspectFiles().empty()) GTEST_SKIP() << "qpdf missing";
  const test::InspectFile* f = test::FindInspectFile("aes128");
  ASSERT_NE(f, nullptr);
  const Text password = Utf8ToText(f->userPassword);
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromBytes(test::ReadWholeFile(f->path), password), 0);
  auto plainEverywhere = [&] {
    for (size_t i = 0; i < doc.ObjectCount(); ++i) EXPECT_TRUE(doc.ObjectAt(i).Decrypted) << i;
  };

  // The output refuses its bytes.
  EXPECT_FALSE(doc.WriteDocument([](ByteView) { return false; }));
  plainEverywhere();

  // An object that cannot be written (a number beyond the writer's range) after an
  // encrypted string in the same object.
  TPDFString* secret = doc.Structure.NewString("secret", 0);
  TPDFIndObj* bad = doc.AddIndirect(doc.Structure.NewArray({secret, doc.Structure.NewNumber(1e300)}));
  const int32_t badNumber = bad->Number;
  EXPECT_FALSE(doc.WriteDocument([](ByteView) { return true; }));
  plainEverywhere();
  EXPECT_EQ(secret->GetBytes(), "secret");

  // Once the object is writable again the document saves and reads back.
  auto* items = As<TPDFArray>(doc.FindObject(badNumber)->Body);
  items->ReplaceItem(1, doc.Structure.NewNumber(2));
  const Bytes file = Written(doc);
  TPDFDocument again;
  ASSERT_EQ(again.LoadFromBytes(file, password), 0);
  EXPECT_EQ(again.ResolveNumber(badNumber)->ToText(), "[ (secret) 2 ]");
  EXPECT_EQ(As<TPDFDictionary>(again.Trailer->Get("Info", true))->ToText(),
            As<TPDFDictionary>(doc.Trailer->Get("Info", true))->ToText());
}

TEST(Writer, ObjectNumberAboveTheLimitIsRefused) {
  // A source that already uses the highest number the format allows; one more object
  // goes past it.
  const Bytes pdf = test::FillTemplate(
      "%PDF-1.4\n"
      "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
      "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n"
      "8388607 0 obj\n(last)\nendobj\n"
      "trailer\n<< /Root 1 0 R >>\n%%EOF\n");
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromBytes(pdf, u""), 0);
  ASSERT_EQ(doc.HighestNumber(), 8388607);
  doc.AddIndirect(doc.Structure.NewNumber(1));
  size_t bytes = 0;
  EXPECT_FALSE(doc.WriteDocument([&](ByteView b) {
    bytes += b.size();
    return true;
  }));
  EXPECT_EQ(bytes, 0u);
}

}  // namespace
}  // namespace pagelume
