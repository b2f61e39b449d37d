// Shared pieces of the window tests: one QApplication for the process, a script that
// answers modal dialogs as they appear, and a way to drop files on a widget.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <deque>
#include <functional>

// fontconfig keeps its font cache until the process ends, which LeakSanitizer reports
// as lost; nothing of ours is behind it. Weak, as every test file includes this header.
extern "C" __attribute__((weak, used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace pagelume::test {

// Created on first use and kept for the whole process, as Qt wants a single one.
inline QApplication& TestApp() {
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's chatter about window hints says nothing about the tests.
    static QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
          if (text.contains(QLatin1String("propagateSizeHints")) || text.contains(QLatin1String("XDG_RUNTIME_DIR")))
            return;
          previous(type, context, text);
        });
    // Numbers in the expected texts use the English separators.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    static int argc = 1;
    static char name[] = "pagelume-test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

// A fixture member declared before any widget member, so that the application exists
// when the widgets are built.
struct WithApp {
  WithApp() { TestApp(); }
};

// Answers the modal dialogs that open while it lives, one handler per dialog, in
// order. A dialog with no handler left is recorded as unexpected and rejected, so a
// test fails instead of hanging.
class ModalScript {
 public:
  using Handler = std::function<void(QWidget*)>;

  ModalScript() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  ~ModalScript() { timer_.stop(); }

  ModalScript& Then(Handler handler) {
    handlers_.push_back(std::move(handler));
    return *this;
  }
  // Records a message box's text and presses `button`.
  ModalScript& Message(QMessageBox::StandardButton button, QString* text = nullptr) {
    return Then([button, text](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr) << "expected a message box, got " << w->metaObject()->className();
      if (text) *text = box->text();
      ASSERT_NE(box->button(button), nullptr);
      box->button(button)->click();
    });
  }

  int Pending() const { return int(handlers_.size()); }
  int Seen() const { return seen_; }
  const QStringList& Unexpected() const { return unexpected_; }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal == current_) return;
    current_ = modal;
    ++seen_;
    if (handlers_.empty()) {
      QString what = modal->metaObject()->className();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) what += ": " + box->text();
      unexpected_ << what;
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
      else modal->close();
      return;
    }
    Handler handler = std::move(handlers_.front());
    handlers_.pop_front();
    handler(modal);
  }

  QTimer timer_;
  std::deque<Handler> handlers_;
  // The dialog handled last; QPointer forgets it when it is freed, so a new dialog
  // at the same address is still answered.
  QPointer<QWidget> current_;
  int seen_ = 0;
  QStringList unexpected_;
};

// Types any text, also characters QTest::keyClicks has no key for.
inline void TypeText(QWidget* widget, const QString& text) {
  for (QChar ch : text) QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

// Drags the files onto `target` and drops them, as the desktop would. True when the
// target accepted the drag.
inline bool DropFiles(QWidget* target, const QStringList& files) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& f : files) urls << QUrl::fromLocalFile(f);
  data.setUrls(urls);
  const QPointF at(target->width() / 2.0, target->height() / 2.0);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

}  // namespace pagelume::test

// Readable QString values in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
