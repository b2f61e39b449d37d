// Message boxes and the texts of the property display.
#include <QAbstractButton>
#include <QTest>

#include "app/untCommon.h"
#include "tests/app/AppTestSupport.h"

namespace pagelume::app {
namespace {

using test::ModalScript;
using test::TestApp;

class CommonTest : public ::testing::Test {
 protected:
  void SetUp() override { TestApp(); }
};

TEST_F(CommonTest, FileSizeText) {
  const struct {
    int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0B"},
      {-5, "-5B"},
      {512, "512B"},
      {1023, "1023B"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {1048575, "1,024.00 KB"},  // rounds up, still in KB
      {1048576, "1.00 MB"},
      {3407872, "3.25 MB"},
      {1073741824, "1.00 GB"},
      {int64_t(5) << 40, "5,120.00 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileSizeText(c.bytes), QString::fromLatin1(c.text)) << c.bytes;
}

TEST_F(CommonTest, FileSizeTextUsesTheUsersSeparators) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  const QString small = FileSizeText(1536);
  const QString large = FileSizeText(1048575);
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(small, QStringLiteral("1,50 KB"));
  EXPECT_EQ(large, QStringLiteral("1.024,00 KB"));
}

TEST_F(CommonTest, DateDisplayText) {
  const struct {
    const char* stored;
    const char* shown;
  } cases[] = {
      {"D:20230115143000", "2023/01/15 14:30:00"},
      {"D:20230115143000+01'00'", "2023/01/15 14:30:00"},
      {"D:20240302091500Z", "2024/03/02 09:15:00"},
      // Written without the prefix: every digit is kept.
      {"20230115143000", "2023/01/15 14:30:00"},
      {"20230115143000-05'00'", "2023/01/15 14:30:00"},
      {"", ""},
      // Fields a short date leaves out show their earliest value.
      {"D:2023", "2023/01/01 00:00:00"},
      {"D:20230115", "2023/01/15 00:00:00"},
      {"Jan 2023", "Jan 2023"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DateDisplayText(QString::fromLatin1(c.stored)), QString::fromLatin1(c.shown)) << c.stored;
}

TEST_F(CommonTest, EncryptionText) {
  const struct {
    const char* encrypted;
    const char* kind;
    const char* text;
  } cases[] = {
      {"0", "11", "Not encrypted"},
      {"", "", "Not encrypted"},
      {"1", "7", "40-bit RC4 (Acrobat 3.x, 4.x)"},
      {"1", "8", "128-bit RC4 (Acrobat 5.x)"},
      {"1", "12", "128-bit AES (Acrobat 7)"},
      {"1", "13", "256-bit AES (Acrobat 9)"},
      {"1", "15", "256-bit AES (Acrobat X)"},
      {"1", "14", "n/a"},  // RC4 of an unusual key length
      {"1", "9", "n/a"},
      {"1", "", "n/a"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EncryptionText(QString::fromLatin1(c.encrypted), QString::fromLatin1(c.kind)),
              QString::fromLatin1(c.text))
        << c.encrypted << "/" << c.kind;
}

TEST_F(CommonTest, PaperSizeText) {
  EXPECT_EQ(PaperSizeText(612, 792), QStringLiteral("612.00 x 792.00 pixel"));
  EXPECT_EQ(PaperSizeText(595.276, 841.89), QStringLiteral("595.28 x 841.89 pixel"));
  // No thousands separator, as "%f" writes it.
  EXPECT_EQ(PaperSizeText(14400, 1e4 / 3), QStringLiteral("14400.00 x 3333.33 pixel"));
}

TEST_F(CommonTest, ConfirmBoxDefaultsToNo) {
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  ModalScript script;
  script.Then([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    icon = box->icon();
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_FALSE(ConfirmBox(QStringLiteral("Really?"), QStringLiteral("Caption")));
  EXPECT_EQ(caption, QStringLiteral("Caption"));
  EXPECT_EQ(icon, QMessageBox::Information);

  script.Message(QMessageBox::Yes);
  EXPECT_TRUE(ConfirmBox(QStringLiteral("Really?"), QStringLiteral("Caption")));
  script.Then([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
  EXPECT_FALSE(ConfirmBox(QStringLiteral("Really?"), QStringLiteral("Caption")));
  EXPECT_TRUE(script.Unexpected().isEmpty());
}

TEST_F(CommonTest, MessageBoxOfTypeIconsAndButtons) {
  const struct {
    int type;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
  } cases[] = {
      {mtWarning, QMessageBox::Warning, QMessageBox::Ok},
      {mtError, QMessageBox::Critical, QMessageBox::Ok},
      {mtInformation, QMessageBox::Information, QMessageBox::Ok},
      {mtQuestion, QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel},
      {7, QMessageBox::NoIcon, QMessageBox::Ok},
  };
  for (const auto& c : cases) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QString caption, text;
    ModalScript script;
    script.Then([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      icon = box->icon();
      buttons = box->standardButtons();
      caption = box->windowTitle();
      text = box->text();
      box->button(c.type == mtQuestion ? QMessageBox::Cancel : QMessageBox::Ok)->click();
    });
    const auto pressed = MessageBoxOfType(QStringLiteral("Something happened."), c.type);
    EXPECT_EQ(icon, c.icon) << c.type;
    EXPECT_EQ(buttons, c.buttons) << c.type;
    EXPECT_EQ(caption, QStringLiteral("Pagelume"));
    EXPECT_EQ(text, QStringLiteral("Something happened."));
    EXPECT_EQ(pressed, c.type == mtQuestion ? QMessageBox::Cancel : QMessageBox::Ok) << c.type;
  }
}

}  // namespace
}  // namespace pagelume::app
