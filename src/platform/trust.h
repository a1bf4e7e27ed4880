// Authenticode checks of files: the trust provider's verdict on a file's
// embedded signature, and what it tells of the certificate that signed it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/certificates.h"
#include "platform/files.h"

namespace platform {

// The certificate the trust provider took as the signer of a file.
struct SignerIdentity {
  // False when the provider named no signer certificate (no signature, or
  // one it could not read).
  bool known = false;
  // The values of every organisation (O) and common name (CN) attribute of
  // the signer certificate's subject, in the order the name holds them.
  std::vector<std::wstring> organisations;
  std::vector<std::wstring> commonNames;
  // How many certificates carried in the signature have the signer's issuer
  // and serial number. One for an honest signature; more means a forged
  // twin travels with the signer's certificate.
  int certificatesWithSignerId = 0;
};

struct FileTrust {
  // WinVerifyTrust's result as a signed 32-bit value; 0 means valid.
  std::int32_t status = 0;
  // GetLastError read right after the verification.
  std::uint32_t lastError = 0;
  // Read from the provider's own state for this verification, before the
  // state is closed.
  SignerIdentity signer;
  // The signer certificate's chain, built with the certificates the
  // signature carries as intermediates; not built when there is no signer.
  CertificateChain signerChain;
};

// WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2 on the embedded
// signature of the held file (through its handle; `path` names it to the
// provider): no window, no UI, no revocation checks. The provider's state is
// read for the signer and closed again before returning.
FileTrust verifyFileTrust(const std::wstring& path, HeldFile& file);

}  // namespace platform
