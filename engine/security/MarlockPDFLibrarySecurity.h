// The PDF standard security handler (filter /Standard, revisions 2 to 6): reading the
// /Encrypt dictionary, user and owner password checks, file and object keys, and the
// in-place decryption and encryption of the strings and streams of an object.
//
// Both ways into a file use it: the inspection path through TSmartPDFCrypt, the document
// path through a TPDFSecurityHandler of its own. The few places where they differ are
// selected by TSecurityPath. Nothing here throws for bad data or wrong passwords.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/objects/MarlockPDFLibraryStructure.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

enum class TSecurityPath { Inspection, Document };
enum class TCipherKind { RC4, AES };

// Encrypted state of a file.
inline constexpr int kNotEncrypted = 0;
inline constexpr int kEncrypted = 1;
inline constexpr int kEncryptUnusable = 2;

// KeyClass values.
inline constexpr int kKeyRC4_40 = 0;
inline constexpr int kKeyRC4_128 = 1;
inline constexpr int kKeyAES128 = 2;
inline constexpr int kKeyAES256R5 = 3;
inline constexpr int kKeyRC4Mid = 4;  // 41 to 127 bits
inline constexpr int kKeyAES256R6 = 5;

// Password bytes that take part in revisions 5 and 6.
inline constexpr size_t kAES256PasswordMax = 127;

// The values of an /Encrypt dictionary. Fields stay at their start values unless the
// dictionary is recognised.
struct TPDFEncryption {
  int32_t V = 0;
  int32_t R = 0;
  int32_t Length = 0;  // key bits, except the inspection path's AES-256 (bytes, 32)
  Bytes O;
  Bytes U;
  int32_t P = 0;
  TCipherKind Cipher = TCipherKind::RC4;
  Bytes OE;
  Bytes UE;
  Bytes Perms;  // kept, never consulted
  bool EncryptMetadata = true;
  bool Aes256 = false;              // crypt filter method AESV3
  bool Recognised = false;          // the handler understands the dictionary
  int32_t EncryptObjectNumber = 0;  // /Encrypt given by reference: its object number
};
// The inspection path's name for the same record.
using TSmartPDFEncryption = TPDFEncryption;

// Reads the trailer's /Encrypt (references resolved through the structure's hook) into
// `params`, which is reset first; returns the encrypted state 0, 1 or 2.
//  Inspection: 0 without a dictionary, 1 when its /V is not 0, 2 otherwise.
//  Document: 0 without /Encrypt, 1 when recognised, 2 otherwise (also when the entry
//  does not lead to a dictionary).
int ReadEncryptDictionary(const TPDFDictionary* trailer, TSecurityPath path, TPDFEncryption& params);
// The same for an /Encrypt dictionary the caller has found itself (null: none), e.g. in
// an older trailer.
int ReadEncryptEntries(const TPDFDictionary* encrypt, TSecurityPath path, TPDFEncryption& params);
// First element of the trailer's /ID when it is a string; else empty.
Bytes FileIdentifier(const TPDFDictionary* trailer);

// Hash of ISO 32000-2 algorithm 2.B (revision 6): 32 bytes.
Bytes Revision6Hash(ByteView input, ByteView password, ByteView udata);

class TPDFSecurityHandler {
 public:
  explicit TPDFSecurityHandler(TSecurityPath path = TSecurityPath::Document) : Path(path) {}
  TPDFSecurityHandler(TSecurityPath path, const TPDFEncryption& params, int state, Bytes fileId)
      : Path(path), Params(params), State(state), FileId(std::move(fileId)) {}
  virtual ~TPDFSecurityHandler() = default;

  // ReadEncryptDictionary + FileIdentifier of `trailer`; returns the state.
  int ReadFromTrailer(const TPDFDictionary* trailer);

  int KeyClass() const;
  // File key length in bytes for the current KeyClass.
  size_t KeyLength() const;
  bool IsAes256() const { return Params.Aes256; }
  // The typed password as the bytes this file's revision hashes.
  Bytes PasswordBytes(TextView password) const;

  // True when the password passes; they set FileKey (revisions 2-4 always, 5-6 on
  // success). State 0: true exactly for the empty password. State 2 or an unrecognised
  // dictionary: always false.
  bool CheckUserPassword(TextView password);
  bool CheckOwnerPassword(TextView password);

  // Key of the strings and streams of one indirect object, formed from ObjectKeyBase.
  // Document path: the /Encrypt dictionary's own object gets the empty key.
  Bytes ObjectKey(int32_t objectNumber, int32_t generation) const;

  // In place over every string and stream reachable inside `object` (not through
  // references). /Type /XRef streams, and /Type /Metadata streams when metadata is not
  // encrypted, are left alone. An empty key changes nothing. Decryption keeps the
  // Modified flags as they were; encryption sets them.
  void DecryptObject(ByteView key, TPDFObject* object) const;
  void EncryptObject(ByteView key, TPDFObject* object) const;
  // For an object still encrypted as read, to be written again under the same key:
  // leaves every string and stream whose bytes decrypt (so that decrypting and
  // encrypting again would only change the IV) and replaces the others by what that
  // round trip gives. RC4 data always round-trip to themselves: nothing changes.
  void ResealObject(ByteView key, TPDFObject* object) const;
  // True when `data` decrypts under `key`: RC4 always; AES when it has an IV, whole
  // blocks and valid padding (only the last block is deciphered).
  bool DecryptsCleanly(ByteView key, ByteView data) const;

  TSecurityPath Path;
  TPDFEncryption Params;
  int State = kNotEncrypted;
  Bytes FileId;
  Bytes FileKey;        // left by the latest password check
  Bytes ObjectKeyBase;  // file key of the password that logged in

 private:
  Bytes ComputeFileKey(ByteView pw) const;
  bool UserCheckBytes(ByteView pw);
  bool OwnerCheckBytes(ByteView pw);
  bool UserCheckAes256(ByteView pw);
  bool OwnerCheckAes256(ByteView pw);
  Bytes Aes256Hash(ByteView input, ByteView pw, ByteView udata) const;
  enum class TWalk { Decrypt, Encrypt, Reseal };
  void Walk(ByteView key, TPDFObject* object, TWalk mode) const;

  // The latest revision-6 hashes, by their inputs.
  static constexpr size_t kHashMemoSize = 8;
  mutable std::vector<std::pair<Bytes, Bytes>> hashMemo_;
};

}  // namespace pagelume
