#include "app/untCommon.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QLocale>
#include <QPushButton>
#include <QStyleFactory>

#include "engine/facade/MarlockPDFLibraryPropertyText.h"

// Resources of a static library must be registered by hand; Q_INIT_RESOURCE only
// works from the global namespace.
static void InitPagelumeResources() { Q_INIT_RESOURCE(pagelume); }

namespace pagelume::app {

namespace {

constexpr int64_t kKilo = 1024;
constexpr int64_t kMega = kKilo * 1024;
constexpr int64_t kGiga = kMega * 1024;

// The locale's number format with its thousands separators, also where the
// locale leaves them out by default (the C locale).
QString GroupedNumber(double value) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
  return locale.toString(value, 'f', 2);
}

}  // namespace

bool ConfirmBox(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Yes | QMessageBox::No,
                  QApplication::activeWindow());
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

QMessageBox::StandardButton MessageBoxOfType(const QString& text, int type) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  switch (type) {
    case mtWarning: icon = QMessageBox::Warning; break;
    case mtError: icon = QMessageBox::Critical; break;
    case mtInformation: icon = QMessageBox::Information; break;
    case mtQuestion:
      icon = QMessageBox::Question;
      buttons = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    default: break;
  }
  QMessageBox box(icon, kAppTitle, text, buttons, QApplication::activeWindow());
  box.setDefaultButton(QMessageBox::Ok);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString FileSizeText(int64_t bytes) {
  if (bytes < kKilo) return QString::number(bytes) + QStringLiteral("B");
  if (bytes < kMega) return GroupedNumber(double(bytes) / kKilo) + QStringLiteral(" KB");
  if (bytes < kGiga) return GroupedNumber(double(bytes) / kMega) + QStringLiteral(" MB");
  return GroupedNumber(double(bytes) / kGiga) + QStringLiteral(" GB");
}

// The command-line tool shows dates and encryption the same way; the texts are made
// once, in the facade.
QString DateDisplayText(const QString& stored) {
  return QString::fromStdU16String(pagelume::DateDisplayText(stored.toStdU16String()));
}

QString EncryptionText(const QString& encrypted, const QString& kindCode) {
  return QString::fromStdU16String(
      pagelume::EncryptionText(encrypted.trimmed().toStdU16String(), kindCode.trimmed().toStdU16String()));
}

QString PagesText(const QString& pageCount) {
  return QString::fromStdU16String(pagelume::PagesText(pageCount.toStdU16String()));
}

QString PaperSizeText(double width, double height) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  return locale.toString(width, 'f', 2) + QStringLiteral(" x ") + locale.toString(height, 'f', 2) +
         QStringLiteral(" pixel");
}

void ApplySkin() {
  static bool applied = false;
  if (applied || !qApp) return;
  applied = true;
  InitPagelumeResources();
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
  font.setPixelSize(12);
  QApplication::setFont(font);
  QFile sheet(QStringLiteral(":/pagelume/skin.qss"));
  if (sheet.open(QIODevice::ReadOnly)) qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/pagelume/pagelume.svg")));
}

}  // namespace pagelume::app
