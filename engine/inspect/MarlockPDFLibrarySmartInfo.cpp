#include "engine/inspect/MarlockPDFLibrarySmartInfo.h"

#include <exception>

#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

TSmartPDFInfo::TSmartPDFInfo(TSmartPDFReader& reader, bool checkPassword, TextView password)
    : reader_(reader), version_(reader.Version) {
  reader_.OnDecryptObjectStream = [this](int32_t number, TPDFStream* stream) { DecryptObjectStream(number, stream); };
  encrypt_ = reader_.FindTrailerDictionary("Encrypt");
  state_ = ReadEncryptEntries(encrypt_, TSecurityPath::Inspection, params_);
  if (TPDFIndRef* ref = reader_.FindTrailerReference("Encrypt")) params_.EncryptObjectNumber = ref->RefNumber;
  crypt_ = std::make_unique<TSmartPDFCrypt>(params_, state_, FileIdentifier(reader_.MainTrailer));
  crypt_->Authenticate(u"");
  if (checkPassword && (state_ == kNotEncrypted || (state_ == kEncrypted && CheckPassword(password)))) {
    SetPassword(password);
    Collect();
  }
}

TSmartPDFInfo::~TSmartPDFInfo() {
  // The reader outlives the collector; its event must not call into a freed object.
  reader_.OnDecryptObjectStream = nullptr;
}

bool TSmartPDFInfo::CheckPassword(TextView password) {
  return crypt_->CheckUserPassword(password) || crypt_->CheckOwnerPassword(password);
}

void TSmartPDFInfo::SetPassword(TextView password) {
  password_ = Text(password);
  crypt_->Authenticate(password);
  ReadRoots();
}

void TSmartPDFInfo::Collect() {
  ReadRoots();
  ReadFormFields();
}

TPDFObject* TSmartPDFInfo::Resolved(TPDFDictionary* dict, ByteView key) {
  TPDFObject* v = dict ? dict->Get(key, false) : nullptr;
  if (TPDFIndRef* ref = As<TPDFIndRef>(v)) v = reader_.GetObject(ref->RefNumber);
  return v;
}

void TSmartPDFInfo::ReadRoots() {
  catalogRef_ = reader_.FindTrailerReference("Root");
  catalog_ = reader_.FindTrailerDictionary("Root");
  infoRef_ = reader_.FindTrailerReference("Info");
  info_ = reader_.FindTrailerDictionary("Info");
  pageCount_ = 0;
  pagesRef_ = catalog_ ? As<TPDFIndRef>(catalog_->Get("Pages", false)) : nullptr;
  // Only /Type, /Kids and /Count are looked at: a root of many pages is read without
  // its /Kids array.
  if (!pagesRef_)
    pages_ = As<TPDFDictionary>(Resolved(catalog_, "Pages"));
  else if (pagesRef_->RefNumber != skimmedPages_ || !pages_)
    pages_ = reader_.GetDictionaryWithoutArray(pagesRef_->RefNumber, "Kids");
  skimmedPages_ = pagesRef_ ? pagesRef_->RefNumber : 0;
  // The page tree is not walked: the root's /Count is the page count.
  if (pages_ && (pages_->TypeName() == "Pages" || pages_->Get("Kids", false))) {
    if (TPDFNumeric* count = As<TPDFNumeric>(Resolved(pages_, "Count"))) {
      int32_t n = count->AsInteger();
      pageCount_ = n > 0 ? n : 0;
    }
  }
}

void TSmartPDFInfo::ReadFormFields() {
  formFieldCount_ = 0;
  form_ = As<TPDFDictionary>(Resolved(catalog_, "AcroForm"));
  if (TPDFArray* fields = As<TPDFArray>(Resolved(form_, "Fields"))) formFieldCount_ = fields->Count();
}

Text TSmartPDFInfo::GetInfoText(ByteView key) {
  if (!info_) return {};
  TPDFObject* value = info_->Get(key, false);
  // The object that holds the value gives the key of its strings. An /Info written into
  // the trailer itself has none: trailer strings are never encrypted.
  TPDFIndRef* holder = infoRef_;
  if (TPDFIndRef* ref = As<TPDFIndRef>(value)) {
    holder = ref;
    value = reader_.GetObject(ref->RefNumber);
  }
  const bool decrypt = crypt_->State == kEncrypted && holder && !reader_.IsCompressed(holder->RefNumber);
  if (!As<TPDFString>(value) && !As<TPDFStream>(value)) return {};

  // Decrypted in place for reading and encrypted back, so that the reader's cache keeps
  // every object in its stored form.
  Bytes objectKey;
  if (decrypt) {
    objectKey = crypt_->ObjectKey(holder->RefNumber, holder->RefGeneration);
    crypt_->DecryptObject(objectKey, value);
  }
  Text text;
  if (TPDFString* s = As<TPDFString>(value)) {
    text = DecodeTextString(s->BytesValue);
  } else {
    try {
      text = As<TPDFStream>(value)->DecodedText();
    } catch (const std::exception&) {
      text.clear();  // undecodable data reads as empty, like a missing entry
    }
  }
  if (decrypt) crypt_->EncryptObject(crypt_->ObjectKey(holder->RefNumber, holder->RefGeneration), value);
  return text;
}

Bytes TSmartPDFInfo::SecurityItem(int n) { return IntToText(crypt_->SecurityQuery(n)); }

bool TSmartPDFInfo::OpenedWithOwner() { return crypt_->CheckOwnerPassword(password_); }

bool TSmartPDFInfo::HasUsageRights() {
  TPDFDictionary* perms = As<TPDFDictionary>(Resolved(catalog_, "Perms"));
  return As<TPDFDictionary>(Resolved(perms, "UR3")) != nullptr;
}

Text TSmartPDFInfo::UsageRightsName() {
  TPDFDictionary* perms = As<TPDFDictionary>(Resolved(catalog_, "Perms"));
  TPDFDictionary* ur3 = As<TPDFDictionary>(Resolved(perms, "UR3"));
  TPDFString* name = As<TPDFString>(Resolved(ur3, "Name"));
  return name ? DecodeTextString(name->BytesValue) : Text();
}

void TSmartPDFInfo::DecryptObjectStream(int32_t number, TPDFStream* stream) {
  if (crypt_ && crypt_->State == kEncrypted) crypt_->DecryptObject(crypt_->ObjectKey(number, 0), stream);
}

}  // namespace pagelume
