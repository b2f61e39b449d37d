// Small PDF fixtures for tests: readable templates in which byte offsets, the
// cross-reference table and startxref are filled in, plus temp files and a way to
// run the command-line oracles (qpdf, pdfinfo).
//
// Two ways to build a file:
//
//   BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"},
//            "/Root 1 0 R")
//     gives "%PDF-1.4", objects 1 and 2 ("1 0 obj\n...\nendobj\n"), a classic table
//     "xref 0 3", "trailer << /Size 3 /Root 1 0 R >>", "startxref", "%%EOF".
//
//   FillTemplate("%PDF-1.4\n1 0 obj\n<< >>\nendobj\n{{xref}}trailer\n<< /Size {{size}} >>\n"
//                "startxref\n{{startxref}}\n%%EOF\n")
//     the same by hand, so that a test can break any part of the layout on purpose.
//
// Placeholders of FillTemplate (every number is decimal; offsets count from the
// last {{base}} before the placeholder, else from the start of the output):
//   {{xref}}          a classic table "xref\n0 M\n" + one entry per number 0..M-1 for the
//                     object headers ("N G obj" at a line start) written before it; the
//                     latest definition of a number wins, numbers without one are free.
//   {{startxref}}     the offset of the last {{xref}} before it.
//   {{size}}          highest object number defined before it, plus one.
//   {{offset:N}}      the offset of object N's header: the latest definition before the
//                     placeholder, else the first one after it.
//   {{offset10:N}}    the same, zero-padded to 10 digits (for hand-written entries).
//   {{mark:NAME}}     writes nothing; remembers the position.
//   {{pos:NAME}}      the offset of {{mark:NAME}}; {{pos10:NAME}} zero-padded to 10 digits.
//   {{dist:A:B}}      pos(B) - pos(A), e.g. a /Length between two marks.
//   {{base}}          writes nothing; later offsets count from here (junk before a header).
// A mistake in a template (unknown placeholder, unknown mark or object) throws
// std::invalid_argument naming it.
#pragma once

#include <string>
#include <vector>

#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume::test {

struct PdfFixtureOptions {
  std::string version = "1.4";
  // Bytes written before "%PDF-"; with offsetsFromHeader the offsets count from the header.
  std::string junkBeforeHeader;
  bool offsetsFromHeader = false;
  // The end of each cross-reference entry: " \n" and "\r\n" give 20-byte entries,
  // "\n" 19 bytes, " \r\n" 21 bytes.
  std::string entryEnd = " \n";
};

// objects[i] is the body of object i + 1 (the text between "obj" and "endobj").
// trailerExtra is added to the trailer after /Size. Bodies and trailerExtra may use
// the placeholders of FillTemplate.
Bytes BuildPdf(const std::vector<std::string>& objects, const std::string& trailerExtra = "",
               const PdfFixtureOptions& options = {});

// Expands the placeholders listed above. Only entryEnd of the options is used.
Bytes FillTemplate(const std::string& text, const PdfFixtureOptions& options = {});

// ---- Files and commands -----------------------------------------------------------

// Writes bytes to a new file with a unique name in the temp folder and returns its path.
std::string WriteTempFile(ByteView bytes, const std::string& suffix = ".pdf");
Bytes ReadWholeFile(const std::string& path);

// A temp file removed again when the object goes.
class TempFile {
 public:
  explicit TempFile(ByteView bytes, const std::string& suffix = ".pdf");
  // A unique name whose file does not exist yet (for a tool to write).
  TempFile();
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

struct CommandResult {
  int exitCode = -1;   // the command's exit status; -1 when it could not be run
  std::string output;  // stdout and stderr together
};

// Runs a shell command line and captures what it prints.
CommandResult RunCommand(const std::string& commandLine);
// Single-quotes a word for the shell.
std::string ShellQuote(const std::string& word);
// True when `tool` can be found on the PATH.
bool HaveTool(const std::string& tool);

struct CliResult {
  int status = -1;  // the exit status; -1 when the tool could not be run
  std::string out, err;
};
// Runs pagelume-cli (PAGELUME_CLI, else the one of this build) with `args` (already
// quoted), stdout and stderr apart; `env` sets variables for it. The caller's
// PAGELUME_PASSWORD never leaks in.
CliResult RunCli(const std::string& args, const std::string& env = "");

}  // namespace pagelume::test
