// The password prompt and the about box, driven through their own controls.
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/frm_About.h"
#include "app/frm_Password.h"
#include "tests/app/AppTestSupport.h"

namespace pagelume::app {
namespace {

using test::TestApp;

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { TestApp(); }
};

// Runs the prompt modally; `act` works on it while it is open.
int RunPrompt(TfrmPassword& prompt, const std::function<void()>& act) {
  QTimer::singleShot(0, &prompt, [&] {
    EXPECT_TRUE(QTest::qWaitForWindowActive(&prompt));
    act();
    if (prompt.isVisible()) prompt.reject();  // never hang on a prompt left open
  });
  return prompt.exec();
}

TEST_F(DialogsTest, PasswordPromptLooksAsDescribed) {
  TfrmPassword prompt;
  prompt.SetFileName(QStringLiteral("/tmp/report.pdf"));
  prompt.show();
  QApplication::processEvents();
  EXPECT_EQ(prompt.windowTitle(), QStringLiteral("Pagelume"));
  EXPECT_EQ(prompt.size(), QSize(291, 160));
  EXPECT_TRUE(prompt.FileEdit()->isReadOnly());
  EXPECT_EQ(prompt.FileEdit()->text(), QStringLiteral("/tmp/report.pdf"));
  EXPECT_TRUE(prompt.OkButton()->isDefault());
  EXPECT_EQ(prompt.OkButton()->text(), QStringLiteral("OK"));
  EXPECT_EQ(prompt.CancelButton()->text(), QStringLiteral("Cancel"));
  EXPECT_EQ(QApplication::focusWidget(), prompt.PasswordEdit());

  // Tab order: password, show box, OK, Cancel, then the file name.
  QWidget* expected[] = {prompt.ShowPasswordBox(), prompt.OkButton(), prompt.CancelButton(), prompt.FileEdit(),
                         prompt.PasswordEdit()};
  for (QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
  }
  prompt.reject();
}

TEST_F(DialogsTest, PasswordIsMaskedUntilShown) {
  TfrmPassword prompt;
  prompt.show();
  test::TypeText(prompt.PasswordEdit(), QStringLiteral("sécret 密码"));
  EXPECT_EQ(prompt.PasswordEdit()->echoMode(), QLineEdit::Password);
  EXPECT_NE(prompt.PasswordEdit()->displayText(), prompt.PasswordEdit()->text());
  QTest::mouseClick(prompt.ShowPasswordBox(), Qt::LeftButton);
  EXPECT_EQ(prompt.PasswordEdit()->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(prompt.PasswordEdit()->displayText(), QStringLiteral("sécret 密码"));
  QTest::mouseClick(prompt.ShowPasswordBox(), Qt::LeftButton);
  EXPECT_EQ(prompt.PasswordEdit()->echoMode(), QLineEdit::Password);
  EXPECT_EQ(prompt.Password(), QStringLiteral("sécret 密码"));
  prompt.reject();
}

TEST_F(DialogsTest, OkWithEmptyPasswordKeepsThePromptOpen) {
  TfrmPassword prompt;
  bool openAfterClick = false, openAfterEnter = false;
  QWidget* focusAfter = nullptr;
  const int result = RunPrompt(prompt, [&] {
    QTest::mouseClick(prompt.OkButton(), Qt::LeftButton);
    openAfterClick = prompt.isVisible();
    QTest::keyClick(prompt.PasswordEdit(), Qt::Key_Return);
    openAfterEnter = prompt.isVisible();
    focusAfter = prompt.focusWidget();
    QTest::mouseClick(prompt.CancelButton(), Qt::LeftButton);
  });
  EXPECT_TRUE(openAfterClick);
  EXPECT_TRUE(openAfterEnter);
  EXPECT_EQ(focusAfter, prompt.PasswordEdit());
  EXPECT_EQ(result, QDialog::Rejected);
}

TEST_F(DialogsTest, EnterWithAPasswordConfirms) {
  TfrmPassword prompt;
  const int result = RunPrompt(prompt, [&] {
    QTest::keyClicks(prompt.PasswordEdit(), QStringLiteral("owner"));
    QTest::keyClick(prompt.PasswordEdit(), Qt::Key_Return);
  });
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(prompt.Password(), QStringLiteral("owner"));
}

TEST_F(DialogsTest, EscapeCancelsEvenWithAPassword) {
  TfrmPassword prompt;
  const int result = RunPrompt(prompt, [&] {
    QTest::keyClicks(prompt.PasswordEdit(), QStringLiteral("owner"));
    QTest::keyClick(prompt.PasswordEdit(), Qt::Key_Escape);
  });
  EXPECT_EQ(result, QDialog::Rejected);
}

// Catches the addresses the about box hands to the desktop.
class UrlCatcher : public QObject {
  Q_OBJECT
 public slots:
  void Open(const QUrl& url) { urls << url; }

 public:
  QList<QUrl> urls;
};

TEST_F(DialogsTest, AboutBox) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
  QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "Open");

  TfrmAbout about;
  about.show();
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
  EXPECT_EQ(about.size(), QSize(236, 251));
  EXPECT_EQ(about.TitleLabel()->text(), QStringLiteral("Pagelume"));
  EXPECT_TRUE(about.TitleLabel()->font().bold());
  EXPECT_EQ(about.VersionLabel()->text(), QStringLiteral("Ver 4.20"));
  EXPECT_EQ(about.HomeLink()->cursor().shape(), Qt::PointingHandCursor);

  QTest::mouseClick(about.HomeLink(), Qt::LeftButton);
  QTest::mouseClick(about.FeedbackLink(), Qt::LeftButton);
  ASSERT_EQ(catcher.urls.size(), 2);
  EXPECT_EQ(catcher.urls[0], QUrl(QStringLiteral("https://pagelume.org/")));
  EXPECT_EQ(catcher.urls[1].scheme(), QStringLiteral("mailto"));
  EXPECT_EQ(catcher.urls[1].path(), QStringLiteral("support@pagelume.org"));
  EXPECT_EQ(catcher.urls[1].query(QUrl::FullyDecoded), QStringLiteral("subject=Inquiry for Pagelume"));

  QTest::mouseClick(about.OkButton(), Qt::LeftButton);
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Accepted);
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
}

}  // namespace
}  // namespace pagelume::app

#include "Dialogs_test.moc"
