#include "app/frm_Password.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/untCommon.h"

namespace pagelume::app {

namespace {

constexpr int kClientWidth = 291;
constexpr int kClientHeight = 160;

QLabel* IconLabel(QWidget* parent, const QString& resource, int x, int y) {
  auto* icon = new QLabel(parent);
  icon->setPixmap(QIcon(resource).pixmap(16, 16));
  icon->setGeometry(x, y, 16, 16);
  return icon;
}

}  // namespace

TfrmPassword::TfrmPassword(QWidget* parent) : QDialog(parent) {
  ApplySkin();
  setObjectName(QStringLiteral("frmPassword"));
  setWindowTitle(kAppTitle);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  setModal(true);

  IconLabel(this, QStringLiteral(":/pagelume/pdf.svg"), 12, 12);
  lblFile_ = new QLabel(QStringLiteral("PDF File :"), this);
  lblFile_->setGeometry(34, 11, 240, 18);
  edtFile_ = new QLineEdit(this);
  edtFile_->setObjectName(QStringLiteral("edtFile"));
  edtFile_->setReadOnly(true);
  edtFile_->setProperty("grey", true);
  edtFile_->setGeometry(12, 32, 267, 22);

  IconLabel(this, QStringLiteral(":/pagelume/key.svg"), 12, 64);
  lblPassword_ = new QLabel(QStringLiteral("User or Owner Password :"), this);
  lblPassword_->setGeometry(34, 63, 240, 18);
  edtPassword_ = new QLineEdit(this);
  edtPassword_->setObjectName(QStringLiteral("edtPassword"));
  edtPassword_->setEchoMode(QLineEdit::Password);
  edtPassword_->setGeometry(12, 84, 267, 22);
  lblPassword_->setBuddy(edtPassword_);

  chkShow_ = new QCheckBox(QStringLiteral("Show password"), this);
  chkShow_->setGeometry(12, 110, 140, 20);
  connect(chkShow_, &QCheckBox::toggled, this, [this](bool shown) {
    edtPassword_->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
  });

  btnOK_ = new QPushButton(QStringLiteral("OK"), this);
  btnOK_->setGeometry(118, 130, 78, 24);
  btnOK_->setDefault(true);
  connect(btnOK_, &QPushButton::clicked, this, &QDialog::accept);
  btnCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel_->setGeometry(201, 130, 78, 24);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);

  // Password first, then the show box, OK, Cancel, and the file name last.
  setTabOrder(edtPassword_, chkShow_);
  setTabOrder(chkShow_, btnOK_);
  setTabOrder(btnOK_, btnCancel_);
  setTabOrder(btnCancel_, edtFile_);
  edtPassword_->setFocus();
}

void TfrmPassword::SetFileName(const QString& fileName) {
  edtFile_->setText(fileName);
  edtFile_->setCursorPosition(0);
  edtFile_->setToolTip(fileName);
}

QString TfrmPassword::Password() const { return edtPassword_->text(); }

void TfrmPassword::done(int result) {
  if (result == QDialog::Accepted && edtPassword_->text().isEmpty()) {
    edtPassword_->setFocus();
    return;
  }
  QDialog::done(result);
}

void TfrmPassword::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  edtPassword_->setFocus();
}

}  // namespace pagelume::app
