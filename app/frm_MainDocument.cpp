// The parts of the main window that read and write the loaded document: the
// viewer settings shown after opening, and Save / Save As.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "app/frm_Main.h"
#include "app/untCommon.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"

namespace pagelume::app {

namespace {

// Engine options of the six viewer boxes, in the window's order.
constexpr int32_t kViewerOptions[6] = {1, 2, 3, 6, 4, 5};
// Information keys of WriteInfoField.
constexpr int32_t kKeyAuthor = 1;
constexpr int32_t kKeyTitle = 2;
constexpr int32_t kKeySubject = 3;
constexpr int32_t kKeyKeywords = 4;
constexpr int32_t kKeyCreator = 5;
constexpr int32_t kKeyProducer = 6;
constexpr int kLayoutNoPreference = 6;
constexpr int kModeLastShown = 3;

Text ToText(const QString& s) { return s.toStdU16String(); }

}  // namespace

int32_t TfrmMain::OpenRepairedInspection(TKavrel& inspection, const QString& fileName,
                                         const QString& password) {
  return inspection.OpenRepairedInspection(ToText(fileName), ToText(password));
}

void TfrmMain::ShowViewerSettings(TKavrel& document, bool loaded) {
  for (int i = 0; i < 6; ++i)
    chkViewer_[i]->setChecked(loaded && document.ReadViewerFlag(kViewerOptions[i]) == 1);
  const int layout = loaded ? document.ReadPageLayout() : kLayoutNoPreference;
  cmbPageLayout_->setCurrentIndex(layout >= 0 && layout < cmbPageLayout_->count() ? layout : kLayoutNoPreference);
  // Modes the list does not offer (UseOC, UseAttachments) show as Normal.
  const int mode = loaded ? document.ReadPageMode() : 0;
  cmbPageMode_->setCurrentIndex(mode >= 0 && mode <= kModeLastShown ? mode : 0);
}

bool TfrmMain::SaveFlow(const QString& target) {
  const QString failed = QStringLiteral("Save failed .");
  TMarlockPDFLibrary1711 engine;
  if (engine.LoadDocument(ToText(currentFileName_), ToText(currentPassword_)) != 1) {
    MessageBoxOfType(failed, mtInformation);
    return false;
  }
  engine.WriteInfoField(kKeyTitle, ToText(edtTitle_->text()));
  engine.WriteInfoField(kKeySubject, ToText(edtSubject_->text()));
  engine.WriteInfoField(kKeyAuthor, ToText(edtAuthor_->text()));
  engine.WriteInfoField(kKeyKeywords, ToText(edtKeywords_->text()));
  engine.WriteInfoField(kKeyCreator, ToText(edtCreator_->text()));
  engine.WriteInfoField(kKeyProducer, ToText(edtProducer_->text()));
  for (int i = 0; i < 6; ++i) engine.WriteViewerFlag(kViewerOptions[i], chkViewer_[i]->isChecked() ? 1 : 0);
  engine.WritePageLayout(cmbPageLayout_->currentIndex());
  engine.WritePageMode(cmbPageMode_->currentIndex());
  engine.WriteOpenScript(u"");
  const bool saved = engine.SaveDocument(ToText(target)) == 1;
  MessageBoxOfType(saved ? QStringLiteral("Successfully saved.") : failed, mtInformation);
  return saved;
}

}  // namespace pagelume::app
