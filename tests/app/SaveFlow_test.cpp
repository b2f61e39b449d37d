// Viewer settings shown after opening, Save and Save As, and files the quick path
// cannot read. Checked by reading the saved files back with the engine, pdfinfo and qpdf.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/frm_Password.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/WindowFixtures.h"

namespace pagelume::app {
namespace {

using test::Local;
using test::ModalScript;
using test::TestWindow;

// What the engine reads back from a saved file.
struct SavedFile {
  bool loaded = false;
  QString title, subject, author, keywords, creator, producer, version;
  int flags[6] = {};
  int layout = -1, mode = -1;
};

SavedFile ReadBack(const QString& path, const QString& password = QString()) {
  SavedFile out;
  TMarlockPDFLibrary1711 engine;
  const int32_t handle = engine.OpenInspection(path.toStdU16String(), password.toStdU16String());
  if (handle == 0) return out;
  auto item = [&](int i) { return QString::fromStdU16String(engine.GetInspectionItem(handle, i)); };
  out.author = item(2);
  out.title = item(3);
  out.subject = item(4);
  out.keywords = item(5);
  out.creator = item(6);
  out.producer = item(7);
  out.version = item(8);
  engine.CloseInspection(handle);
  out.loaded = engine.LoadDocument(path.toStdU16String(), password.toStdU16String()) == 1;
  const int options[6] = {1, 2, 3, 6, 4, 5};
  for (int i = 0; i < 6; ++i) out.flags[i] = engine.ReadViewerFlag(options[i]);
  out.layout = engine.ReadPageLayout();
  out.mode = engine.ReadPageMode();
  return out;
}

// The file with every object written out uncompressed, for looking at the catalog.
std::string QdfText(const QString& path, const std::string& password = "") {
  const test::CommandResult r =
      test::RunCommand("qpdf --qdf --object-streams=disable" +
                       (password.empty() ? std::string() : " --password=" + test::ShellQuote(password)) +
                       " --decrypt " + test::ShellQuote(Local(path)) + " -");
  return r.output;
}

class SaveFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }
  QString Write(const QString& name, const Bytes& bytes) { return test::WriteFileIn(dir_, name, bytes); }
  void Replace(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    edit->del();
    QTest::keyClicks(edit, text);
  }
  // Presses `button`; returns the text of the one message box that follows.
  QString PressAndReadMessage(QPushButton* button) {
    QString text;
    ModalScript script;
    script.Message(QMessageBox::Ok, &text);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(script.Pending(), 0);
    EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
    return text;
  }

  test::WithApp app_;
  QTemporaryDir dir_;
  TestWindow window_;
};

TEST_F(SaveFlowTest, OpeningShowsTheViewerSettings) {
  const QString file =
      Write("settings.pdf", test::InfoPdf("/Title (T)", "/PageLayout /TwoColumnRight /PageMode /UseThumbs "
                                                        "/ViewerPreferences << /HideMenubar true /CenterWindow true "
                                                        "/DisplayDocTitle false >>"));
  window_.OpenFile(file);
  const bool expected[6] = {false, true, false, false, false, true};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(window_.ViewerBox(i)->isChecked(), expected[i]) << i;
  EXPECT_EQ(window_.PageLayoutList()->currentText(), QStringLiteral("Two columns, odd on right"));
  EXPECT_EQ(window_.PageModeList()->currentText(), QStringLiteral("Thumbnails"));

  // A file without them shows the defaults again.
  window_.OpenFile(Write("bare.pdf", test::InfoPdf("/Title (Bare)")));
  for (int i = 0; i < 6; ++i) EXPECT_FALSE(window_.ViewerBox(i)->isChecked()) << i;
  EXPECT_EQ(window_.PageLayoutList()->currentText(), QStringLiteral("No preference"));
  EXPECT_EQ(window_.PageModeList()->currentText(), QStringLiteral("Normal"));
}

TEST_F(SaveFlowTest, SaveWritesTheEditedFieldsAndSettings) {
  const QString file = Write("edit.pdf", test::InfoPdf("/Title (Old) /Author (Someone) /Producer (Old press)",
                                                       "/OpenAction << /S /JavaScript /JS (app.alert\\(1\\)) >>"));
  window_.OpenFile(file);
  Replace(window_.TitleEdit(), QStringLiteral("New title"));
  Replace(window_.SubjectEdit(), QStringLiteral("New subject"));
  Replace(window_.AuthorEdit(), QStringLiteral("Jane Doe"));
  Replace(window_.KeywordsEdit(), QStringLiteral("alpha, beta"));
  Replace(window_.CreatorEdit(), QStringLiteral("Maker"));
  Replace(window_.ProducerEdit(), QStringLiteral("Press"));
  QTest::keyClick(window_.ViewerBox(0), Qt::Key_Space);  // Hide Toolbar
  QTest::keyClick(window_.ViewerBox(3), Qt::Key_Space);  // Display document title
  window_.PageLayoutList()->setCurrentIndex(4);              // Two pages, odd on left
  window_.PageModeList()->setCurrentIndex(1);                // Outlines

  EXPECT_EQ(PressAndReadMessage(window_.SaveButton()), QStringLiteral("Successfully saved."));
  // The open flow ran again on the saved file.
  EXPECT_EQ(window_.TitleEdit()->text(), QStringLiteral("New title"));
  EXPECT_EQ(window_.VersionEdit()->text(), QStringLiteral("1.5"));
  EXPECT_TRUE(window_.ViewerBox(0)->isChecked());

  const SavedFile saved = ReadBack(file);
  ASSERT_TRUE(saved.loaded);
  EXPECT_EQ(saved.title, QStringLiteral("New title"));
  EXPECT_EQ(saved.subject, QStringLiteral("New subject"));
  EXPECT_EQ(saved.author, QStringLiteral("Jane Doe"));
  EXPECT_EQ(saved.keywords, QStringLiteral("alpha, beta"));
  EXPECT_EQ(saved.creator, QStringLiteral("Maker"));
  EXPECT_EQ(saved.producer, QStringLiteral("Press"));
  const int flags[6] = {1, 0, 0, 1, 0, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(saved.flags[i], flags[i]) << i;
  EXPECT_EQ(saved.layout, 4);
  EXPECT_EQ(saved.mode, 1);

  if (test::HaveTool("pdfinfo")) {
    const std::string info = test::RunCommand("pdfinfo " + test::ShellQuote(Local(file))).output;
    EXPECT_NE(info.find("New title"), std::string::npos) << info;
    EXPECT_NE(info.find("Jane Doe"), std::string::npos) << info;
    EXPECT_NE(info.find("1.5\n"), std::string::npos) << info;
  }
  if (test::HaveTool("qpdf")) {
    const std::string qdf = QdfText(file);
    EXPECT_NE(qdf.find("/PageLayout /TwoPageLeft"), std::string::npos);
    EXPECT_NE(qdf.find("/PageMode /UseOutlines"), std::string::npos);
    EXPECT_NE(qdf.find("/HideToolbar true"), std::string::npos);
    EXPECT_EQ(qdf.find("app.alert"), std::string::npos);  // the open action was replaced
    EXPECT_NE(qdf.find("/JavaScript"), std::string::npos);
  }
}

TEST_F(SaveFlowTest, SaveAsLeavesTheCurrentFileAlone) {
  const Bytes original = test::InfoPdf("/Title (Original)");
  const QString file = Write("source.pdf", original);
  const QString copy = dir_.filePath("copy.pdf");
  window_.OpenFile(file);
  Replace(window_.TitleEdit(), QStringLiteral("Copy title"));
  window_.saveNames << copy;

  EXPECT_EQ(PressAndReadMessage(window_.SaveAsButton()), QStringLiteral("Successfully saved."));
  EXPECT_EQ(window_.saveAsked, 1);
  EXPECT_EQ(window_.CurrentFileName(), file);
  EXPECT_EQ(window_.FileNameEdit()->text(), QDir::toNativeSeparators(file));
  EXPECT_EQ(window_.TitleEdit()->text(), QStringLiteral("Copy title"));  // no open flow followed
  EXPECT_EQ(test::ReadWholeFile(Local(file)), original);
  EXPECT_EQ(ReadBack(copy).title, QStringLiteral("Copy title"));

  // Cancelling the save dialog writes nothing and says nothing.
  ModalScript script;
  QTest::mouseClick(window_.SaveAsButton(), Qt::LeftButton);
  EXPECT_EQ(window_.saveAsked, 2);
  EXPECT_EQ(script.Seen(), 0);
}

TEST_F(SaveFlowTest, SaveWithoutAFileDoesNothing) {
  ModalScript script;
  QTest::mouseClick(window_.SaveButton(), Qt::LeftButton);
  QTest::mouseClick(window_.SaveAsButton(), Qt::LeftButton);
  EXPECT_EQ(script.Seen(), 0);
  EXPECT_EQ(window_.saveAsked, 0);
}

TEST_F(SaveFlowTest, SaveIntoAFolderThatDoesNotExistFails) {
  const QString file = Write("fine.pdf", test::InfoPdf("/Title (Fine)"));
  window_.OpenFile(file);
  window_.saveNames << dir_.filePath("no/such/folder/out.pdf");
  EXPECT_EQ(PressAndReadMessage(window_.SaveAsButton()), QStringLiteral("Save failed ."));
}

TEST_F(SaveFlowTest, UnofferedPageModeShowsNormalAndSavesUseNone) {
  for (const char* mode : {"/UseOC", "/UseAttachments"}) {
    const QString file = Write(QStringLiteral("mode-%1.pdf").arg(mode + 1),
                               test::InfoPdf("/Title (Layers)", std::string("/PageMode ") + mode));
    window_.OpenFile(file);
    EXPECT_EQ(window_.PageModeList()->currentText(), QStringLiteral("Normal")) << mode;
    EXPECT_EQ(PressAndReadMessage(window_.SaveButton()), QStringLiteral("Successfully saved."));
    EXPECT_EQ(ReadBack(file).mode, 0) << mode;
    if (test::HaveTool("qpdf")) {
      EXPECT_NE(QdfText(file).find("/PageMode /UseNone"), std::string::npos) << mode;
    }
  }
}

TEST_F(SaveFlowTest, EncryptedFileStaysEncryptedWithItsPassword) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf is not installed";
  const QString plain = Write("enc-plain.pdf", test::InfoPdf("/Title (Sealed)"));
  const QString file = test::QpdfEncrypt(plain, dir_.filePath("enc.pdf"), "u", "o", "256");
  ASSERT_FALSE(file.isEmpty());
  auto answer = [](QWidget* w) {
    auto* prompt = qobject_cast<TfrmPassword*>(w);
    ASSERT_NE(prompt, nullptr);
    QTest::keyClicks(prompt->PasswordEdit(), "u");
    QTest::mouseClick(prompt->OkButton(), Qt::LeftButton);
  };
  {
    ModalScript script;
    script.Then(answer);
    window_.OpenFile(file);
    EXPECT_EQ(script.Pending(), 0);
  }
  Replace(window_.TitleEdit(), QStringLiteral("Resealed"));
  {
    // Save, then the open flow runs again with the same password, without asking.
    QString text;
    ModalScript script;
    script.Message(QMessageBox::Ok, &text);
    QTest::mouseClick(window_.SaveButton(), Qt::LeftButton);
    EXPECT_EQ(text, QStringLiteral("Successfully saved."));
    EXPECT_EQ(script.Pending(), 0);
    EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
  }
  EXPECT_EQ(window_.CurrentPassword(), QStringLiteral("u"));
  EXPECT_EQ(window_.TitleEdit()->text(), QStringLiteral("Resealed"));
  EXPECT_EQ(window_.EncryptionLabel()->text(), QStringLiteral("256-bit AES (Acrobat X)"));
  EXPECT_EQ(ReadBack(file, QStringLiteral("o")).title, QStringLiteral("Resealed"));
  const std::string check = test::RunCommand("qpdf --password=u --show-encryption " +
                                             test::ShellQuote(Local(file))).output;
  EXPECT_NE(check.find("AESv3"), std::string::npos) << check;
}

TEST_F(SaveFlowTest, BrokenCrossReferenceDataOpensThroughRepair) {
  // Every offset in the table is wrong and startxref points nowhere.
  const QString file = Write("broken.pdf", test::FillTemplate(
      "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
      "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
      "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>\nendobj\n"
      "4 0 obj\n<< /Title (Mended) >>\nendobj\n"
      "xref\n0 5\n0000000000 65535 f \n0000000999 00000 n \n0000000999 00000 n \n0000000999 00000 n \n"
      "0000000999 00000 n \ntrailer\n<< /Size 5 /Root 1 0 R /Info 4 0 R >>\nstartxref\n99999\n%%EOF\n"));
  ModalScript script;
  window_.OpenFile(file);
  EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
  EXPECT_EQ(window_.TitleEdit()->text(), QStringLiteral("Mended"));
  EXPECT_EQ(window_.PaperSizeLabel()->text(), QStringLiteral("595.00 x 842.00 pixel"));
}

TEST_F(SaveFlowTest, FileThatIsNotAPdfIsReportedByName) {
  const QString file = Write("letter.pdf", "Dear reader,\nthis is plain text.\n");
  QString text;
  ModalScript script;
  script.Message(QMessageBox::Ok, &text);
  window_.OpenFile(file);
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
  EXPECT_TRUE(text.contains(QDir::toNativeSeparators(file))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("not a readable PDF file"))) << text.toStdString();
  EXPECT_EQ(window_.FileNameEdit()->text(), QStringLiteral("n/a"));
}

}  // namespace
}  // namespace pagelume::app
