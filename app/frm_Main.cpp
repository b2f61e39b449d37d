#include "app/frm_Main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <limits>

#include "app/frm_About.h"
#include "app/frm_Password.h"
#include "app/untCommon.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"

namespace pagelume::app {

namespace {

constexpr int kClientWidth = 569;
constexpr int kClientHeight = 523;
constexpr int kBannerHeight = 56;
constexpr int kEditHeight = 22;
constexpr int kRowStep = 25;
constexpr int kButtonHeight = 26;
constexpr int kButtonWidth = 105;

// Information fields can be long (keywords lists); QLineEdit would cut them at
// 32767 characters and a save would then lose the rest.
constexpr int kInfoFieldMaxLength = std::numeric_limits<int>::max();

// Positions in the inspection item list.
constexpr int kItemFileSize = 1;
constexpr int kItemAuthor = 2;
constexpr int kItemTitle = 3;
constexpr int kItemSubject = 4;
constexpr int kItemKeywords = 5;
constexpr int kItemCreator = 6;
constexpr int kItemProducer = 7;
constexpr int kItemVersion = 8;
constexpr int kItemPageCount = 9;
constexpr int kItemCreationDate = 10;
constexpr int kItemModDate = 11;
constexpr int kItemEncrypted = 20;
constexpr int kItemEncryptionKind = 30;

const QString kNotAvailable = QStringLiteral("n/a");
const QString kPdfFilter = QStringLiteral("Adobe PDF Files (*.pdf)");

Text ToText(const QString& s) { return s.toStdU16String(); }

QString DescribeUnreadable(const QString& fileName) {
  const QFileInfo info(fileName);
  const QString name = QDir::toNativeSeparators(fileName);
  if (!info.exists())
    return QStringLiteral("The file \"%1\" does not exist.\n\nCheck its name and folder and open it again.")
        .arg(name);
  if (info.isDir())
    return QStringLiteral("\"%1\" is a folder, not a PDF file.\n\nChoose a PDF file inside it.").arg(name);
  if (!info.isReadable())
    return QStringLiteral("Pagelume may not read the file \"%1\".\n\n"
                          "Ask for read permission or copy the file to a folder of your own.")
        .arg(name);
  return QStringLiteral("The file \"%1\" could not be read.\n\n"
                        "It may be in use or on a drive that is not available; try again later.")
      .arg(name);
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent) {
  ApplySkin();
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(kAppTitle);
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  BuildControls();
  ResetDisplay();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::BuildControls() {
  imgBanner_ = new QLabel(this);
  imgBanner_->setObjectName(QStringLiteral("imgBanner"));
  imgBanner_->setGeometry(0, 0, kClientWidth, kBannerHeight);
  imgBanner_->setPixmap(QIcon(QStringLiteral(":/pagelume/banner.svg")).pixmap(kClientWidth, kBannerHeight));

  imgHelp_ = new QLabel(this);
  imgHelp_->setObjectName(QStringLiteral("imgHelp"));
  imgHelp_->setPixmap(QIcon(QStringLiteral(":/pagelume/help.svg")).pixmap(16, 16));
  imgHelp_->setGeometry(507, 8, 16, 16);
  imgHelp_->setCursor(Qt::PointingHandCursor);
  imgHelp_->installEventFilter(this);
  lblHelp_ = new QLabel(QStringLiteral("Help"), this);
  lblHelp_->setObjectName(QStringLiteral("lblHelp"));
  QFont helpFont = lblHelp_->font();
  helpFont.setPixelSize(11);
  lblHelp_->setFont(helpFont);
  lblHelp_->setGeometry(527, 8, 36, 16);
  lblHelp_->setCursor(Qt::PointingHandCursor);
  lblHelp_->installEventFilter(this);

  mnuHelp_ = new QMenu(this);
  actOnlineHelp_ = mnuHelp_->addAction(QStringLiteral("Online Help"));
  mnuHelp_->addSeparator();
  actAbout_ = mnuHelp_->addAction(QStringLiteral("About"));
  connect(actOnlineHelp_, &QAction::triggered, this, &TfrmMain::ShowOnlineHelp);
  connect(actAbout_, &QAction::triggered, this, &TfrmMain::ShowAbout);

  // Properties: a caption column and the values beside it.
  auto* properties = new QGroupBox(QStringLiteral("Document Properties"), this);
  properties->setGeometry(8, kBannerHeight + 6, kClientWidth - 16, 292);
  auto caption = [](QWidget* parent, const QString& text, int x, int y, int width) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, width, kEditHeight);
    label->setProperty("caption", true);
    return label;
  };
  int y = 20;
  auto edit = [&](const QString& text, bool readOnly, int width = 431) {
    QLabel* label = caption(properties, text, 12, y, 92);
    auto* line = new QLineEdit(properties);
    line->setGeometry(110, y, width, kEditHeight);
    line->setReadOnly(readOnly);
    line->setProperty("grey", readOnly);
    if (!readOnly) line->setMaxLength(kInfoFieldMaxLength);
    label->setBuddy(line);
    y += kRowStep;
    return line;
  };
  edtFileName_ = edit(QStringLiteral("File Name"), true);
  edtFileName_->setAcceptDrops(true);
  edtFileName_->installEventFilter(this);
  edtFileName_->setToolTip(QStringLiteral("Drop a PDF file here to open it"));
  edtTitle_ = edit(QStringLiteral("Title"), false);
  edtSubject_ = edit(QStringLiteral("Subject"), false);
  edtAuthor_ = edit(QStringLiteral("Author"), false);
  edtKeywords_ = edit(QStringLiteral("Keywords"), false);
  edtCreator_ = edit(QStringLiteral("Creator"), false);
  edtProducer_ = edit(QStringLiteral("Producer"), false);
  edtVersion_ = edit(QStringLiteral("PDF Version"), true, 80);

  y += 2;
  auto value = [&](const QString& text, int x) {
    caption(properties, text, x, y, 92);
    auto* label = new QLabel(properties);
    label->setGeometry(x + 98, y, 170, kEditHeight);
    label->setProperty("value", true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
  };
  lblCreateDate_ = value(QStringLiteral("CreateDate"), 12);
  lblPages_ = value(QStringLiteral("Pages"), 290);
  y += 21;
  lblModifyDate_ = value(QStringLiteral("ModifyDate"), 12);
  lblPaperSize_ = value(QStringLiteral("Paper Size"), 290);
  y += 21;
  lblFileSize_ = value(QStringLiteral("File Size"), 12);
  lblEncryption_ = value(QStringLiteral("Encryption"), 290);

  // Viewer settings.
  auto* options = new QGroupBox(QStringLiteral("Viewer Settings"), this);
  options->setGeometry(8, properties->geometry().bottom() + 7, kClientWidth - 16, 124);
  const QString boxCaptions[6] = {
      QStringLiteral("Hide Toolbar"),           QStringLiteral("Hide Menubar"),
      QStringLiteral("Hide window user interface"), QStringLiteral("Display document title"),
      QStringLiteral("Resize window to first page size"), QStringLiteral("Center window")};
  for (int i = 0; i < 6; ++i) {
    chkViewer_[i] = new QCheckBox(boxCaptions[i], options);
    chkViewer_[i]->setGeometry(i < 3 ? 14 : 262, 22 + (i % 3) * 24, i < 3 ? 240 : 270, 20);
  }
  caption(options, QStringLiteral("Page Layout"), 14, 94, 84);
  cmbPageLayout_ = new QComboBox(options);
  cmbPageLayout_->setGeometry(98, 94, 180, kEditHeight);
  cmbPageLayout_->addItems({QStringLiteral("Single page"), QStringLiteral("One column"),
                            QStringLiteral("Two columns, odd on left"),
                            QStringLiteral("Two columns, odd on right"),
                            QStringLiteral("Two pages, odd on left"),
                            QStringLiteral("Two pages, odd on right"), QStringLiteral("No preference")});
  caption(options, QStringLiteral("Page Mode"), 300, 94, 80);
  cmbPageMode_ = new QComboBox(options);
  cmbPageMode_->setGeometry(380, 94, 161, kEditHeight);
  cmbPageMode_->addItems({QStringLiteral("Normal"), QStringLiteral("Outlines"), QStringLiteral("Thumbnails"),
                          QStringLiteral("Full screen")});

  // Buttons; Enter on a focused button presses it.
  const int buttonsY = kClientHeight - kButtonHeight - 7;
  auto button = [&](const QString& text, const QString& hint, int x) {
    auto* b = new QPushButton(text, this);
    b->setGeometry(x, buttonsY, kButtonWidth, kButtonHeight);
    b->setToolTip(hint);
    b->setAutoDefault(true);
    return b;
  };
  btnOpen_ = button(QStringLiteral("&Open File ..."), QStringLiteral("Open a pdf file"), 8);
  btnSave_ = button(QStringLiteral("&Save"), QStringLiteral("Save"), kClientWidth - 8 - 3 * kButtonWidth - 16);
  btnSaveAs_ = button(QStringLiteral("Save &As ..."), QStringLiteral("Save As ..."),
                      kClientWidth - 8 - 2 * kButtonWidth - 8);
  btnExit_ = button(QStringLiteral("E&xit"), QStringLiteral("Exit"), kClientWidth - 8 - kButtonWidth);
  btnOpen_->setIcon(QIcon(QStringLiteral(":/pagelume/open.svg")));
  btnSave_->setIcon(QIcon(QStringLiteral(":/pagelume/save.svg")));
  connect(btnOpen_, &QPushButton::clicked, this, &TfrmMain::OpenClicked);
  connect(btnSave_, &QPushButton::clicked, this, &TfrmMain::SaveClicked);
  connect(btnSaveAs_, &QPushButton::clicked, this, &TfrmMain::SaveAsClicked);
  connect(btnExit_, &QPushButton::clicked, this, &QWidget::close);

  QWidget* order[] = {edtFileName_, edtTitle_,    edtSubject_,   edtAuthor_,     edtKeywords_,
                      edtCreator_,  edtProducer_, edtVersion_,   chkViewer_[0],  chkViewer_[1],
                      chkViewer_[2], chkViewer_[3], chkViewer_[4], chkViewer_[5], cmbPageLayout_,
                      cmbPageMode_, btnOpen_,     btnSave_,      btnSaveAs_,     btnExit_};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  // The window sees Enter before the control does (moving on to the next control).
  for (QWidget* w : order) w->installEventFilter(this);
  edtTitle_->setFocus();
}

void TfrmMain::ResetDisplay() {
  edtFileName_->setText(kNotAvailable);
  for (QLineEdit* e : {edtTitle_, edtSubject_, edtAuthor_, edtKeywords_, edtCreator_, edtProducer_, edtVersion_})
    e->clear();
  for (QLabel* l : {lblCreateDate_, lblModifyDate_, lblFileSize_, lblPages_, lblPaperSize_, lblEncryption_})
    l->setText(kNotAvailable);
}

// ---- Events ---------------------------------------------------------------------

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
      if (enter && !qobject_cast<QAbstractButton*>(watched) && watched->isWidgetType()) {
        focusNextChild();
        return true;
      }
      break;
    }
    case QEvent::MouseButtonRelease:
      if ((watched == imgHelp_ || watched == lblHelp_) &&
          static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        ShowHelpMenu(static_cast<QWidget*>(watched));
        return true;
      }
      break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      if (watched == edtFileName_) return HandleDrop(event);
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

bool TfrmMain::HandleDrop(QEvent* event) {
  auto* drop = static_cast<QDropEvent*>(event);
  if (!drop->mimeData()->hasUrls()) {
    drop->ignore();
    return true;
  }
  drop->setDropAction(Qt::CopyAction);
  drop->accept();
  if (event->type() != QEvent::Drop) return true;
  // Every dropped PDF file is opened in turn; the last one stays shown.
  const QList<QUrl> urls = drop->mimeData()->urls();
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    const QString name = url.toLocalFile();
    const QFileInfo info(name);
    if (info.isFile() && info.suffix().compare(QStringLiteral("pdf"), Qt::CaseInsensitive) == 0)
      OpenFile(name);
  }
  return true;
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (ConfirmBox(QStringLiteral("Are you sure you want to quit?"), kAppTitle))
    event->accept();
  else
    event->ignore();
}

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (centred_) return;
  centred_ = true;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

// ---- Actions ----------------------------------------------------------------------

QString TfrmMain::ChooseOpenFileName() {
  return QFileDialog::getOpenFileName(this, QString(), QString(), kPdfFilter);
}

QString TfrmMain::ChooseSaveFileName() {
  return QFileDialog::getSaveFileName(this, QString(), QString(), kPdfFilter);
}

bool TfrmMain::AskPassword(const QString& fileName, QString& password) {
  TfrmPassword prompt(this);
  prompt.SetFileName(QDir::toNativeSeparators(fileName));
  if (prompt.exec() != QDialog::Accepted) return false;
  password = prompt.Password();
  return true;
}

void TfrmMain::OpenClicked() {
  const QString name = ChooseOpenFileName();
  if (!name.isEmpty()) OpenFile(name);
}

void TfrmMain::SaveClicked() {
  if (currentFileName_.isEmpty()) return;
  SaveFlow(currentFileName_);
  // The saved file keeps its password; asking for it again after every save helps no one.
  OpenFlow(currentFileName_, currentPassword_);
}

void TfrmMain::SaveAsClicked() {
  if (currentFileName_.isEmpty()) return;
  const QString target = ChooseSaveFileName();
  if (!target.isEmpty()) SaveFlow(target);
}

void TfrmMain::ShowHelpMenu(QWidget* below) {
  mnuHelp_->popup(below->mapToGlobal(QPoint(0, below->height() + 2)));
}

QString TfrmMain::HelpFilePath() {
  const QDir dir(QCoreApplication::applicationDirPath());
  for (const QString& relative :
       {QStringLiteral("help.html"), QStringLiteral("docs/help.html"), QStringLiteral("../docs/help.html"),
        QStringLiteral("../share/doc/pagelume/help.html")}) {
    const QFileInfo candidate(dir.filePath(relative));
    if (candidate.isFile()) return candidate.canonicalFilePath();
  }
  return QString();
}

void TfrmMain::ShowOnlineHelp() {
  const QString path = HelpFilePath();
  if (path.isEmpty()) {
    MessageBoxOfType(QStringLiteral("The help page (help.html) was not found beside the program.\n\n"
                                    "The README file of Pagelume describes the window as well."),
                     mtWarning);
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void TfrmMain::ShowAbout() {
  TfrmAbout about(this);
  about.exec();
}

// ---- Open flow -----------------------------------------------------------------

void TfrmMain::OpenFile(const QString& fileName) {
  currentFileName_ = fileName;
  OpenFlow(fileName);
}

void TfrmMain::OpenFlow(const QString& fileName, const QString& knownPassword) {
  currentPassword_ = knownPassword;
  TMarlockPDFLibrary1711 inspection;
  TMarlockPDFLibrary1711 document;
  const int32_t handle = OpenInspectionAsking(inspection, fileName, knownPassword);
  if (handle == 0) return;

  ResetDisplay();
  ShowInspection(inspection, handle, fileName);

  const bool loaded = document.LoadDocument(ToText(fileName), ToText(currentPassword_)) == 1;
  // A file the full load cannot read has no page to measure; the blank document's
  // Letter page would be a wrong answer.
  if (loaded)
    lblPaperSize_->setText(PaperSizeText(document.SelectedPageWidth(), document.SelectedPageHeight()));
  ShowViewerSettings(document, loaded);
  inspection.CloseInspection(handle);
}

int32_t TfrmMain::OpenInspectionAsking(TKavrel& inspection, const QString& fileName,
                                       const QString& knownPassword) {
  const QString name = QDir::toNativeSeparators(fileName);
  bool repaired = false;
  QString password = knownPassword;
  for (;;) {
    const int32_t handle = repaired ? OpenRepairedInspection(inspection, fileName, password)
                                    : inspection.OpenInspection(ToText(fileName), ToText(password));
    if (handle != 0) return handle;
    switch (inspection.ErrorCode) {
      case kErrorPassword:
        if (!AskPassword(fileName, password)) return 0;
        currentPassword_ = password;
        break;
      case kErrorStructure:
        if (!repaired) {
          // The cross-reference data is unreadable; the full load can rebuild it.
          repaired = true;
          break;
        }
        [[fallthrough]];
      default:
        if (repaired) {
          MessageBoxOfType(QStringLiteral("The file \"%1\" is not a readable PDF file: its structure is damaged "
                                          "beyond repair, or it is another kind of file.\n\n"
                                          "Try another copy of the document.")
                               .arg(name),
                           mtError);
        } else {
          MessageBoxOfType(DescribeUnreadable(fileName), mtError);
        }
        return 0;
    }
  }
}

void TfrmMain::ShowInspection(TKavrel& inspection, int32_t handle, const QString& fileName) {
  auto item = [&](int index) { return QString::fromStdU16String(inspection.GetInspectionItem(handle, index)); };
  auto show = [](QLineEdit* e, const QString& text) {
    e->setText(text);
    e->setCursorPosition(0);
  };
  show(edtFileName_, QDir::toNativeSeparators(fileName));
  show(edtTitle_, item(kItemTitle));
  show(edtSubject_, item(kItemSubject));
  show(edtAuthor_, item(kItemAuthor));
  show(edtKeywords_, item(kItemKeywords));
  show(edtCreator_, item(kItemCreator));
  show(edtProducer_, item(kItemProducer));
  show(edtVersion_, item(kItemVersion));
  lblCreateDate_->setText(DateDisplayText(item(kItemCreationDate)));
  lblModifyDate_->setText(DateDisplayText(item(kItemModDate)));

  // The item is a 32-bit count; a file past 2 GB asks the file system instead.
  bool ok = false;
  qint64 size = item(kItemFileSize).toLongLong(&ok);
  if (!ok || size < 0) size = QFileInfo(fileName).size();
  lblFileSize_->setText(FileSizeText(size));
  lblPages_->setText(PagesText(item(kItemPageCount)));
  lblEncryption_->setText(EncryptionText(item(kItemEncrypted), item(kItemEncryptionKind)));
}

}  // namespace pagelume::app
