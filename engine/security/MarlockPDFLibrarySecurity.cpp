#include "engine/security/MarlockPDFLibrarySecurity.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_set>
#include <vector>

#include "engine/objects/MarlockPDFLibraryText.h"
#include "engine/security/MarlockPDFLibraryCrypto.h"

namespace pagelume {

namespace {

// The padding string of revisions 2 to 4.
const Bytes kPasswordPad(
    "\x28\xBF\x4E\x5E\x4E\x75\x8A\x41\x64\x00\x4E\x56\xFF\xFA\x01\x08"
    "\x2E\x2E\x00\xB6\xD0\x68\x3E\x80\x2F\x0C\xA9\xFE\x64\x53\x69\x7A",
    32);

constexpr int kMD5KeyRounds = 50;      // extra MD5 rounds of revision 3 and later
constexpr int kRC4KeyRounds = 19;      // re-encryptions under key XOR i
constexpr size_t kSaltSize = 8;
constexpr size_t kHashSize = 32;       // U[0..32) and O[0..32) of revisions 5 and 6
constexpr size_t kU48Size = 48;
constexpr int kR6MinRounds = 64;
constexpr int kR6Repeats = 64;

Bytes Padded32(ByteView pw) {
  Bytes s(pw.substr(0, 32));
  s.append(kPasswordPad, 0, 32 - s.size());
  return s;
}

Bytes XorKey(ByteView key, int i) {
  Bytes k(key);
  for (char& c : k) c = char(uint8_t(c) ^ uint8_t(i));
  return k;
}

void AppendLE(Bytes& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(char((value >> (8 * i)) & 0xFF));
}

// `count` bytes of `s` from `at`, or zeros when `s` is too short to hold them.
Bytes SliceOrZeros(ByteView s, size_t at, size_t count) {
  if (s.size() < at + count) return Bytes(count, '\0');
  return Bytes(s.substr(at, count));
}

const TPDFDictionary* DictOf(const TPDFDictionary* d, ByteView key) { return d ? d->GetDictionary(key) : nullptr; }

bool NameIs(const TPDFDictionary* d, ByteView key, ByteView value) {
  const TPDFName* n = d ? d->GetName(key) : nullptr;
  return n && n->NameBytes == value;
}

bool IntEntry(const TPDFDictionary* d, ByteView key, int32_t& out) {
  const TPDFNumeric* n = d->GetNumber(key);
  if (!n) return false;
  out = n->AsInteger();
  return true;
}

Bytes StringEntry(const TPDFDictionary* d, ByteView key) {
  const TPDFString* s = d->GetString(key);
  return s ? s->BytesValue : Bytes();
}

// /P: any value kept modulo 2^32 as a signed 32-bit number, so 4294967292 is -4.
int32_t PermissionsOf(const TPDFDictionary* d) {
  const TPDFNumeric* n = d->GetNumber("P");
  if (!n || !std::isfinite(n->Amount)) return 0;
  double m = std::fmod(std::nearbyint(n->Amount), 4294967296.0);
  if (m < 0) m += 4294967296.0;
  return int32_t(uint32_t(m));
}

int32_t Saturate(int64_t v) {
  return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// A crypt filter's /Length is meant in bytes by ISO 32000 but written in bits by many
// writers; 1 to 16 can only be bytes, larger values only bits.
int32_t CryptFilterBits(int32_t v) { return v >= 1 && v <= 16 ? v * 8 : v; }

}  // namespace

// ---- /Encrypt ---------------------------------------------------------------------------

int ReadEncryptDictionary(const TPDFDictionary* trailer, TSecurityPath path, TPDFEncryption& params) {
  params = TPDFEncryption{};
  TPDFObject* entry = trailer ? trailer->Get("Encrypt", false) : nullptr;
  // A null value means the same as no entry.
  if (!entry || As<TPDFNull>(entry)) return kNotEncrypted;
  int32_t objectNumber = 0;
  if (const TPDFIndRef* ref = As<TPDFIndRef>(entry)) objectNumber = ref->RefNumber;
  const TPDFDictionary* dict = As<TPDFDictionary>(trailer->Get("Encrypt", true));
  if (!dict) return path == TSecurityPath::Inspection ? kNotEncrypted : kEncryptUnusable;
  int state = ReadEncryptEntries(dict, path, params);
  params.EncryptObjectNumber = objectNumber;
  return state;
}

int ReadEncryptEntries(const TPDFDictionary* d, TSecurityPath path, TPDFEncryption& params) {
  params = TPDFEncryption{};
  if (!d) return kNotEncrypted;
  const bool inspection = path == TSecurityPath::Inspection;
  int32_t v = 0, r = 0, length = 40;
  IntEntry(d, "V", v);
  IntEntry(d, "R", r);
  IntEntry(d, "Length", length);
  const int stateIfRead = inspection ? (v != 0 ? kEncrypted : kEncryptUnusable) : kEncryptUnusable;
  if (!NameIs(d, "Filter", "Standard")) return stateIfRead;

  TPDFEncryption p;
  p.V = v;
  p.R = r;
  p.O = StringEntry(d, "O");
  p.U = StringEntry(d, "U");
  p.P = PermissionsOf(d);
  if ((v == 1 || v == 2) && (r == 2 || r == 3)) {
    p.Cipher = TCipherKind::RC4;
    p.Length = (v == 2 || (v == 1 && r == 3)) ? length : 40;
  } else if ((v == 4 && r == 4) || (v == 5 && (r == 5 || r == 6))) {
    if (const TPDFBoolean* b = As<TPDFBoolean>(d->Get("EncryptMetadata", true))) p.EncryptMetadata = b->Truth;
    if (!NameIs(d, "StrF", "StdCF") || !NameIs(d, "StmF", "StdCF")) return stateIfRead;
    const TPDFDictionary* filter = DictOf(DictOf(d, "CF"), "StdCF");
    if (!filter) return stateIfRead;
    int32_t cfLength = 0;
    bool hasLength = IntEntry(filter, "Length", cfLength);
    if (v == 4 && NameIs(filter, "CFM", "AESV2")) {
      p.Cipher = TCipherKind::AES;
      p.Length = hasLength ? CryptFilterBits(cfLength) : 128;
    } else if (v == 4 && NameIs(filter, "CFM", "V2")) {
      p.Cipher = TCipherKind::RC4;
      p.Length = hasLength ? CryptFilterBits(cfLength) : 40;
    } else if (v == 5 && NameIs(filter, "CFM", "AESV3")) {
      p.Cipher = TCipherKind::AES;
      p.Aes256 = true;
      p.OE = StringEntry(d, "OE");
      p.UE = StringEntry(d, "UE");
      p.Perms = StringEntry(d, "Perms");
      if (inspection)
        p.Length = !hasLength || cfLength == 256 ? 32 : cfLength;
      else
        p.Length = hasLength ? Saturate(int64_t(cfLength) * 8) : 128;
    } else {
      return stateIfRead;
    }
  } else {
    return stateIfRead;
  }
  p.Recognised = true;
  params = std::move(p);
  return kEncrypted;
}

Bytes FileIdentifier(const TPDFDictionary* trailer) {
  const TPDFArray* id = trailer ? trailer->GetArray("ID") : nullptr;
  TPDFObject* first = id ? id->Item(0) : nullptr;
  if (TPDFIndRef* ref = As<TPDFIndRef>(first)) first = ref->Resolve();
  const TPDFString* s = As<TPDFString>(first);
  return s ? s->BytesValue : Bytes();
}

// ---- Revision 6 hash ----------------------------------------------------------------------

Bytes Revision6Hash(ByteView input, ByteView password, ByteView udata) {
  Bytes k = SHA256OfBytes(input);
  Bytes unit, k1, e;
  for (int round = 0;; ++round) {
    unit.assign(password);
    unit.append(k);
    unit.append(udata);
    k1.clear();
    k1.reserve(unit.size() * kR6Repeats);
    for (int i = 0; i < kR6Repeats; ++i) k1.append(unit);
    // 64 copies of any length are whole AES blocks, and K is at least 32 bytes.
    if (AESEncryptCBC(ByteView(k).substr(0, 16), ByteView(k).substr(16, 16), k1, e) != kAESOk) return Bytes(32, '\0');
    // The first 16 bytes as a big-endian number mod 3: 256 is 1 mod 3, so the byte sum.
    unsigned sum = 0;
    for (size_t i = 0; i < 16; ++i) sum += uint8_t(e[i]);
    switch (sum % 3) {
      case 0: k = SHA256OfBytes(e); break;
      case 1: k = SHA384OfBytes(e); break;
      default: k = SHA512OfBytes(e); break;
    }
    if (round >= kR6MinRounds - 1 && int(uint8_t(e.back())) <= round - 31) break;
  }
  k.resize(32);
  return k;
}

// ---- The handler -----------------------------------------------------------------------------

int TPDFSecurityHandler::ReadFromTrailer(const TPDFDictionary* trailer) {
  State = ReadEncryptDictionary(trailer, Path, Params);
  FileId = FileIdentifier(trailer);
  FileKey.clear();
  ObjectKeyBase.clear();
  return State;
}

int TPDFSecurityHandler::KeyClass() const {
  int k = Params.Length == 40 ? kKeyRC4_40 : (Params.Length > 40 && Params.Length < 128 ? kKeyRC4Mid : kKeyRC4_128);
  if (Params.Cipher == TCipherKind::AES) k = kKeyAES128;
  if (Params.Aes256) k = Params.R == 6 ? kKeyAES256R6 : kKeyAES256R5;
  return k;
}

size_t TPDFSecurityHandler::KeyLength() const {
  switch (KeyClass()) {
    case kKeyRC4_40: return 5;
    case kKeyRC4Mid: return size_t(Params.Length / 8);
    case kKeyAES256R5: case kKeyAES256R6: return 32;
    default: return 16;
  }
}

Bytes TPDFSecurityHandler::PasswordBytes(TextView password) const {
  if (IsAes256()) {
    Bytes utf8 = TextToUtf8(password);
    if (utf8.size() > kAES256PasswordMax) utf8.resize(kAES256PasswordMax);
    return utf8;
  }
  return TextToWindows1252(password);
}

bool TPDFSecurityHandler::CheckUserPassword(TextView password) {
  if (State == kNotEncrypted) return password.empty();
  if (State != kEncrypted || !Params.Recognised) return false;
  try {
    Bytes pw = PasswordBytes(password);
    return IsAes256() ? UserCheckAes256(pw) : UserCheckBytes(pw);
  } catch (const std::exception&) {
    return false;
  }
}

bool TPDFSecurityHandler::CheckOwnerPassword(TextView password) {
  if (State == kNotEncrypted) return password.empty();
  if (State != kEncrypted || !Params.Recognised) return false;
  try {
    Bytes pw = PasswordBytes(password);
    return IsAes256() ? OwnerCheckAes256(pw) : OwnerCheckBytes(pw);
  } catch (const std::exception&) {
    return false;
  }
}

Bytes TPDFSecurityHandler::ComputeFileKey(ByteView pw) const {
  const size_t n = KeyLength();
  Bytes input = Padded32(pw);
  input += Params.O;
  AppendLE(input, uint32_t(Params.P), 4);
  input += FileId;
  if (!Params.EncryptMetadata) input.append(4, '\xFF');
  Bytes d = MD5OfBytes(input);
  if (KeyClass() != kKeyRC4_40 || Params.R >= 3)
    for (int i = 0; i < kMD5KeyRounds; ++i) d = MD5OfBytes(ByteView(d).substr(0, n));
  d.resize(n);
  return d;
}

bool TPDFSecurityHandler::UserCheckBytes(ByteView pw) {
  FileKey = ComputeFileKey(pw);
  if (KeyClass() == kKeyRC4_40 && Params.R <= 2) return RC4Transform(FileKey, kPasswordPad) == Params.U;
  Bytes u = RC4Transform(FileKey, MD5OfBytes(kPasswordPad + FileId));
  for (int i = 1; i <= kRC4KeyRounds; ++i) u = RC4Transform(XorKey(FileKey, i), u);
  return Params.U.size() >= 16 && ByteView(Params.U).substr(0, 16) == u;
}

bool TPDFSecurityHandler::OwnerCheckBytes(ByteView pw) {
  const size_t n = KeyLength();
  const bool rounds = KeyClass() != kKeyRC4_40 || Params.R >= 3;
  const Bytes first = MD5OfBytes(Padded32(pw));
  // Only the first 32 bytes of the recovered user password count, and RC4 works byte by
  // byte, so a longer /O need not be transformed past them.
  const ByteView o = ByteView(Params.O).substr(0, 32);
  auto attempt = [&](size_t hashed) {
    Bytes d = first;
    if (rounds)
      for (int i = 0; i < kMD5KeyRounds; ++i) d = MD5OfBytes(ByteView(d).substr(0, hashed));
    d.resize(n);
    Bytes candidate;
    if (Params.R <= 2) {
      candidate = RC4Transform(d, o);
    } else {
      candidate.assign(o);
      for (int i = kRC4KeyRounds; i >= 0; --i) candidate = RC4Transform(XorKey(d, i), candidate);
    }
    return UserCheckBytes(candidate);
  };
  if (attempt(16)) return true;
  // Several writers hash only the n key bytes in the extra rounds of a shorter key.
  return rounds && n < 16 && attempt(n);
}

Bytes TPDFSecurityHandler::Aes256Hash(ByteView input, ByteView pw, ByteView udata) const {
  if (KeyClass() != kKeyAES256R6) return SHA256OfBytes(input);
  // A revision-6 hash takes about a millisecond and opening a file asks for the same
  // ones several times (empty password, then the given one, checked and then set).
  Bytes key;
  for (ByteView part : {input, pw, udata}) {
    key += IntToText(int64_t(part.size()));
    key += ':';
    key.append(part);
  }
  for (const auto& [known, hash] : hashMemo_)
    if (known == key) return hash;
  Bytes hash = Revision6Hash(input, pw, udata);
  if (hashMemo_.size() >= kHashMemoSize) hashMemo_.erase(hashMemo_.begin());
  hashMemo_.emplace_back(std::move(key), hash);
  return hash;
}

bool TPDFSecurityHandler::UserCheckAes256(ByteView pw) {
  const Bytes& u = Params.U;
  if (u.size() < kHashSize || Params.UE.size() < 32) return false;
  Bytes input(pw);
  input += SliceOrZeros(u, 32, kSaltSize);
  if (Aes256Hash(input, pw, {}) != ByteView(u).substr(0, kHashSize)) return false;
  input.assign(pw);
  input += SliceOrZeros(u, 40, kSaltSize);
  Bytes key;
  if (AESDecryptCBC(Aes256Hash(input, pw, {}), Bytes(16, '\0'), ByteView(Params.UE).substr(0, 32), key) != kAESOk)
    return false;
  FileKey = std::move(key);
  return true;
}

bool TPDFSecurityHandler::OwnerCheckAes256(ByteView pw) {
  const Bytes& o = Params.O;
  if (o.size() < kHashSize || Params.OE.size() < 32) return false;
  const Bytes u48 = SliceOrZeros(Params.U, 0, kU48Size);
  const ByteView udata = ByteView(Params.U).substr(0, kU48Size);
  Bytes input(pw);
  input += SliceOrZeros(o, 32, kSaltSize);
  input += u48;
  if (Aes256Hash(input, pw, udata) != ByteView(o).substr(0, kHashSize)) return false;
  input.assign(pw);
  input += SliceOrZeros(o, 40, kSaltSize);
  input += u48;
  Bytes key;
  if (AESDecryptCBC(Aes256Hash(input, pw, udata), Bytes(16, '\0'), ByteView(Params.OE).substr(0, 32), key) != kAESOk)
    return false;
  FileKey = std::move(key);
  return true;
}

Bytes TPDFSecurityHandler::ObjectKey(int32_t objectNumber, int32_t generation) const {
  if (Path == TSecurityPath::Document && Params.EncryptObjectNumber != 0 &&
      objectNumber == Params.EncryptObjectNumber)
    return {};
  const int keyClass = KeyClass();
  if (keyClass == kKeyAES256R5 || keyClass == kKeyAES256R6) return ObjectKeyBase;
  Bytes input = ObjectKeyBase;
  AppendLE(input, uint32_t(objectNumber), 3);
  AppendLE(input, uint32_t(generation), 2);
  if (Params.Cipher == TCipherKind::AES) input += "sAlT";
  Bytes d = MD5OfBytes(input);
  d.resize(std::min<size_t>(ObjectKeyBase.size() + 5, 16));
  return d;
}

void TPDFSecurityHandler::DecryptObject(ByteView key, TPDFObject* object) const { Walk(key, object, TWalk::Decrypt); }

void TPDFSecurityHandler::EncryptObject(ByteView key, TPDFObject* object) const { Walk(key, object, TWalk::Encrypt); }

void TPDFSecurityHandler::ResealObject(ByteView key, TPDFObject* object) const {
  if (Params.Cipher == TCipherKind::AES) Walk(key, object, TWalk::Reseal);
}

bool TPDFSecurityHandler::DecryptsCleanly(ByteView key, ByteView data) const {
  if (Params.Cipher != TCipherKind::AES) return true;
  if (data.size() < 2 * kAESBlockSize || data.size() % kAESBlockSize != 0) return false;
  // CBC: the last block deciphers on its own, with the block before it as IV.
  Bytes last;
  const size_t at = data.size() - kAESBlockSize;
  if (AESDecryptCBC(key, data.substr(at - kAESBlockSize, kAESBlockSize), data.substr(at), last) != kAESOk ||
      last.size() != kAESBlockSize)
    return false;
  const size_t n = uint8_t(last.back());
  if (n < 1 || n > kAESBlockSize) return false;
  for (size_t i = kAESBlockSize - n; i < kAESBlockSize; ++i)
    if (uint8_t(last[i]) != n) return false;
  return true;
}

void TPDFSecurityHandler::Walk(ByteView key, TPDFObject* root, TWalk mode) const {
  if (key.empty() || !root) return;
  const bool aes = Params.Cipher == TCipherKind::AES;
  const bool decrypt = mode == TWalk::Decrypt;
  // Reseal: null when the bytes stay as they are.
  auto transform = [&](ByteView data) -> std::optional<Bytes> {
    if (mode == TWalk::Reseal) {
      if (DecryptsCleanly(key, data)) return std::nullopt;
      return AESEncryptString(key, AESDecryptString(key, data));
    }
    if (!aes) return RC4Transform(key, data);
    return decrypt ? AESDecryptString(key, data) : AESEncryptString(key, data);
  };
  // Each object once: a string shared by two containers must not be transformed twice,
  // and a container that (wrongly) holds itself must not loop.
  std::unordered_set<const TPDFObject*> seen;
  struct TItem {
    TPDFObject* obj;
    int depth;
  };
  std::vector<TItem> pending{{root, 0}};
  while (!pending.empty()) {
    TItem item = pending.back();
    pending.pop_back();
    TPDFObject* obj = item.obj;
    if (!obj || item.depth > kParserMaxDepth || !seen.insert(obj).second) continue;
    if (TPDFString* s = As<TPDFString>(obj)) {
      std::optional<Bytes> data = transform(s->BytesValue);
      if (!data) continue;
      const bool modified = s->Modified;
      s->SetBytes(std::move(*data));
      if (decrypt) s->Modified = modified;
    } else if (TPDFArray* a = As<TPDFArray>(obj)) {
      for (auto it = a->Items.rbegin(); it != a->Items.rend(); ++it) pending.push_back({*it, item.depth + 1});
    } else if (TPDFDictionary* d = As<TPDFDictionary>(obj)) {
      for (auto it = d->Pairs.rbegin(); it != d->Pairs.rend(); ++it) pending.push_back({it->Value, item.depth + 1});
    } else if (TPDFStream* st = As<TPDFStream>(obj)) {
      const Bytes type = st->StreamDict ? st->StreamDict->TypeName() : Bytes();
      if (type == "XRef" || (type == "Metadata" && !Params.EncryptMetadata)) continue;
      if (std::optional<Bytes> data = transform(st->Raw())) {
        if (decrypt) {
          // The stored /Length keeps its value flag: decryption is not an edit.
          st->RawData.Assign(std::move(*data));
          if (TPDFNumeric* len = st->StreamDict ? As<TPDFNumeric>(st->StreamDict->Get("Length", false)) : nullptr)
            len->Amount = double(st->RawData.size());
        } else {
          st->SetRaw(std::move(*data));
        }
      }
      if (st->StreamDict) pending.push_back({st->StreamDict, item.depth + 1});
    }
  }
}

}  // namespace pagelume
