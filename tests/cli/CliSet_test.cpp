// pagelume-cli set run as a program: the saved files checked by independent readers
// (qpdf, pdfinfo, exiftool, libxml2) for every layout and kind of encryption qpdf writes,
// the keep/clear rules of the options, several files, exit statuses and messages; and
// the document values and repaired reading that info gains.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/InspectFiles.h"
#include "tests/support/PdfFixture.h"

namespace pagelume::test {
namespace {

namespace fs = std::filesystem;

std::string Q(const std::string& s) { return ShellQuote(s); }

// The value after "Label:" on pdfinfo's line for it, spaces trimmed.
std::string PdfinfoValue(const std::string& output, const std::string& label) {
  const std::string key = "\n" + label + ":";
  const size_t at = ("\n" + output).find(key);
  if (at == std::string::npos) return "<missing>";
  size_t start = at + key.size() - 1;
  size_t end = output.find('\n', start);
  std::string value = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
  value.erase(0, value.find_first_not_of(' '));
  return value;
}

// pdfinfo's lines of the page count and of every page's size.
std::string PageLines(const std::string& pdfinfoOutput) {
  std::string out;
  size_t pos = 0;
  while (pos < pdfinfoOutput.size()) {
    size_t end = pdfinfoOutput.find('\n', pos);
    if (end == std::string::npos) end = pdfinfoOutput.size();
    const std::string line = pdfinfoOutput.substr(pos, end - pos);
    if (line.rfind("Pages:", 0) == 0 || (line.rfind("Page ", 0) == 0 && line.find(" size:") != std::string::npos))
      out += line + "\n";
    pos = end + 1;
  }
  return out;
}

// The trailer's /ID as qpdf shows it.
std::string TrailerId(const std::string& file, const std::string& password) {
  const CommandResult r = RunCommand("qpdf --password=" + Q(password) + " --show-object=trailer " + Q(file));
  const size_t id = r.output.find("/ID [");
  return id == std::string::npos ? "<no /ID>" : r.output.substr(id, r.output.find(']', id) - id + 1);
}

std::string Pdfinfo(const std::string& file, const std::string& password) {
  return RunCommand("pdfinfo -enc UTF-8 -f 1 -l 99 -upw " + Q(password) + " " + Q(file)).output;
}

// Titles, authors and the raw XMP packet as exiftool reports them, by "group:tag". One
// run per file: exiftool takes seconds to open an AES-256 revision 6 file.
std::map<std::string, std::string> Exiftool(const std::string& file, const std::string& password) {
  std::map<std::string, std::string> tags;
  const CommandResult r = RunCommand("exiftool -password " + Q(password) +
                                     " -X -b -XMP -XMP-dc:Title -PDF:Title -XMP-dc:Creator -PDF:Author " + Q(file) +
                                     " 2>/dev/null");
  xmlDocPtr doc = xmlReadMemory(r.output.data(), int(r.output.size()), nullptr, "UTF-8", XML_PARSE_NONET);
  if (doc == nullptr) {
    ADD_FAILURE() << "exiftool's output is no XML: " << r.output;
    return tags;
  }
  for (xmlNodePtr d = xmlDocGetRootElement(doc)->children; d; d = d->next) {
    for (xmlNodePtr t = d->children; t; t = t->next) {
      if (t->type != XML_ELEMENT_NODE || t->ns == nullptr || t->ns->prefix == nullptr) continue;
      xmlChar* text = xmlNodeGetContent(t);
      tags[std::string(reinterpret_cast<const char*>(t->ns->prefix)) + ":" + reinterpret_cast<const char*>(t->name)] =
          text ? reinterpret_cast<const char*>(text) : "";
      xmlFree(text);
    }
  }
  xmlFreeDoc(doc);
  return tags;
}

bool HaveOracles() { return HaveTool("qpdf") && HaveTool("pdfinfo") && HaveTool("exiftool"); }

// Non-Latin text, markup characters and parentheses survive every step.
const std::string kNewTitle = "Bericht \xE6\x97\xA5\xE6\x9C\xAC <&> (1)";  // "Bericht 日本 <&> (1)"
const std::string kNewAuthor = "Zo\xC3\xAB \xCE\xA9";                      // "Zoë Ω"

TEST(CliSet, SavedFilesPassIndependentReaders) {
  if (!HaveOracles()) GTEST_SKIP() << "qpdf, pdfinfo or exiftool missing";
  const auto& files = InspectFiles();
  ASSERT_FALSE(files.empty());
  for (const InspectFile& f : files) {
    SCOPED_TRACE(f.name);
    const std::string& pw = f.userPassword;
    TempFile out;
    CliResult r = RunCli("set --password " + Q(pw) + " --title " + Q(kNewTitle) + " --author " + Q(kNewAuthor) +
                         " --keywords '' --layout twopageright --mode outlines --hide-toolbar --center-window -o " +
                         Q(out.Path()) + " " + Q(f.path));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    const CommandResult check = RunCommand("qpdf --check --password=" + Q(pw) + " " + Q(out.Path()));
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_EQ(check.output.find("WARNING"), std::string::npos) << check.output;

    const std::string before = Pdfinfo(f.path, pw), after = Pdfinfo(out.Path(), pw);
    EXPECT_EQ(PdfinfoValue(after, "Title"), kNewTitle);
    EXPECT_EQ(PdfinfoValue(after, "Author"), kNewAuthor);
    EXPECT_EQ(PdfinfoValue(after, "Keywords"), "");
    // Not given: kept.
    EXPECT_EQ(PdfinfoValue(after, "Subject"), kInspectSubject);
    EXPECT_EQ(PdfinfoValue(after, "Producer"), kInspectProducer);
    EXPECT_EQ(PdfinfoValue(after, "Encrypted").rfind(f.encrypted ? "yes" : "no", 0), 0u);
    EXPECT_EQ(PageLines(after), PageLines(before));
    EXPECT_NE(PageLines(after).find("Pages:"), std::string::npos);
    // The owner password opens it too.
    EXPECT_EQ(PdfinfoValue(RunCommand("pdfinfo -enc UTF-8 -opw " + Q(f.ownerPassword) + " " + Q(out.Path())).output,
                           "Title"),
              kNewTitle);

    const std::string encryption = "qpdf --show-encryption --password=" + Q(pw) + " ";
    EXPECT_EQ(RunCommand(encryption + Q(out.Path())).output, RunCommand(encryption + Q(f.path)).output);
    EXPECT_EQ(TrailerId(out.Path(), pw), TrailerId(f.path, pw));

    // XMP and Info agree, as exiftool reads them; the packet itself is well-formed XML.
    std::map<std::string, std::string> exif = Exiftool(out.Path(), pw);
    EXPECT_EQ(exif["XMP-dc:Title"], kNewTitle);
    EXPECT_EQ(exif["PDF:Title"], kNewTitle);
    EXPECT_EQ(exif["XMP-dc:Creator"], kNewAuthor);
    EXPECT_EQ(exif["PDF:Author"], kNewAuthor);
    const std::string& packet = exif["XMP:XMP"];
    xmlDocPtr xml = xmlReadMemory(packet.data(), int(packet.size()), nullptr, "UTF-8", XML_PARSE_NONET);
    EXPECT_NE(xml, nullptr) << packet;
    xmlFreeDoc(xml);

    // The settings, as info reads them back.
    r = RunCli("info --json --password " + Q(pw) + " " + Q(out.Path()));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* expected : {"\"page_layout\": 5,", "\"page_mode\": 1,", "\"hide_toolbar\": true",
                                 "\"hide_menubar\": false", "\"center_window\": true", "\"fit_window\": false",
                                 "\"page_width\": 612,", "\"page_height\": 792,", "\"repaired\": false,"})
      EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
  }
}

// A small file with settings of its own, for the option rules.
Bytes SettingsPdf() {
  return BuildPdf({"<< /Type /Catalog /Pages 2 0 R /PageLayout /TwoColumnLeft /PageMode /UseAttachments "
                   "/ViewerPreferences << /FitWindow true /DisplayDocTitle true >> /OpenAction [3 0 R /Fit] >>",
                   "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] >>",
                   "<< /Title (Old title) /Subject (Old subject) /Creator (Old creator) >>"},
                  "/Root 1 0 R /Info 4 0 R");
}

TEST(CliSet, WhatIsNotGivenKeepsTheFilesValue) {
  if (!HaveTool("pdfinfo")) GTEST_SKIP() << "pdfinfo missing";
  TempFile in(SettingsPdf());
  TempFile out;
  CliResult r = RunCli("set --subject= --creator 'New creator' --no-fit-window -o " + Q(out.Path()) + " " +
                       Q(in.Path()));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string info = Pdfinfo(out.Path(), "");
  EXPECT_EQ(PdfinfoValue(info, "Title"), "Old title");
  EXPECT_EQ(PdfinfoValue(info, "Subject"), "");
  EXPECT_EQ(PdfinfoValue(info, "Creator"), "New creator");
  EXPECT_NE(PageLines(info).find("Page    1 size:  200 x 300 pts"), std::string::npos) << info;

  r = RunCli("info --json " + Q(out.Path()));
  ASSERT_EQ(r.status, 0) << r.err;
  // Layout kept; the window's modes are 0 to 3, so UseAttachments reads as none.
  for (const char* expected : {"\"page_layout\": 2,", "\"page_mode\": 0,", "\"fit_window\": false",
                               "\"display_doc_title\": true", "\"hide_toolbar\": false"})
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
  // The open action became an empty script.
  if (!HaveTool("qpdf")) return;
  const CommandResult catalog = RunCommand("qpdf --show-object=1 " + Q(out.Path()));
  EXPECT_NE(catalog.output.find("/OpenAction << /JS () /S /JavaScript /Type /Action >>"), std::string::npos)
      << catalog.output;
}

TEST(CliSet, SeveralFilesAreSavedOverThemselvesAndOneFailureDoesNotStopTheRest) {
  if (!HaveTool("pdfinfo")) GTEST_SKIP() << "pdfinfo missing";
  TempFile first(SettingsPdf()), second(SettingsPdf());
  TempFile text(Bytes("no PDF here\n"));
  CliResult r = RunCli("set --title Same " + Q(first.Path()) + " /no/such.pdf " + Q(text.Path()) + " " +
                       Q(second.Path()));
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, "/no/such.pdf: there is no such file; check the name\n" +
                       text.Path() +
                       ": this is not a PDF file, or its cross-reference data is damaged; check the file or "
                       "repair it first\n");
  EXPECT_EQ(PdfinfoValue(Pdfinfo(first.Path(), ""), "Title"), "Same");
  EXPECT_EQ(PdfinfoValue(Pdfinfo(second.Path(), ""), "Title"), "Same");
  EXPECT_EQ(ReadWholeFile(text.Path()), "no PDF here\n");
}

TEST(CliSet, ErrorsAndUsage) {
  TempFile in(SettingsPdf());
  const Bytes original = ReadWholeFile(in.Path());
  struct Case {
    std::string args;
    int status;
    std::string err;  // the start of the message
  };
  const Case cases[] = {
      {"set --title X -o /no/such/dir/out.pdf " + Q(in.Path()), 6, "/no/such/dir/out.pdf: cannot save"},
      {"set --layout diagonal " + Q(in.Path()), 2, "pagelume-cli: --layout takes one of single, onecolumn"},
      {"set --mode outline " + Q(in.Path()), 2, "pagelume-cli: --mode takes one of none, outlines"},
      {"set --hide-toolbar --show-toolbar " + Q(in.Path()), 2, "pagelume-cli: give either --hide-toolbar"},
      {"set --title A --title B " + Q(in.Path()), 2, "pagelume-cli: give --title once"},
      {"set -o x.pdf " + Q(in.Path()) + " " + Q(in.Path()), 2, "pagelume-cli: -o takes a single FILE"},
      {"set --title", 2, "pagelume-cli: --title needs a value"},
      {"set --title X", 2, "pagelume-cli: set needs a FILE"},
      {"set --bogus " + Q(in.Path()), 2, "pagelume-cli: unknown option '--bogus'"},
      {"set --title X /tmp", 3, "/tmp: this is a folder, not a PDF file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CliResult r = RunCli(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
    EXPECT_EQ(ReadWholeFile(in.Path()), original);
  }

  const InspectFile* aes = FindInspectFile("aes256");
  if (aes == nullptr) return;
  const Bytes encrypted = ReadWholeFile(aes->path);
  TempFile copy(encrypted);
  CliResult r = RunCli("set --title X " + Q(copy.Path()));
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, copy.Path() + ": this file is encrypted; give its user or owner password with --password\n");
  r = RunCli("set --password wrong --title X " + Q(copy.Path()));
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(ReadWholeFile(copy.Path()), encrypted);
}

TEST(CliInfoDocument, DamagedFileIsReadThroughTheRepairedDocument) {
  const Bytes pdf = Bytes(3000, 'j') + SettingsPdf();
  TempFile file(pdf);
  CliResult r = RunCli("info --json " + Q(file.Path()));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* expected : {"\"repaired\": true,", "\"title\": \"Old title\",", "\"page_width\": 200,",
                               "\"page_height\": 300,", "\"page_layout\": 2,", "\"page_mode\": 5,",
                               "\"viewer\": {\"hide_toolbar\": false, \"hide_menubar\": false, "
                               "\"hide_window_ui\": false, \"fit_window\": true, \"center_window\": false, "
                               "\"display_doc_title\": true},"})
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
  r = RunCli("info " + Q(file.Path()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Title:"), std::string::npos);
  EXPECT_NE(r.out.find("\nNote: the file's structure is damaged; these values were read from the repaired "
                       "document.\n"),
            std::string::npos)
      << r.out;
  // A sound file says nothing of the kind.
  TempFile sound(SettingsPdf());
  r = RunCli("info " + Q(sound.Path()));
  EXPECT_EQ(r.out.find("Note:"), std::string::npos);
}

}  // namespace
}  // namespace pagelume::test
