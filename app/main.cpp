// Pagelume: shows and edits the document properties of one PDF file at a time.
#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>

#include "app/frm_Main.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pagelume"));
  QApplication::setDesktopFileName(QStringLiteral("pagelume"));

  pagelume::app::TfrmMain window;
  window.show();
  // A file named as the only argument (as the desktop entry passes it) opens at once.
  const QStringList args = QApplication::arguments();
  if (args.size() == 2) {
    const QString file = QFileInfo(args.at(1)).absoluteFilePath();
    QTimer::singleShot(0, &window, [&window, file] { window.OpenFile(file); });
  }
  return app.exec();
}
