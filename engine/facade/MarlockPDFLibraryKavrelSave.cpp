// SaveDocument: the modification date, then the whole selected document written to a file.
#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

int32_t TKavrel::SaveDocument(TextView fileName) {
  ErrorCode = kErrorNone;
  try {
    TPDFDocument* doc = selected_;
    if (doc == nullptr) return 0;
    // A date the caller stored itself is kept.
    if (!doc->ModDateSet) doc->SetInfoField("ModDate", PdfDateNow());
    return doc->SaveToFile(fileName) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace pagelume
