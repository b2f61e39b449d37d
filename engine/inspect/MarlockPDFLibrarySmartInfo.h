// The information collector of quick inspection: what a property display needs from a
// file opened by the inspection reader (information strings, version, page count,
// encryption and permission answers, form fields, usage rights).
#pragma once

#include <cstdint>
#include <memory>

#include "engine/inspect/MarlockPDFLibrarySmartAccess.h"
#include "engine/objects/MarlockPDFLibraryStructure.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"
#include "engine/security/MarlockPDFLibrarySmartCrypt.h"

namespace pagelume {

class TSmartPDFInfo {
 public:
  // Reads the encryption dictionary and logs in with the empty password; with
  // `checkPassword`, when `password` opens the file (or it is not encrypted), it logs in
  // with it and collects at once. The reader must outlive the collector.
  TSmartPDFInfo(TSmartPDFReader& reader, bool checkPassword, TextView password);
  ~TSmartPDFInfo();
  TSmartPDFInfo(const TSmartPDFInfo&) = delete;
  TSmartPDFInfo& operator=(const TSmartPDFInfo&) = delete;

  // The password passes the user or the owner check.
  bool CheckPassword(TextView password);
  // Logs in with the password and reads the roots again.
  void SetPassword(TextView password);
  // The roots and the form fields.
  void Collect();

  // The information dictionary's entry, decrypted and decoded; empty when missing.
  Text GetInfoText(ByteView key);
  // Decimal answer of security question n.
  Bytes SecurityItem(int n);
  bool OpenedWithOwner();
  bool HasUsageRights();
  Text UsageRightsName();

  // 0 no /Encrypt, 1 usable, 2 unusable (/V 0 or missing).
  int EncryptionState() const { return state_; }
  int32_t PageCount() const { return pageCount_; }
  int32_t FormFieldCount() const { return formFieldCount_; }
  const Bytes& Version() const { return version_; }
  TSmartPDFCrypt& Crypt() { return *crypt_; }
  TPDFDictionary* Catalog() const { return catalog_; }
  TPDFDictionary* InfoDictionary() const { return info_; }

 private:
  void ReadRoots();
  void ReadFormFields();
  // A dictionary entry, a reference followed through the reader.
  TPDFObject* Resolved(TPDFDictionary* dict, ByteView key);
  void DecryptObjectStream(int32_t number, TPDFStream* stream);

  TSmartPDFReader& reader_;
  int32_t pageCount_ = 0;
  TPDFDictionary* catalog_ = nullptr;
  TPDFIndRef* catalogRef_ = nullptr;
  TPDFDictionary* info_ = nullptr;
  TPDFIndRef* infoRef_ = nullptr;
  TPDFDictionary* pages_ = nullptr;
  TPDFIndRef* pagesRef_ = nullptr;
  int32_t skimmedPages_ = 0;  // number of the object pages_ was read from
  TPDFDictionary* encrypt_ = nullptr;
  TPDFDictionary* form_ = nullptr;
  Bytes version_;
  int state_ = kNotEncrypted;
  TSmartPDFEncryption params_;
  Text password_;
  int32_t formFieldCount_ = 0;
  std::unique_ptr<TSmartPDFCrypt> crypt_;
};

}  // namespace pagelume
