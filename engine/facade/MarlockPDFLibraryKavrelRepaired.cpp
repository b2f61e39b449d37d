// The inspection list of a file the quick path cannot read: the same 44 items, taken
// from the fully loaded document, which cuts junk in front of the header and
// reconstructs a broken object table. The security answers come from the inspection
// path's handler, built from the loaded document's /Encrypt and /ID.
#include <memory>
#include <vector>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/document/MarlockPDFLibraryPageTree.h"
#include "engine/facade/MarlockPDFLibraryInspectionItems.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "engine/security/MarlockPDFLibrarySmartCrypt.h"

namespace pagelume {

namespace {

std::vector<Bytes> RepairedItems(TextView fileName, TextView password, TPDFDocument& doc) {
  std::vector<Bytes> items(kInspectionItemCount);
  // Read without creating what is missing: the document is only looked at.
  auto* info = As<TPDFDictionary>(doc.Trailer->Get("Info", true));
  auto* catalog = As<TPDFDictionary>(doc.Trailer->Get("Root", true));
  // As stored: dates are not completed.
  auto text = [&](ByteView key) { return TextToUtf8(InfoValueText(info ? info->Get(key, true) : nullptr)); };
  items[0] = TextToUtf8(FullPath(fileName));
  items[1] = IntToText(doc.FileSize);
  items[2] = text("Author");
  items[3] = text("Title");
  items[4] = text("Subject");
  items[5] = text("Keywords");
  items[6] = text("Creator");
  items[7] = text("Producer");
  items[8] = doc.Version;
  items[9] = IntToText(doc.PageTree ? doc.PageTree->PageCount() : 0);
  items[10] = text("CreationDate");
  items[11] = text("ModDate");

  TSmartPDFEncryption params;
  const int state = ReadEncryptDictionary(doc.Trailer, TSecurityPath::Inspection, params);
  if (auto* ref = As<TPDFIndRef>(doc.Trailer->Get("Encrypt", false))) params.EncryptObjectNumber = ref->RefNumber;
  TSmartPDFCrypt crypt(params, state, FileIdentifier(doc.Trailer));
  crypt.Authenticate(u"");
  crypt.Authenticate(password);
  FillSecurityItems(
      items, [&](int q) { return IntToText(crypt.SecurityQuery(q)); },
      [&] { return crypt.CheckOwnerPassword(password); });

  auto* perms = catalog ? As<TPDFDictionary>(catalog->Get("Perms", true)) : nullptr;
  auto* ur3 = perms ? As<TPDFDictionary>(perms->Get("UR3", true)) : nullptr;
  items[14] = ur3 ? "Yes" : "No";
  if (ur3) {
    if (auto* name = As<TPDFString>(ur3->Get("Name", true))) items[15] = TextToUtf8(DecodeTextString(name->GetBytes()));
  }
  auto* form = catalog ? As<TPDFDictionary>(catalog->Get("AcroForm", true)) : nullptr;
  auto* fields = form ? As<TPDFArray>(form->Get("Fields", true)) : nullptr;
  items[kItemFormFields] = IntToText(fields ? fields->Count() : 0);
  return items;
}

}  // namespace

int32_t TKavrel::OpenRepairedInspection(TextView fileName, TextView password) {
  ErrorCode = kErrorNone;
  try {
    int result = kFileUnopened;
    std::unique_ptr<TPDFDocument> doc = LoadFile(fileName, password, result);
    if (!doc) {
      // Otherwise neither way in makes a PDF of it.
      ErrorCode = result == kFileUnopened              ? kErrorFile
                  : result == TPDFDocument::kWrongPassword ? kErrorPassword
                                                           : kErrorStructure;
      return 0;
    }
    std::vector<Bytes> items = RepairedItems(fileName, password, *doc);
    const int32_t handle = AddInspectionList(items);
    if (handle == 0) ErrorCode = kErrorFile;
    return handle;
  } catch (...) {
    ErrorCode = kErrorFile;
    return 0;
  }
}

}  // namespace pagelume
