// The about box: product name, version, and links to the home page and to support.
#pragma once

#include <QDialog>
#include <QUrl>

class QLabel;
class QPushButton;

namespace pagelume::app {

inline const QUrl kHomeUrl{QStringLiteral("https://pagelume.org/")};
inline const QUrl kFeedbackUrl{QStringLiteral("mailto:support@pagelume.org?subject=Inquiry%20for%20Pagelume")};

class TfrmAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmAbout(QWidget* parent = nullptr);

  QLabel* TitleLabel() const { return lblTitle_; }
  QLabel* VersionLabel() const { return lblVersion_; }
  QLabel* HomeLink() const { return lblHome_; }
  QLabel* FeedbackLink() const { return lblFeedback_; }
  QPushButton* OkButton() const { return btnOK_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* lblTitle_ = nullptr;
  QLabel* lblVersion_ = nullptr;
  QLabel* lblHome_ = nullptr;
  QLabel* lblFeedback_ = nullptr;
  QPushButton* btnOK_ = nullptr;
};

}  // namespace pagelume::app
