#include "engine/security/MarlockPDFLibrarySmartCrypt.h"

namespace pagelume {

namespace {

// Permission bits of /P, numbered as in ISO 32000.
constexpr int32_t kBitPrint = 1 << 2;         // bit 3
constexpr int32_t kBitModify = 1 << 3;        // bit 4
constexpr int32_t kBitCopy = 1 << 4;          // bit 5
constexpr int32_t kBitAnnotate = 1 << 5;      // bit 6
constexpr int32_t kBitFillForms = 1 << 8;     // bit 9
constexpr int32_t kBitAccessibility = 1 << 9; // bit 10
constexpr int32_t kBitAssemble = 1 << 10;     // bit 11
constexpr int32_t kBitPrintHigh = 1 << 11;    // bit 12

// Answers of an unencrypted file to questions 0 to 13.
constexpr int kPlainAnswers[kQueryCount] = {0, 2, 2, 4, 6, 6, 6, 6, 6, 6, 11, 11, 11, 11};
constexpr int kUnusableAnswer = 9;
constexpr int kOtherAnswer = 11;

// Older revisions hash at most 32 password bytes; the questions compare that much.
constexpr size_t kQueryPasswordMax = 32;

}  // namespace

void TSmartPDFCrypt::Authenticate(TextView password) {
  if (CheckUserPassword(password) || CheckOwnerPassword(password)) {
    AcceptedPassword = Text(password);
    ObjectKeyBase = FileKey;
  } else {
    AcceptedPassword.reset();
  }
}

int TSmartPDFCrypt::EncryptionKind() const {
  switch (KeyClass()) {
    case kKeyRC4_40: return 7;
    case kKeyRC4_128: return 8;
    case kKeyAES128: return 12;
    case kKeyAES256R5: return 13;
    case kKeyAES256R6: return 15;
    default: return 14;
  }
}

int TSmartPDFCrypt::SecurityQuery(int type) {
  if (State == kEncryptUnusable) return kUnusableAnswer;
  if (type < 0 || type >= kQueryCount) return kOtherAnswer;
  if (State != kEncrypted) return kPlainAnswers[type];

  // AES-256 passwords count up to 127 bytes, so they are not cut here.
  Text accepted = AcceptedPassword.value_or(Text());
  if (!IsAes256() && accepted.size() > kQueryPasswordMax) accepted.resize(kQueryPasswordMax);
  const int32_t p = Params.P;
  const int keyClass = KeyClass();
  auto bit = [&](int32_t mask, int yes, int no) { return (p & mask) ? yes : no; };
  // Bits 9 to 11 exist from revision 3 on, AES-256 and mid-length RC4 included;
  // answering "not allowed" for those whatever /P says would misreport the file.
  auto revision3Bit = [&](int32_t mask) { return Params.R >= 3 && (p & mask) ? 6 : 5; };
  switch (type) {
    case 0: return 1;
    case 1: return CheckUserPassword(u"") ? 2 : 3;
    case 2:
      return CheckOwnerPassword(u"") || (AcceptedPassword && CheckOwnerPassword(accepted)) ? 2 : 3;
    case 3:
      if (!(p & kBitPrint)) return 5;
      return keyClass == kKeyRC4_40 || (p & kBitPrintHigh) ? 4 : 10;
    case 4: return bit(kBitModify, 6, 5);
    case 5: return bit(kBitCopy, 6, 5);
    case 6: return bit(kBitAnnotate, 6, 5);
    case 7: return revision3Bit(kBitFillForms);
    case 8: return revision3Bit(kBitAccessibility);
    case 9: return revision3Bit(kBitAssemble);
    case 10: return EncryptionKind();
    case 11: return CheckUserPassword(accepted) ? 3 : 2;
    case 12: return CheckOwnerPassword(accepted) ? 3 : 2;
    case 13: return keyClass == kKeyRC4Mid ? Params.Length : 0;
  }
  return kOtherAnswer;
}

}  // namespace pagelume
