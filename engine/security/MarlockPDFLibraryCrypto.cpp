#include "engine/security/MarlockPDFLibraryCrypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <random>

namespace pagelume {

namespace {

// Each algorithm is fetched once, on its first use: an implicit fetch on every call costs
// more than hashing the short inputs the security handler feeds in, and fetching all of
// them up front would make every run pay for ciphers that most files never need.
template <class T, T* (*Fetch)(OSSL_LIB_CTX*, const char*, const char*), void (*Free)(T*)>
class TFetched {
 public:
  explicit TFetched(const char* name) : algorithm_(Fetch(nullptr, name, nullptr)) {}
  ~TFetched() { Free(algorithm_); }
  TFetched(const TFetched&) = delete;
  TFetched& operator=(const TFetched&) = delete;
  T* get() const { return algorithm_; }

 private:
  T* algorithm_;
};
using TFetchedMd = TFetched<EVP_MD, EVP_MD_fetch, EVP_MD_free>;
using TFetchedCipher = TFetched<EVP_CIPHER, EVP_CIPHER_fetch, EVP_CIPHER_free>;

const EVP_MD* MdMD5() {
  static const TFetchedMd md("MD5");
  return md.get() ? md.get() : EVP_md5();
}
const EVP_MD* MdSHA256() {
  static const TFetchedMd md("SHA256");
  return md.get() ? md.get() : EVP_sha256();
}
const EVP_MD* MdSHA384() {
  static const TFetchedMd md("SHA384");
  return md.get() ? md.get() : EVP_sha384();
}
const EVP_MD* MdSHA512() {
  static const TFetchedMd md("SHA512");
  return md.get() ? md.get() : EVP_sha512();
}

// Contexts reused across calls; the revision-6 password hash runs dozens of rounds.
struct TContexts {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  EVP_CIPHER_CTX* cipher = EVP_CIPHER_CTX_new();
  ~TContexts() {
    EVP_MD_CTX_free(md);
    EVP_CIPHER_CTX_free(cipher);
  }
};

TContexts& Contexts() {
  thread_local TContexts contexts;
  return contexts;
}

// Libcrypto's update calls take int lengths; longer inputs go in pieces of this size.
constexpr size_t kEvpChunkMax = size_t(1) << 30;

Bytes DigestOf(const EVP_MD* md, ByteView data, size_t size) {
  Bytes out(size, '\0');
  EVP_MD_CTX* ctx = Contexts().md;
  unsigned int written = 0;
  bool ok = ctx && EVP_DigestInit_ex(ctx, md, nullptr) == 1;
  // Empty input is not fed at all: the digest of the empty message.
  for (size_t at = 0; ok && at < data.size(); at += kEvpChunkMax) {
    size_t n = std::min(kEvpChunkMax, data.size() - at);
    ok = EVP_DigestUpdate(ctx, data.data() + at, n) == 1;
  }
  ok = ok && EVP_DigestFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()), &written) == 1;
  if (!ok || written != size) out.assign(size, '\0');
  return out;
}

const EVP_CIPHER* CipherFor(size_t keyBytes) {
  switch (keyBytes) {
    case 16: {
      static const TFetchedCipher aes("AES-128-CBC");
      return aes.get() ? aes.get() : EVP_aes_128_cbc();
    }
    case 24: {
      static const TFetchedCipher aes("AES-192-CBC");
      return aes.get() ? aes.get() : EVP_aes_192_cbc();
    }
    case 32: {
      static const TFetchedCipher aes("AES-256-CBC");
      return aes.get() ? aes.get() : EVP_aes_256_cbc();
    }
    default: return nullptr;
  }
}

int AESCBC(ByteView key, ByteView iv, ByteView data, Bytes& out, int encrypt) {
  const EVP_CIPHER* cipher = CipherFor(key.size());
  if (!cipher) return kAESBadKeyLength;
  if (iv.size() != kAESBlockSize) return kAESBadIVLength;
  if (data.size() % kAESBlockSize != 0) return kAESPartialBlock;
  EVP_CIPHER_CTX* ctx = Contexts().cipher;
  if (!ctx) return kAESCipherFailure;
  // The IV is copied by the init call; the caller's bytes stay as they are.
  if (EVP_CipherInit_ex(ctx, cipher, nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                        reinterpret_cast<const unsigned char*>(iv.data()), encrypt) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx, 0) != 1)
    return kAESCipherFailure;
  Bytes result(data.size(), '\0');
  auto* dst = reinterpret_cast<unsigned char*>(result.data());
  const auto* src = reinterpret_cast<const unsigned char*>(data.data());
  size_t done = 0;
  while (done < data.size()) {
    size_t n = std::min(kEvpChunkMax, data.size() - done);
    int written = 0;
    if (EVP_CipherUpdate(ctx, dst + done, &written, src + done, int(n)) != 1 || size_t(written) != n)
      return kAESCipherFailure;
    done += n;
  }
  int tail = 0;
  if (EVP_CipherFinal_ex(ctx, dst + done, &tail) != 1 || tail != 0) return kAESCipherFailure;
  out = std::move(result);
  return kAESOk;
}

}  // namespace

// ---- Hash objects -------------------------------------------------------------------

THashAlgorithm::THashAlgorithm() : ctx_(EVP_MD_CTX_new()) {}

THashAlgorithm::~THashAlgorithm() { EVP_MD_CTX_free(ctx_); }

Bytes THashAlgorithm::FinalBytes() {
  Bytes out(DigestSize(), '\0');
  Final(reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

void THashAlgorithm::StartWith(const EVP_MD* md) {
  Wipe();
  if (!ctx_ || EVP_DigestInit_ex(ctx_, md, nullptr) != 1) throw EPDFError("Hash not available");
  initialized_ = true;
}

void THashAlgorithm::FeedChecked(const void* buffer, size_t length) {
  if (!initialized_) throw EHashError();
  const auto* p = static_cast<const unsigned char*>(buffer);
  for (size_t at = 0; at < length; at += kEvpChunkMax) {
    size_t n = std::min(kEvpChunkMax, length - at);
    if (EVP_DigestUpdate(ctx_, p + at, n) != 1) throw EPDFError("Hash update failed");
  }
}

void THashAlgorithm::FinishChecked(uint8_t* digest, size_t size) {
  if (!initialized_) throw EHashError();
  unsigned char full[EVP_MAX_MD_SIZE];
  unsigned int written = 0;
  bool ok = EVP_DigestFinal_ex(ctx_, full, &written) == 1 && written >= size;
  if (ok) std::memcpy(digest, full, size);
  OPENSSL_cleanse(full, sizeof full);
  Wipe();
  if (!ok) throw EPDFError("Hash finalization failed");
}

void THashAlgorithm::Reset() {
  if (ctx_) EVP_MD_CTX_reset(ctx_);
  initialized_ = false;
}

void TSHA256Hash::Init() { StartWith(MdSHA256()); }
void TSHA256Hash::Final(uint8_t* digest) { FinishChecked(digest, kSHA256DigestSize); }
void TSHA256Hash::Wipe() { Reset(); }
void TSHA256Hash::Update(const void* buffer, size_t length) { FeedChecked(buffer, length); }

void TSHA512BaseHash::Wipe() { Reset(); }
void TSHA512BaseHash::Update(const void* buffer, size_t length) { FeedChecked(buffer, length); }

void TSHA384Hash::Init() { StartWith(MdSHA384()); }
void TSHA384Hash::Final(uint8_t* digest) { FinishChecked(digest, kSHA384DigestSize); }

void TSHA512Hash::Init() { StartWith(MdSHA512()); }
void TSHA512Hash::Final(uint8_t* digest) { FinishChecked(digest, kSHA512DigestSize); }

// ---- One-shot digests ----------------------------------------------------------------

Bytes MD5OfBytes(ByteView data) { return DigestOf(MdMD5(), data, kMD5DigestSize); }
Bytes SHA256OfBytes(ByteView data) { return DigestOf(MdSHA256(), data, kSHA256DigestSize); }
Bytes SHA384OfBytes(ByteView data) { return DigestOf(MdSHA384(), data, kSHA384DigestSize); }
Bytes SHA512OfBytes(ByteView data) { return DigestOf(MdSHA512(), data, kSHA512DigestSize); }

Bytes DigestHex(ByteView digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  Bytes out;
  out.reserve(digest.size() * 2);
  for (unsigned char c : digest) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

// ---- RC4 --------------------------------------------------------------------------

Bytes RC4Transform(ByteView key, ByteView data) {
  Bytes out(data);
  if (key.empty()) return out;
  std::array<uint8_t, 256> s;
  for (int i = 0; i < 256; ++i) s[size_t(i)] = uint8_t(i);
  uint8_t j = 0;
  for (size_t i = 0; i < 256; ++i) {
    j = uint8_t(j + s[i] + uint8_t(key[i % key.size()]));
    std::swap(s[i], s[j]);
  }
  uint8_t x = 0, y = 0;
  for (char& c : out) {
    x = uint8_t(x + 1);
    y = uint8_t(y + s[x]);
    std::swap(s[x], s[y]);
    c = char(uint8_t(c) ^ s[uint8_t(s[x] + s[y])]);
  }
  return out;
}

// ---- AES --------------------------------------------------------------------------

int AESRounds(int keyLength) {
  switch (keyLength) {
    case 16: case 128: return 10;
    case 24: case 192: return 12;
    case 32: case 256: return 14;
    default: return 0;
  }
}

int AESEncryptCBC(ByteView key, ByteView iv, ByteView data, Bytes& out) {
  return AESCBC(key, iv, data, out, 1);
}

int AESDecryptCBC(ByteView key, ByteView iv, ByteView data, Bytes& out) {
  return AESCBC(key, iv, data, out, 0);
}

Bytes RandomBytes(size_t count) {
  Bytes out(count, '\0');
  if (count == 0) return out;
  if (count <= size_t(INT_MAX) && RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), int(count)) == 1)
    return out;
  // Without a working system generator an IV only needs to vary; it need not be secret.
  static std::mt19937_64 fallback{std::random_device{}()};
  for (char& c : out) c = char(fallback() & 0xFF);
  return out;
}

Bytes AESEncryptString(ByteView key, ByteView plain) {
  if (!CipherFor(key.size())) return {};
  size_t pad = kAESBlockSize - plain.size() % kAESBlockSize;
  Bytes padded;
  padded.reserve(plain.size() + pad);
  padded.append(plain);
  padded.append(pad, char(pad));
  Bytes iv = RandomBytes(kAESBlockSize);
  Bytes body;
  if (AESEncryptCBC(key, iv, padded, body) != kAESOk) return {};
  return iv + body;
}

Bytes AESDecryptString(ByteView key, ByteView data) {
  if (data.size() <= kAESBlockSize) return {};
  Bytes plain;
  if (AESDecryptCBC(key, data.substr(0, kAESBlockSize), data.substr(kAESBlockSize), plain) != kAESOk)
    return {};
  size_t n = uint8_t(plain.back());
  if (n < 1 || n > kAESBlockSize || n > plain.size()) return {};
  for (size_t i = plain.size() - n; i < plain.size(); ++i)
    if (uint8_t(plain[i]) != n) return {};
  plain.resize(plain.size() - n);
  return plain;
}

}  // namespace pagelume
