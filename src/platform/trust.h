// Authenticode checks of files: the trust provider's verdict on a file's
// embedded signature, and the publisher named by the certificate that signed
// it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The trust provider's state between a verification and its close call.
struct TrustState;

struct FileTrust {
  // WinVerifyTrust's result as a signed 32-bit value; 0 means valid.
  std::int32_t status = 0;
  // GetLastError read right after the verification.
  std::uint32_t lastError = 0;
  // Hand to closeFileTrust; null when there is nothing to release.
  TrustState* state = nullptr;
};

// WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2 on the embedded
// signature of the file: no window, no UI, no revocation checks, state action
// "verify". Every result must be passed to closeFileTrust.
FileTrust verifyFileTrust(const std::wstring& path);

// The same call again with state action "close", which releases the
// provider's state; its result is ignored. Clears `trust.state`.
void closeFileTrust(FileTrust& trust);

enum class SignerSubjectMatch {
  kNoEmbeddedSignature,  // the file holds no embedded PKCS #7 signed message
  kFound,                // the signer's certificate carries the subject text
  kNotFound,             // it does not, or the signer cannot be identified
};

// Looks at the certificate that signed the file (the first signer of its
// embedded signature, identified by issuer and serial number among the
// certificates the signature carries) and tells whether its subject name,
// rendered as a simple name string, contains `subject` as a case-insensitive
// substring (the rule of CERT_FIND_SUBJECT_STR_W). Other certificates carried
// in the signature never count. Every handle is released before returning.
SignerSubjectMatch findSignerSubject(const std::wstring& path,
                                     const std::wstring& subject);

}  // namespace platform
