// Message boxes, the file-size and date texts, and the look shared by the program's windows.
#pragma once

#include <QMessageBox>
#include <QString>
#include <cstdint>

namespace pagelume::app {

inline const QString kAppTitle = QStringLiteral("Pagelume");

// Yes/No box with the information icon; No is the default, so Enter answers No.
bool ConfirmBox(const QString& text, const QString& caption);

// Message types of MessageBoxOfType.
enum TMessageType : int {
  mtWarning = 0,
  mtError = 1,
  mtInformation = 2,
  mtQuestion = 3,  // OK and Cancel
};

// Modal box captioned with the application title; returns the button pressed.
QMessageBox::StandardButton MessageBoxOfType(const QString& text, int type);

// 512B, 1.50 KB, 3.25 MB, 1,024.00 GB: two decimals with the locale's separators.
QString FileSizeText(int64_t bytes);

// A stored PDF date ("D:20230115143000+01'00'", or the same without "D:") as
// 2023/01/15 14:30:00; fields a short date leaves out show their earliest value.
QString DateDisplayText(const QString& stored);

// Text of the encryption label from the inspection's "encrypted" answer (item 20)
// and its encryption kind code (item 30).
QString EncryptionText(const QString& encrypted, const QString& kindCode);

// "12 pages" from the page count item.
QString PagesText(const QString& pageCount);

// "612.00 x 792.00 pixel".
QString PaperSizeText(double width, double height);

// Fusion with the program's style sheet, its font and its icons; once per process.
void ApplySkin();

}  // namespace pagelume::app
