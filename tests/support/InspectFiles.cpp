#include "tests/support/InspectFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "tests/support/PdfFixture.h"

namespace pagelume::test {

namespace {

namespace fs = std::filesystem;

// "Zoë Ünï€" as a UTF-16BE text string.
constexpr char kAuthorHex[] = "<FEFF005A006F00EB002000DC006E00EF20AC>";

struct Variant {
  const char* name;
  const char* qpdfArguments;
  const char* user;
  const char* owner;
  int kindCode;
  const char* kindText;
};

constexpr Variant kVariants[] = {
    {"classic", "--object-streams=disable", "", "", 11, "Not encrypted"},
    {"objstm", "--object-streams=generate", "", "", 11, "Not encrypted"},
    {"linearized", "--linearize", "", "", 11, "Not encrypted"},
    {"rc4-40", "--allow-weak-crypto --encrypt user4 owner4 40 --", "user4", "owner4", 7,
     "40-bit RC4 (Acrobat 3.x, 4.x)"},
    {"rc4-128", "--allow-weak-crypto --encrypt user8 owner8 128 --use-aes=n --", "user8", "owner8", 8,
     "128-bit RC4 (Acrobat 5.x)"},
    {"aes128", "--encrypt user12 owner12 128 --use-aes=y --", "user12", "owner12", 12,
     "128-bit AES (Acrobat 7)"},
    {"aes256-r5", "--allow-weak-crypto --encrypt user13 owner13 256 --force-R5 --", "user13", "owner13", 13,
     "256-bit AES (Acrobat 9)"},
    {"aes256", "--encrypt user15 owner15 256 --", "user15", "owner15", 15, "256-bit AES (Acrobat X)"},
    {"aes256-objstm", "--object-streams=generate --encrypt user15 owner15 256 --", "user15", "owner15", 15,
     "256-bit AES (Acrobat X)"},
    {"rc4-128-objstm", "--allow-weak-crypto --object-streams=generate --encrypt u o 128 --use-aes=n --", "u",
     "o", 8, "128-bit RC4 (Acrobat 5.x)"},
    {"aes128-empty-user", "--encrypt '' owner 128 --use-aes=y --print=none --modify=none --", "", "owner", 12,
     "128-bit AES (Acrobat 7)"},
};

std::vector<InspectFile> MakeFiles() {
  std::vector<InspectFile> files;
  if (!HaveTool("qpdf")) return files;
  fs::path dir = fs::path(PAGELUME_BINARY_DIR) / ("inspect-files-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path base = dir / "base.pdf";
  {
    Bytes pdf = InspectBasePdf();
    FILE* f = fopen(base.c_str(), "wb");
    if (!f) return files;
    fwrite(pdf.data(), 1, pdf.size(), f);
    fclose(f);
  }
  for (const Variant& v : kVariants) {
    fs::path out = dir / (std::string(v.name) + ".pdf");
    CommandResult r = RunCommand("qpdf " + std::string(v.qpdfArguments) + " " + ShellQuote(base.string()) + " " +
                                 ShellQuote(out.string()));
    // qpdf exits with 3 for warnings; the file is written all the same.
    if ((r.exitCode != 0 && r.exitCode != 3) || !fs::exists(out)) {
      ADD_FAILURE() << "qpdf could not write " << v.name << ": " << r.output;
      continue;
    }
    InspectFile file;
    file.name = v.name;
    file.path = out.string();
    file.userPassword = v.user;
    file.ownerPassword = v.owner;
    file.encrypted = v.kindCode != 11;
    file.kindCode = v.kindCode;
    file.kindText = v.kindText;
    files.push_back(file);
  }
  return files;
}

}  // namespace

std::string InspectBasePdf() {
  std::string info = std::string("<< /Title (") + kInspectTitle + ") /Author " + kAuthorHex +
                     " /Subject (Sub\\(ject\\) \\\\ back) /Keywords (" + kInspectKeywords + ") /Creator (" +
                     kInspectCreator + ") /Producer (" + kInspectProducer + ") /CreationDate (" + kInspectCreated +
                     ") /ModDate (" + kInspectModified + ") >>";
  const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>";
  return BuildPdf({"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [6 0 R 7 0 R] >> >>",
                   "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>", page, page, page,
                   "<< /FT /Tx /T (one) /Rect [0 0 10 10] /Subtype /Widget /P 3 0 R >>",
                   "<< /FT /Tx /T (two) /Rect [0 0 10 10] /Subtype /Widget /P 3 0 R >>", info},
                  "/Root 1 0 R /Info 8 0 R /ID [<0123456789ABCDEF0123456789ABCDEF> <0123456789ABCDEF0123456789ABCDEF>]");
}

const std::vector<InspectFile>& InspectFiles() {
  // The folder goes with the process.
  struct Holder {
    std::vector<InspectFile> files = MakeFiles();
    ~Holder() {
      std::error_code ignored;
      if (!files.empty()) fs::remove_all(fs::path(files.front().path).parent_path(), ignored);
    }
  };
  static const Holder holder;
  return holder.files;
}

const InspectFile* FindInspectFile(const std::string& name) {
  for (const InspectFile& f : InspectFiles())
    if (f.name == name) return &f;
  ADD_FAILURE() << "no test file " << name << " (is qpdf installed?)";
  return nullptr;
}

}  // namespace pagelume::test
