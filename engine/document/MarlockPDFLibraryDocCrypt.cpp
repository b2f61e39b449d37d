// The encryption state of a loaded document: log-in, decryption of each object on
// first use, and re-encryption of single objects for the writer.
//
// An encrypted document stays encrypted for its whole life, also when its trailer has
// no /ID (or an /ID that is not an array): its keys were formed with an empty
// identifier, stay valid, and the saved file opens with the same passwords.
#include "engine/document/MarlockPDFLibraryDocument.h"

namespace pagelume {

int TPDFDocument::EncryptionState() {
  if (!cryptParsed_) {
    // Set first: reading /Encrypt may load its object, which asks again.
    cryptParsed_ = true;
    security_.ReadFromTrailer(Trailer);
  }
  return security_.State;
}

void TPDFDocument::LogIn(TextView password) {
  userFlag_ = ownerFlag_ = false;
  acceptedPassword_.reset();
  security_.ObjectKeyBase.clear();
  EncryptionState();
  Bytes base;
  if (security_.CheckUserPassword(password)) {
    userFlag_ = true;
    acceptedPassword_ = Text(password);
    base = security_.FileKey;
  }
  // An empty owner password of an AES-256 file does not count on this path.
  if (security_.CheckOwnerPassword(password) && (!security_.IsAes256() || !password.empty())) {
    ownerFlag_ = true;
    acceptedPassword_ = Text(password);
    base = security_.FileKey;
  }
  security_.ObjectKeyBase = base;
}

void TPDFDocument::DecryptIndirectObject(TPDFIndObj& record) {
  // Checked before the state: the /Encrypt dictionary is loaded while the state is read.
  if (!userFlag_ && !ownerFlag_) return;
  if (!record.Loaded || record.Body == nullptr || record.Decrypted) return;
  if (EncryptionState() != kEncrypted) return;
  record.Decrypted = true;
  const Bytes key = security_.ObjectKey(record.Number, record.Generation);
  if (!key.empty()) security_.DecryptObject(key, record.Body);
}

void TPDFDocument::EncryptIndirectObject(TPDFIndObj& record) {
  if (!userFlag_ && !ownerFlag_) return;
  if (EncryptionState() != kEncrypted || !record.Decrypted || record.Body == nullptr) return;
  const Bytes key = security_.ObjectKey(record.Number, record.Generation);
  if (key.empty()) return;  // the /Encrypt dictionary's own object is written as read
  security_.EncryptObject(key, record.Body);
  record.Decrypted = false;
}

void TPDFDocument::ResealIndirectObject(TPDFIndObj& record) {
  if (!userFlag_ && !ownerFlag_) return;
  if (EncryptionState() != kEncrypted || record.Decrypted || record.Body == nullptr) return;
  const Bytes key = security_.ObjectKey(record.Number, record.Generation);
  if (!key.empty()) security_.ResealObject(key, record.Body);
}

}  // namespace pagelume
