// The instance's document operations: the blank document every instance starts
// with, the full load, the unit and the selected page's size.
#include <exception>
#include <memory>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/document/MarlockPDFLibraryPageTree.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

// Producer and Creator of the documents the engine makes.
constexpr char16_t kEngineProductText[] = u"Pagelume 4.20";

void TKavrel::CreateInitialDocument() {
  auto doc = std::make_unique<TPDFDocument>();
  doc->CreateBlank();
  // Through the information editing, so that the XMP packet carries them too.
  const Text now = PdfDateNow();
  doc->SetInfoField("Producer", kEngineProductText);
  doc->SetInfoField("Creator", kEngineProductText);
  doc->SetInfoField("CreationDate", now);
  doc->SetInfoField("ModDate", now);
  TPDFDocument* blank = doc.get();
  documents_.push_back(std::move(doc));
  Register(blank, THandleKind::Document);
  selected_ = blank;
}

std::unique_ptr<TPDFDocument> TKavrel::LoadFile(TextView fileName, TextView password, int& result) {
  result = kFileUnopened;
  if (!FileExists(fileName)) return nullptr;
  std::unique_ptr<TKavrelWideFileStream> stream = OpenFileStream(fileName, kFileOpenRead | kFileShareDenyWrite);
  if (!stream) return nullptr;
  auto doc = std::make_unique<TPDFDocument>();
  result = doc->LoadFromStream(*stream, password);
  if (result != TPDFDocument::kLoaded) return nullptr;
  return doc;
}

int32_t TKavrel::LoadDocument(TextView fileName, TextView password) {
  ErrorCode = kErrorNone;
  try {
    int result = kFileUnopened;
    std::unique_ptr<TPDFDocument> doc = LoadFile(fileName, password, result);
    if (!doc) {
      ErrorCode = result == TPDFDocument::kWrongPassword ? kErrorPassword : kErrorFile;
      return 0;
    }
    doc->FileName = Text(fileName);
    TPDFDocument* loaded = doc.get();
    documents_.push_back(std::move(doc));
    Register(loaded, THandleKind::Document);
    selected_ = loaded;
    return 1;
  } catch (const std::exception&) {
    ErrorCode = kErrorFile;
    return 0;
  }
}

int32_t TKavrel::SetUnitScale(int32_t units) {
  if (selected_ == nullptr) return 1;
  switch (units) {
    case 1: selected_->UnitScale = kMillimetresPerPoint; break;
    case 2: selected_->UnitScale = kInchesPerPoint; break;
    default: selected_->UnitScale = kPointsPerPoint; break;
  }
  return 1;
}

double TKavrel::SelectedPageWidth() {
  try {
    if (selected_ == nullptr || !selected_->PageTree) return 0;
    return selected_->PageTree->PageWidth() * selected_->UnitScale;
  } catch (const std::exception&) {
    return 0;
  }
}

double TKavrel::SelectedPageHeight() {
  try {
    if (selected_ == nullptr || !selected_->PageTree) return 0;
    return selected_->PageTree->PageHeight() * selected_->UnitScale;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace pagelume
