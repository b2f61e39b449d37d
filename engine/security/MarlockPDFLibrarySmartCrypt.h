// The inspection path's security handler: logs in once with a password and answers
// the security questions of the property display.
#pragma once

#include <optional>

#include "engine/security/MarlockPDFLibrarySecurity.h"

namespace pagelume {

// Answers of SecurityQuery.
inline constexpr int kQueryCount = 14;  // questions 0 to 13

class TSmartPDFCrypt : public TPDFSecurityHandler {
 public:
  TSmartPDFCrypt(const TSmartPDFEncryption& params, int state, Bytes fileId)
      : TPDFSecurityHandler(TSecurityPath::Inspection, params, state, std::move(fileId)) {}

  // The user check, or else the owner check; on success the password is accepted and
  // its file key becomes the object-key base. On failure nothing is accepted and the
  // object-key base stays as it was.
  void Authenticate(TextView password);

  // Questions 0 to 13 about encryption and permissions; see the .cpp for the table.
  // Questions 1, 2, 11 and 12 run password checks and so change FileKey (never the
  // object-key base).
  int SecurityQuery(int type);

  // Encryption kind code: 7 40-bit RC4, 8 128-bit RC4, 12 AES-128, 13 AES-256 R5,
  // 15 AES-256 R6, 14 RC4 of 41 to 127 bits.
  int EncryptionKind() const;

  std::optional<Text> AcceptedPassword;
};

}  // namespace pagelume
