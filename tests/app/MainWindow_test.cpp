// The main window: its controls, keyboard and help menu, the quit question, and the
// open flow with the property display, driven through the real widgets.
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/frm_About.h"
#include "app/frm_Main.h"
#include "app/frm_Password.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/WindowFixtures.h"

namespace pagelume::app {
namespace {

using test::DropFiles;
using test::ModalScript;
using test::TestApp;
using test::TestWindow;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }
  void TearDown() override { window_.hide(); }

  QString Write(const QString& name, const Bytes& bytes) { return test::WriteFileIn(dir_, name, bytes); }

  test::WithApp app_;
  QTemporaryDir dir_;
  TestWindow window_;
};

TEST_F(MainWindowTest, ControlsCaptionsAndTabOrder) {
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("Pagelume"));
  EXPECT_EQ(window_.size(), QSize(569, 523));
  EXPECT_EQ(window_.minimumSize(), window_.maximumSize());
  EXPECT_TRUE(window_.FileNameEdit()->isReadOnly());
  EXPECT_TRUE(window_.VersionEdit()->isReadOnly());
  EXPECT_EQ(window_.FileNameEdit()->text(), QStringLiteral("n/a"));
  for (QLabel* l : {window_.CreateDateLabel(), window_.ModifyDateLabel(), window_.FileSizeLabel(),
                    window_.PagesLabel(), window_.PaperSizeLabel(), window_.EncryptionLabel()})
    EXPECT_EQ(l->text(), QStringLiteral("n/a"));

  const QStringList boxes = {"Hide Toolbar", "Hide Menubar", "Hide window user interface",
                             "Display document title", "Resize window to first page size", "Center window"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(window_.ViewerBox(i)->text(), boxes[i]);
  QStringList layouts, modes;
  for (int i = 0; i < window_.PageLayoutList()->count(); ++i) layouts << window_.PageLayoutList()->itemText(i);
  for (int i = 0; i < window_.PageModeList()->count(); ++i) modes << window_.PageModeList()->itemText(i);
  EXPECT_EQ(layouts, QStringList({"Single page", "One column", "Two columns, odd on left",
                                  "Two columns, odd on right", "Two pages, odd on left", "Two pages, odd on right",
                                  "No preference"}));
  EXPECT_EQ(modes, QStringList({"Normal", "Outlines", "Thumbnails", "Full screen"}));

  const struct {
    QPushButton* button;
    const char* text;
    const char* hint;
  } buttons[] = {{window_.OpenButton(), "&Open File ...", "Open a pdf file"},
                 {window_.SaveButton(), "&Save", "Save"},
                 {window_.SaveAsButton(), "Save &As ...", "Save As ..."},
                 {window_.ExitButton(), "E&xit", "Exit"}};
  for (const auto& b : buttons) {
    EXPECT_EQ(b.button->text(), QString::fromLatin1(b.text));
    EXPECT_EQ(b.button->toolTip(), QString::fromLatin1(b.hint));
  }

  // The edits top to bottom, then the options, the lists and the buttons.
  QList<QWidget*> expected = {window_.FileNameEdit(), window_.TitleEdit(),    window_.SubjectEdit(),
                              window_.AuthorEdit(),   window_.KeywordsEdit(), window_.CreatorEdit(),
                              window_.ProducerEdit(), window_.VersionEdit()};
  for (int i = 0; i < 6; ++i) expected << window_.ViewerBox(i);
  expected << window_.PageLayoutList() << window_.PageModeList() << window_.OpenButton() << window_.SaveButton()
           << window_.SaveAsButton() << window_.ExitButton();
  window_.FileNameEdit()->setFocus();
  for (int i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), expected[i]) << "tab stop " << i;
  }
  // The edits are stacked in that order.
  for (int i = 1; i < 8; ++i)
    EXPECT_GT(expected[i]->mapTo(&window_, QPoint()).y(), expected[i - 1]->mapTo(&window_, QPoint()).y());
}

TEST_F(MainWindowTest, EnterMovesToTheNextControlExceptOnButtons) {
  const struct {
    QWidget* from;
    QWidget* to;
  } cases[] = {
      {window_.TitleEdit(), window_.SubjectEdit()},
      {window_.ProducerEdit(), window_.VersionEdit()},
      {window_.FileNameEdit(), window_.TitleEdit()},
      {window_.PageModeList(), window_.OpenButton()},
  };
  for (const auto& c : cases) {
    c.from->setFocus();
    QTest::keyClick(c.from, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), c.to) << c.from->metaObject()->className();
  }
  window_.KeywordsEdit()->setFocus();
  QTest::keyClick(window_.KeywordsEdit(), Qt::Key_Enter);  // the keypad's Enter too
  EXPECT_EQ(QApplication::focusWidget(), window_.CreatorEdit());

  // On a button Enter presses it (the open dialog is asked for) and the focus stays.
  window_.OpenButton()->setFocus();
  QTest::keyClick(window_.OpenButton(), Qt::Key_Return);
  EXPECT_EQ(window_.openAsked, 1);
  EXPECT_EQ(QApplication::focusWidget(), window_.OpenButton());
}

// Catches the addresses handed to the desktop.
class UrlCatcher : public QObject {
  Q_OBJECT
 public slots:
  void Open(const QUrl& url) { urls << url; }

 public:
  QList<QUrl> urls;
};

TEST_F(MainWindowTest, HelpMenuOpensBelowTheClickedControl) {
  for (QLabel* control : {window_.HelpLabel(), window_.HelpIcon()}) {
    QTest::mouseClick(control, Qt::LeftButton);
    QMenu* menu = window_.HelpMenu();
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->pos(), control->mapToGlobal(QPoint(0, control->height() + 2)));
    menu->hide();
  }
  const QList<QAction*> actions = window_.HelpMenu()->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0]->text(), QStringLiteral("Online Help"));
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2]->text(), QStringLiteral("About"));

  // Online Help opens the help page shipped with the program.
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  ModalScript script;
  actions[0]->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_TRUE(catcher.urls[0].toLocalFile().endsWith(QStringLiteral("help.html")));
  EXPECT_TRUE(QFileInfo(catcher.urls[0].toLocalFile()).isFile());

  // About shows the about box modally.
  bool sawAbout = false;
  script.Then([&](QWidget* w) {
    auto* about = qobject_cast<TfrmAbout*>(w);
    sawAbout = about != nullptr;
    if (about) QTest::mouseClick(about->OkButton(), Qt::LeftButton);
  });
  actions[2]->trigger();
  EXPECT_TRUE(sawAbout);
}

TEST_F(MainWindowTest, QuitQuestion) {
  QString text, caption;
  ModalScript script;
  script.Then([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    text = box->text();
    caption = box->windowTitle();
    QTest::keyClick(box, Qt::Key_Return);  // No is the default
  });
  QTest::mouseClick(window_.ExitButton(), Qt::LeftButton);
  EXPECT_EQ(text, QStringLiteral("Are you sure you want to quit?"));
  EXPECT_EQ(caption, QStringLiteral("Pagelume"));
  EXPECT_TRUE(window_.isVisible());

  script.Message(QMessageBox::Yes);
  window_.close();
  EXPECT_FALSE(window_.isVisible());
  EXPECT_TRUE(script.Unexpected().isEmpty());
}

TEST_F(MainWindowTest, UnencryptedFileOpensWithoutPrompt) {
  const QString file = Write("plain.pdf", test::InfoPdf("/Title (Annual Report) /Subject (Results) /Author (Jane Doe) "
                                                        "/Keywords (finance, 2023) /Creator (Writer) /Producer (Press) "
                                                        "/CreationDate (D:20230115143000+01'00') "
                                                        "/ModDate (20240302091500Z)"));
  ModalScript script;
  window_.OpenFile(file);
  EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
  EXPECT_EQ(window_.FileNameEdit()->text(), QDir::toNativeSeparators(file));
  EXPECT_EQ(window_.TitleEdit()->text(), QStringLiteral("Annual Report"));
  EXPECT_EQ(window_.SubjectEdit()->text(), QStringLiteral("Results"));
  EXPECT_EQ(window_.AuthorEdit()->text(), QStringLiteral("Jane Doe"));
  EXPECT_EQ(window_.KeywordsEdit()->text(), QStringLiteral("finance, 2023"));
  EXPECT_EQ(window_.CreatorEdit()->text(), QStringLiteral("Writer"));
  EXPECT_EQ(window_.ProducerEdit()->text(), QStringLiteral("Press"));
  EXPECT_EQ(window_.VersionEdit()->text(), QStringLiteral("1.4"));
  EXPECT_EQ(window_.CreateDateLabel()->text(), QStringLiteral("2023/01/15 14:30:00"));
  // Stored without "D:": no digits lost.
  EXPECT_EQ(window_.ModifyDateLabel()->text(), QStringLiteral("2024/03/02 09:15:00"));
  EXPECT_EQ(window_.PagesLabel()->text(), QStringLiteral("1 pages"));
  EXPECT_EQ(window_.PaperSizeLabel()->text(), QStringLiteral("612.00 x 792.00 pixel"));
  EXPECT_EQ(window_.EncryptionLabel()->text(), QStringLiteral("Not encrypted"));
  EXPECT_EQ(window_.FileSizeLabel()->text(), test::ExpectedSizeText(file));
  EXPECT_TRUE(window_.CurrentPassword().isEmpty());
}

TEST_F(MainWindowTest, Aes256FileOpensThroughThePromptWithTheOwnerPassword) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf is not installed";
  const QString plain = Write("secret-plain.pdf", test::InfoPdf("/Title (Locked Title)"));
  const QString file = test::QpdfEncrypt(plain, dir_.filePath("secret.pdf"), "u", "o", "256");
  ASSERT_FALSE(file.isEmpty());

  QString shownName;
  ModalScript script;
  auto answer = [&](const QString& password) {
    return [&, password](QWidget* w) {
      auto* prompt = qobject_cast<TfrmPassword*>(w);
      ASSERT_NE(prompt, nullptr) << w->metaObject()->className();
      shownName = prompt->FileEdit()->text();
      QTest::keyClicks(prompt->PasswordEdit(), password);
      QTest::mouseClick(prompt->OkButton(), Qt::LeftButton);
    };
  };
  // A wrong password brings the prompt back.
  script.Then(answer("wrong")).Then(answer("o"));
  window_.OpenFile(file);
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
  EXPECT_EQ(shownName, QDir::toNativeSeparators(file));
  EXPECT_EQ(window_.EncryptionLabel()->text(), QStringLiteral("256-bit AES (Acrobat X)"));
  EXPECT_EQ(window_.TitleEdit()->text(), QStringLiteral("Locked Title"));
  EXPECT_EQ(window_.PaperSizeLabel()->text(), QStringLiteral("612.00 x 792.00 pixel"));
  EXPECT_EQ(window_.CurrentPassword(), QStringLiteral("o"));
}

TEST_F(MainWindowTest, CancelInThePromptEndsTheOpenFlowSilently) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf is not installed";
  const QString first = Write("first.pdf", test::InfoPdf("/Title (First)"));
  const QString plain = Write("locked-plain.pdf", test::InfoPdf("/Title (Locked)"));
  const QString locked = test::QpdfEncrypt(plain, dir_.filePath("locked.pdf"), "u", "o", "256");
  ASSERT_FALSE(locked.isEmpty());
  window_.OpenFile(first);

  ModalScript script;
  script.Then([](QWidget* w) {
    auto* prompt = qobject_cast<TfrmPassword*>(w);
    ASSERT_NE(prompt, nullptr);
    QTest::mouseClick(prompt->CancelButton(), Qt::LeftButton);
  });
  window_.OpenFile(locked);
  EXPECT_EQ(script.Seen(), 1);  // the prompt and no message after it
  EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
  // The display still shows the first file; the locked one is the current file.
  EXPECT_EQ(window_.TitleEdit()->text(), QStringLiteral("First"));
  EXPECT_EQ(window_.FileNameEdit()->text(), QDir::toNativeSeparators(first));
  EXPECT_EQ(window_.CurrentFileName(), locked);
}

TEST_F(MainWindowTest, FileSizes) {
  const struct {
    size_t size;
    const char* text;
  } cases[] = {{512, "512B"}, {1536, "1.50 KB"}};
  for (const auto& c : cases) {
    const QString file = Write(QStringLiteral("size-%1.pdf").arg(c.size), test::PdfOfSize(c.size));
    ASSERT_EQ(QFileInfo(file).size(), qint64(c.size));
    window_.OpenFile(file);
    EXPECT_EQ(window_.FileSizeLabel()->text(), QString::fromLatin1(c.text));
  }
}

TEST_F(MainWindowTest, MissingFileIsReportedByName) {
  const QString missing = dir_.filePath("nowhere.pdf");
  QString text;
  ModalScript script;
  script.Message(QMessageBox::Ok, &text);
  window_.OpenFile(missing);
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
  EXPECT_TRUE(text.contains(QDir::toNativeSeparators(missing))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("does not exist"))) << text.toStdString();
}

TEST_F(MainWindowTest, DroppingTwoPdfFilesShowsTheSecond) {
  const QString one = Write("one.pdf", test::InfoPdf("/Title (One)"));
  const QString two = Write("two.PDF", test::InfoPdf("/Title (Two)"));
  const QString text = Write("notes.txt", "%PDF-1.4 not really");
  ModalScript script;
  ASSERT_TRUE(DropFiles(window_.FileNameEdit(), {one, two, text, dir_.filePath("gone.pdf")}));
  EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
  EXPECT_EQ(window_.TitleEdit()->text(), QStringLiteral("Two"));
  EXPECT_EQ(window_.CurrentFileName(), two);

  // Files that are not PDF files, or are gone, are ignored.
  ASSERT_TRUE(DropFiles(window_.FileNameEdit(), {text, dir_.filePath("gone.pdf")}));
  EXPECT_EQ(window_.CurrentFileName(), two);
  EXPECT_EQ(script.Seen(), 0);
}

TEST_F(MainWindowTest, UnicodeFileNameAndTitle) {
  // "Größe 日本" as UTF-16BE with a byte-order mark.
  const QString file = Write(QStringLiteral("Bericht ü 日本.pdf"),
                             test::InfoPdf("/Title <FEFF0047007200F600DF0065002065E5672C>"));
  ModalScript script;
  window_.OpenFile(file);
  EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join("; ").toStdString();
  EXPECT_EQ(window_.TitleEdit()->text(), QStringLiteral("Größe 日本"));
  EXPECT_EQ(window_.FileNameEdit()->text(), QDir::toNativeSeparators(file));
  EXPECT_EQ(window_.PagesLabel()->text(), QStringLiteral("1 pages"));
}

}  // namespace
}  // namespace pagelume::app

#include "MainWindow_test.moc"
