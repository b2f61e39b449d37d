// Fixtures of the window tests: a main window whose file dialogs are scripted, and
// small PDF files written into a test's own folder.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <stdexcept>
#include <string>

#include "app/frm_Main.h"
#include "app/untCommon.h"
#include "tests/support/PdfFixture.h"

namespace pagelume::test {

// The main window with the open and save dialogs answered from lists.
class TestWindow : public app::TfrmMain {
 public:
  QStringList openNames;
  QStringList saveNames;
  int openAsked = 0;
  int saveAsked = 0;

 protected:
  QString ChooseOpenFileName() override {
    ++openAsked;
    return openNames.isEmpty() ? QString() : openNames.takeFirst();
  }
  QString ChooseSaveFileName() override {
    ++saveAsked;
    return saveNames.isEmpty() ? QString() : saveNames.takeFirst();
  }
};

inline QString WriteFileIn(const QTemporaryDir& dir, const QString& name, const Bytes& bytes) {
  const QString path = dir.filePath(name);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
    throw std::runtime_error("cannot write " + path.toStdString());
  return path;
}

inline std::string Local(const QString& path) { return QFile::encodeName(path).toStdString(); }

// One Letter page and an information dictionary with the given entries; `catalogExtra`
// goes into the catalog.
inline Bytes InfoPdf(const std::string& infoEntries, const std::string& catalogExtra = "",
                     const std::string& pad = "") {
  return BuildPdf({"<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>",
                   "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>",
                   "<< " + infoEntries + (pad.empty() ? "" : " /Pad (" + pad + ")") + " >>"},
                  "/Root 1 0 R /Info 4 0 R");
}

// A valid file of exactly `size` bytes (padding inside the information dictionary).
inline Bytes PdfOfSize(size_t size) {
  std::string pad;
  for (int round = 0; round < 8; ++round) {
    const Bytes pdf = InfoPdf("/Title (Sized)", "", pad);
    if (pdf.size() == size) return pdf;
    const long long missing = (long long)size - (long long)pdf.size();
    if ((long long)pad.size() + missing < 1) throw std::runtime_error("size too small for a PDF file");
    pad.assign(size_t((long long)pad.size() + missing), 'x');
  }
  throw std::runtime_error("could not reach the size");
}

// Encrypts `plain` with qpdf; the new file's path, or empty on failure.
inline QString QpdfEncrypt(const QString& plain, const QString& out, const std::string& user,
                           const std::string& owner, const std::string& bits) {
  const CommandResult r = RunCommand("qpdf --encrypt " + ShellQuote(user) + " " + ShellQuote(owner) + " " + bits +
                                     " -- " + ShellQuote(Local(plain)) + " " + ShellQuote(Local(out)));
  return (r.exitCode == 0 || r.exitCode == 3) && QFileInfo(out).isFile() ? out : QString();
}

inline QString ExpectedSizeText(const QString& file) { return app::FileSizeText(QFileInfo(file).size()); }

}  // namespace pagelume::test
