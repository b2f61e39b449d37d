// Digests and ciphers of the standard security handler: MD5, SHA-256/384/512, RC4 and
// AES-CBC, all over in-memory byte strings. OpenSSL's libcrypto does the block work;
// the interface fixes the choices the standards leave open (padding, IV transport).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "engine/objects/MarlockPDFLibraryTypes.h"

typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_md_st EVP_MD;

namespace pagelume {

inline constexpr size_t kMD5DigestSize = 16;
inline constexpr size_t kSHA256DigestSize = 32;
inline constexpr size_t kSHA384DigestSize = 48;
inline constexpr size_t kSHA512DigestSize = 64;
inline constexpr size_t kAESBlockSize = 16;

// Raised by a hash object used outside Init ... Final.
class EHashError : public EPDFError {
 public:
  EHashError() : EPDFError("Hash not initialized") {}
};

// ---- SHA-2 hash objects ---------------------------------------------------------
// Create, Init, any number of Update calls, Final. Final wipes the object, so the
// next message needs a new Init; Update or Final outside that raise EHashError.

class THashAlgorithm {
 public:
  THashAlgorithm();
  virtual ~THashAlgorithm();
  THashAlgorithm(const THashAlgorithm&) = delete;
  THashAlgorithm& operator=(const THashAlgorithm&) = delete;

  virtual void Init() = 0;
  // Writes DigestSize() bytes to `digest`, then wipes.
  virtual void Final(uint8_t* digest) = 0;
  virtual void Wipe() = 0;
  virtual void Update(const void* buffer, size_t length) = 0;

  virtual size_t DigestSize() const = 0;
  bool Initialized() const { return initialized_; }
  // Final into a fresh byte string.
  Bytes FinalBytes();

 protected:
  void StartWith(const EVP_MD* md);
  void FeedChecked(const void* buffer, size_t length);
  void FinishChecked(uint8_t* digest, size_t size);
  void Reset();

  EVP_MD_CTX* ctx_;
  bool initialized_ = false;
};

class TSHA256Hash final : public THashAlgorithm {
 public:
  void Init() override;
  void Final(uint8_t* digest) override;
  void Wipe() override;
  void Update(const void* buffer, size_t length) override;
  size_t DigestSize() const override { return kSHA256DigestSize; }
};

// The 128-byte-block family shared by SHA-384 and SHA-512.
class TSHA512BaseHash : public THashAlgorithm {
 public:
  void Wipe() override;
  void Update(const void* buffer, size_t length) override;
};

class TSHA384Hash final : public TSHA512BaseHash {
 public:
  void Init() override;
  void Final(uint8_t* digest) override;
  size_t DigestSize() const override { return kSHA384DigestSize; }
};

class TSHA512Hash final : public TSHA512BaseHash {
 public:
  void Init() override;
  void Final(uint8_t* digest) override;
  size_t DigestSize() const override { return kSHA512DigestSize; }
};

// ---- One-shot digests -----------------------------------------------------------

Bytes MD5OfBytes(ByteView data);
// Lower-case hexadecimal, two digits per byte, high nibble first.
Bytes DigestHex(ByteView digest);
Bytes SHA256OfBytes(ByteView data);
Bytes SHA384OfBytes(ByteView data);
Bytes SHA512OfBytes(ByteView data);

// ---- RC4 ------------------------------------------------------------------------

// Keystream XORed onto `data`; only the first 256 key bytes matter. Applying it twice
// gives the input back. An empty key is outside RC4's domain: the data comes back as is.
Bytes RC4Transform(ByteView key, ByteView data);

// ---- AES ------------------------------------------------------------------------

// Status codes of the raw CBC operations.
inline constexpr int kAESOk = 0;
inline constexpr int kAESBadKeyLength = 1;
inline constexpr int kAESBadIVLength = 2;
inline constexpr int kAESPartialBlock = 3;
inline constexpr int kAESCipherFailure = 4;

// Rounds of the key schedule for a key length given in bytes (16, 24, 32) or in bits
// (128, 192, 256): 10, 12 or 14; 0 for any other length.
int AESRounds(int keyLength);

// CBC without padding (NIST SP 800-38A). `data` must be whole 16-byte blocks, `iv` 16
// bytes, `key` 16, 24 or 32 bytes. On failure the status is non-zero and `out` is untouched.
int AESEncryptCBC(ByteView key, ByteView iv, ByteView data, Bytes& out);
int AESDecryptCBC(ByteView key, ByteView iv, ByteView data, Bytes& out);

// Fresh random IV followed by the CBC ciphertext of the PKCS#7-padded plaintext;
// empty when the key length is refused.
Bytes AESEncryptString(ByteView key, ByteView plain);
// IV + ciphertext back to the plaintext; empty when the input is 16 bytes or shorter,
// not whole blocks, or its padding does not verify.
Bytes AESDecryptString(ByteView key, ByteView data);

// `count` bytes from the generator used for IVs.
Bytes RandomBytes(size_t count);

}  // namespace pagelume
