#include "app/frm_About.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include "app/untCommon.h"

namespace pagelume::app {

namespace {

constexpr int kClientWidth = 236;
constexpr int kClientHeight = 251;

}  // namespace

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
  ApplySkin();
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);

  auto* logo = new QLabel(this);
  logo->setPixmap(QIcon(QStringLiteral(":/pagelume/pagelume.svg")).pixmap(56, 56));
  logo->setGeometry((kClientWidth - 56) / 2, 16, 56, 56);

  lblTitle_ = new QLabel(kAppTitle, this);
  lblTitle_->setObjectName(QStringLiteral("lblAboutTitle"));
  QFont titleFont = small;
  titleFont.setBold(true);
  titleFont.setPixelSize(19);
  lblTitle_->setFont(titleFont);
  lblTitle_->setAlignment(Qt::AlignCenter);
  lblTitle_->setGeometry(0, 80, kClientWidth, 28);

  lblVersion_ = new QLabel(QStringLiteral("Ver 4.20"), this);
  lblVersion_->setAlignment(Qt::AlignCenter);
  lblVersion_->setGeometry(0, 110, kClientWidth, 18);

  auto link = [this](const QString& text, const QString& icon, int y) {
    auto* image = new QLabel(this);
    image->setPixmap(QIcon(icon).pixmap(16, 16));
    image->setGeometry(72, y + 1, 16, 16);
    auto* label = new QLabel(text, this);
    label->setProperty("link", true);
    label->setCursor(Qt::PointingHandCursor);
    label->setGeometry(94, y, 100, 18);
    label->installEventFilter(this);
    return label;
  };
  lblHome_ = link(QStringLiteral("Home"), QStringLiteral(":/pagelume/home.svg"), 148);
  lblFeedback_ = link(QStringLiteral("Feedback"), QStringLiteral(":/pagelume/mail.svg"), 172);

  btnOK_ = new QPushButton(QStringLiteral("&OK"), this);
  btnOK_->setGeometry((kClientWidth - 80) / 2, 212, 80, 25);
  btnOK_->setDefault(true);
  connect(btnOK_, &QPushButton::clicked, this, &QDialog::accept);
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == lblHome_) {
      QDesktopServices::openUrl(kHomeUrl);
      return true;
    }
    if (watched == lblFeedback_) {
      QDesktopServices::openUrl(kFeedbackUrl);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmAbout::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred on the main window, or on the screen when there is none.
  QRect frame = frameGeometry();
  if (QWidget* owner = parentWidget()) {
    frame.moveCenter(owner->frameGeometry().center());
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    frame.moveCenter(screen->availableGeometry().center());
  }
  move(frame.topLeft());
}

}  // namespace pagelume::app
