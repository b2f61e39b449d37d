// The program's window: the properties of one PDF file, the six editable
// information fields, the viewer settings, and Save / Save As.
//
// The window keeps no PDF state between actions. Opening and saving each create
// their own engine instances and free them before the action ends; what stays is
// the current file name and the password that opened it.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace pagelume {
class TKavrel;
}

namespace pagelume::app {

class TfrmMain : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Makes `fileName` the current file and runs the open flow on it.
  void OpenFile(const QString& fileName);

  const QString& CurrentFileName() const { return currentFileName_; }
  const QString& CurrentPassword() const { return currentPassword_; }

  // The controls, for the tests and the screenshots.
  QLineEdit* FileNameEdit() const { return edtFileName_; }
  QLineEdit* TitleEdit() const { return edtTitle_; }
  QLineEdit* SubjectEdit() const { return edtSubject_; }
  QLineEdit* AuthorEdit() const { return edtAuthor_; }
  QLineEdit* KeywordsEdit() const { return edtKeywords_; }
  QLineEdit* CreatorEdit() const { return edtCreator_; }
  QLineEdit* ProducerEdit() const { return edtProducer_; }
  QLineEdit* VersionEdit() const { return edtVersion_; }
  QLabel* CreateDateLabel() const { return lblCreateDate_; }
  QLabel* ModifyDateLabel() const { return lblModifyDate_; }
  QLabel* FileSizeLabel() const { return lblFileSize_; }
  QLabel* PagesLabel() const { return lblPages_; }
  QLabel* PaperSizeLabel() const { return lblPaperSize_; }
  QLabel* EncryptionLabel() const { return lblEncryption_; }
  // The six viewer preference boxes in the order Hide Toolbar, Hide Menubar, Hide
  // window user interface, Display document title, Resize window, Center window.
  QCheckBox* ViewerBox(int i) const { return chkViewer_[i]; }
  QComboBox* PageLayoutList() const { return cmbPageLayout_; }
  QComboBox* PageModeList() const { return cmbPageMode_; }
  QPushButton* OpenButton() const { return btnOpen_; }
  QPushButton* SaveButton() const { return btnSave_; }
  QPushButton* SaveAsButton() const { return btnSaveAs_; }
  QPushButton* ExitButton() const { return btnExit_; }
  QLabel* HelpIcon() const { return imgHelp_; }
  QLabel* HelpLabel() const { return lblHelp_; }
  QMenu* HelpMenu() const { return mnuHelp_; }

  // Where the help page shipped with the program lies; empty when it is missing.
  static QString HelpFilePath();

 protected:
  // The file dialogs; empty text when the user cancels. Tests replace them.
  virtual QString ChooseOpenFileName();
  virtual QString ChooseSaveFileName();
  // Shows the password prompt for `fileName`; false when it was not confirmed.
  virtual bool AskPassword(const QString& fileName, QString& password);

  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void OpenClicked();
  void SaveClicked();
  void SaveAsClicked();
  void ShowHelpMenu(QWidget* below);
  void ShowOnlineHelp();
  void ShowAbout();
  bool HandleDrop(QEvent* event);

  // `knownPassword` is tried before anyone is asked (the password the file was saved with).
  void OpenFlow(const QString& fileName, const QString& knownPassword = QString());
  // Opens the inspection, asking for a password as long as the file is encrypted
  // and the typed one does not open it. 0 when the flow ends (cancelled or failed;
  // failures are reported here).
  int32_t OpenInspectionAsking(TKavrel& inspection, const QString& fileName, const QString& knownPassword);
  void ResetDisplay();
  void ShowInspection(TKavrel& inspection, int32_t handle, const QString& fileName);

  // Viewer settings and saving (frm_MainDocument.cpp).
  int32_t OpenRepairedInspection(TKavrel& inspection, const QString& fileName, const QString& password);
  void ShowViewerSettings(TKavrel& document, bool loaded);
  // Loads the current file again, writes the window's values into it and saves it
  // as `target`. Tells the user how it went; true on success.
  bool SaveFlow(const QString& target);

  QLabel* imgBanner_ = nullptr;
  QLabel* imgHelp_ = nullptr;
  QLabel* lblHelp_ = nullptr;
  QLineEdit* edtFileName_ = nullptr;
  QLineEdit* edtTitle_ = nullptr;
  QLineEdit* edtSubject_ = nullptr;
  QLineEdit* edtAuthor_ = nullptr;
  QLineEdit* edtKeywords_ = nullptr;
  QLineEdit* edtCreator_ = nullptr;
  QLineEdit* edtProducer_ = nullptr;
  QLineEdit* edtVersion_ = nullptr;
  QLabel* lblCreateDate_ = nullptr;
  QLabel* lblModifyDate_ = nullptr;
  QLabel* lblFileSize_ = nullptr;
  QLabel* lblPages_ = nullptr;
  QLabel* lblPaperSize_ = nullptr;
  QLabel* lblEncryption_ = nullptr;
  QCheckBox* chkViewer_[6] = {};
  QComboBox* cmbPageLayout_ = nullptr;
  QComboBox* cmbPageMode_ = nullptr;
  QPushButton* btnOpen_ = nullptr;
  QPushButton* btnSave_ = nullptr;
  QPushButton* btnSaveAs_ = nullptr;
  QPushButton* btnExit_ = nullptr;
  QMenu* mnuHelp_ = nullptr;
  QAction* actOnlineHelp_ = nullptr;
  QAction* actAbout_ = nullptr;

  bool centred_ = false;
  QString currentFileName_;
  QString currentPassword_;
};

}  // namespace pagelume::app
