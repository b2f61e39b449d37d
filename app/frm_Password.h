// The password prompt shown when a file is encrypted and opens neither without a
// password nor with the one given before.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pagelume::app {

class TfrmPassword : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmPassword(QWidget* parent = nullptr);

  void SetFileName(const QString& fileName);
  QString Password() const;

  QLineEdit* FileEdit() const { return edtFile_; }
  QLineEdit* PasswordEdit() const { return edtPassword_; }
  QCheckBox* ShowPasswordBox() const { return chkShow_; }
  QPushButton* OkButton() const { return btnOK_; }
  QPushButton* CancelButton() const { return btnCancel_; }

  // OK with an empty password keeps the prompt open.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* lblFile_ = nullptr;
  QLineEdit* edtFile_ = nullptr;
  QLabel* lblPassword_ = nullptr;
  QLineEdit* edtPassword_ = nullptr;
  QCheckBox* chkShow_ = nullptr;
  QPushButton* btnOK_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
};

}  // namespace pagelume::app
