// The engine instance: handles, error codes and the inspection operations. The
// document operations are in MarlockPDFLibraryKavrelDocument.cpp.
#include "engine/facade/MarlockPDFLibraryKavrel.h"

#include <algorithm>
#include <exception>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/facade/MarlockPDFLibraryInspectionItems.h"
#include "engine/inspect/MarlockPDFLibrarySmartAccess.h"
#include "engine/inspect/MarlockPDFLibrarySmartInfo.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

// The file opened for quick inspection: stream, reader and collector, logged in with the
// password. Status is kErrorNone when all went well.
struct TOpenedInspection {
  std::unique_ptr<TKavrelWideFileStream> Stream;
  std::unique_ptr<TSmartPDFReader> Reader;
  std::unique_ptr<TSmartPDFInfo> Info;

  ~TOpenedInspection() {
    // The collector refers to the reader, the reader to the stream.
    Info.reset();
    Reader.reset();
  }
};

// Exceptions pass through to the caller, which turns them into 401.
int32_t OpenForInspection(TextView fileName, TextView password, TOpenedInspection& opened) {
  if (!FileExists(fileName)) return kErrorFile;
  opened.Stream = std::make_unique<TKavrelWideFileStream>(fileName, kFileOpenRead | kFileShareDenyWrite);
  opened.Reader = std::make_unique<TSmartPDFReader>(*opened.Stream);
  if (opened.Reader->Status != kReaderReady) return kErrorStructure;
  opened.Info = std::make_unique<TSmartPDFInfo>(*opened.Reader, false, u"");
  const int state = opened.Info->EncryptionState();
  if (!(state == kNotEncrypted || (state == kEncrypted && opened.Info->CheckPassword(password))))
    return kErrorPassword;
  opened.Info->SetPassword(password);
  opened.Info->Collect();
  return kErrorNone;
}

// The 44 items of an inspection list, as UTF-8.
std::vector<Bytes> InspectionItems(TextView fileName, TSmartPDFReader& reader, TSmartPDFInfo& info) {
  std::vector<Bytes> items(kInspectionItemCount);
  auto text = [&](ByteView key) { return TextToUtf8(info.GetInfoText(key)); };
  items[0] = TextToUtf8(FullPath(fileName));
  items[1] = IntToText(reader.FileSize());
  items[2] = text("Author");
  items[3] = text("Title");
  items[4] = text("Subject");
  items[5] = text("Keywords");
  items[6] = text("Creator");
  items[7] = text("Producer");
  items[8] = info.Version();
  items[9] = IntToText(info.PageCount());
  items[10] = text("CreationDate");
  items[11] = text("ModDate");
  FillSecurityItems(items, [&](int q) { return info.SecurityItem(q); }, [&] { return info.OpenedWithOwner(); });
  const bool rights = info.HasUsageRights();
  items[14] = rights ? "Yes" : "No";
  if (rights) items[15] = TextToUtf8(info.UsageRightsName());
  items[kItemFormFields] = IntToText(info.FormFieldCount());
  return items;
}

}  // namespace

TKavrel::TKavrel() { CreateInitialDocument(); }

TKavrel::~TKavrel() {
  registry_.clear();
  selected_ = nullptr;
  documents_.clear();
  inspectionLists_.clear();
}

// ---- handles -----------------------------------------------------------------------------

int32_t TKavrel::Register(void* object, THandleKind kind) {
  if (!object) return 0;
  for (size_t i = 0; i < registry_.size(); ++i)
    if (registry_[i].Object == object) return kHandleBase + int32_t(i);
  if (registry_.size() > size_t(kHandleIndexMask)) return 0;
  registry_.push_back({object, kind});
  return kHandleBase + int32_t(registry_.size() - 1);
}

void* TKavrel::Resolve(int32_t handle, THandleKind kind) const {
  if ((handle & kHandleBase) != kHandleBase) return nullptr;
  const size_t index = size_t(handle & kHandleIndexMask);
  if (index >= registry_.size() || registry_[index].Kind != kind) return nullptr;
  return registry_[index].Object;
}

void TKavrel::Unregister(void* object) {
  // The registry never shrinks: the slot is emptied, so the old handle resolves to nothing.
  for (THandleSlot& slot : registry_)
    if (slot.Object == object) slot = THandleSlot{};
}

// ---- quick inspection ----------------------------------------------------------------------

int32_t TKavrel::OpenInspection(TextView fileName, TextView password) {
  ErrorCode = kErrorNone;
  try {
    TOpenedInspection opened;
    ErrorCode = OpenForInspection(fileName, password, opened);
    if (ErrorCode != kErrorNone) return 0;
    std::vector<Bytes> items = InspectionItems(fileName, *opened.Reader, *opened.Info);
    const int32_t handle = AddInspectionList(items);
    if (handle == 0) ErrorCode = kErrorFile;
    return handle;
  } catch (...) {
    ErrorCode = kErrorFile;
    return 0;
  }
}

int32_t TKavrel::InspectFile(TextView fileName, TextView password, std::vector<Text>& items) {
  items.clear();
  try {
    TOpenedInspection opened;
    const int32_t error = OpenForInspection(fileName, password, opened);
    if (error != kErrorNone) return error;
    for (const Bytes& item : InspectionItems(fileName, *opened.Reader, *opened.Info)) items.push_back(Utf8ToText(item));
    return kErrorNone;
  } catch (...) {
    items.clear();
    return kErrorFile;
  }
}

int32_t TKavrel::AddInspectionList(const std::vector<Bytes>& items) {
  auto list = std::make_unique<TKavrelStringList>();
  for (const Bytes& item : items) list->Add(item);
  const int32_t handle = Register(list.get(), THandleKind::InspectionList);
  if (handle != 0) inspectionLists_.push_back(std::move(list));
  return handle;
}

int32_t TKavrel::CloseInspection(int32_t handle) {
  auto* list = static_cast<TKavrelStringList*>(Resolve(handle, THandleKind::InspectionList));
  if (!list) return 0;
  Unregister(list);
  auto it = std::find_if(inspectionLists_.begin(), inspectionLists_.end(),
                         [&](const std::unique_ptr<TKavrelStringList>& p) { return p.get() == list; });
  if (it != inspectionLists_.end()) inspectionLists_.erase(it);
  return 1;
}

Text TKavrel::GetInspectionItem(int32_t handle, int32_t index) {
  auto* list = static_cast<TKavrelStringList*>(Resolve(handle, THandleKind::InspectionList));
  if (!list || index < 0 || index >= list->Count()) return {};
  try {
    return Utf8ToText(list->Strings(index));
  } catch (...) {
    return {};
  }
}

int32_t TKavrel::ShowObject(TextView fileName, TextView password, int32_t number, bool decode, Bytes& out) {
  ErrorCode = kErrorNone;
  out.clear();
  try {
    TOpenedInspection opened;
    ErrorCode = OpenForInspection(fileName, password, opened);
    if (ErrorCode != kErrorNone) return kShowFailed;
    TSmartPDFReader& reader = *opened.Reader;
    if (number == 0) {
      out = "trailer\n" + reader.MainTrailer->ToText() + "\n";
      return kShowFound;
    }

    // Parsed apart from the reader's cache, since decryption changes it in place.
    TPDFStructure structure;
    TPDFObject* obj = number > 0 ? reader.GetObject(number, structure) : nullptr;
    if (!obj) return kShowNoObject;
    const TSmartPDFEntry* entry = reader.Entry(number);
    const int32_t generation = entry && entry->Kind == 'n' ? entry->Second : 0;
    TSmartPDFCrypt& crypt = opened.Info->Crypt();
    // Objects of object streams were decrypted with their stream; the /Encrypt
    // dictionary itself is never encrypted.
    if (crypt.State == kEncrypted && !reader.IsCompressed(number) && number != crypt.Params.EncryptObjectNumber)
      crypt.DecryptObject(crypt.ObjectKey(number, generation), obj);

    if (decode) {
      if (TPDFStream* stream = As<TPDFStream>(obj)) {
        try {
          stream->Decoded(out);
        } catch (const EPDFError&) {
          out.clear();
          return kShowUndecodable;
        }
        return kShowFound;
      }
    }
    out = IntToText(number) + " " + IntToText(generation) + " obj\n";
    obj->ToText(out);
    out += "\nendobj\n";
    return kShowFound;
  } catch (...) {
    out.clear();
    ErrorCode = kErrorFile;
    return kShowFailed;
  }
}

}  // namespace pagelume
