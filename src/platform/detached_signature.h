// A detached PKCS #7 signature (CMS SignedData without its content) over a
// given sequence of bytes, as the system's message functions read it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/certificates.h"
#include "platform/trust.h"

namespace platform {

struct DetachedSignature {
  // The message decodes as signed data with exactly one signer, and that
  // signer's signature verifies over `content` with the key of the
  // certificate its signer info names.
  bool verified = false;
  // The system's error when not (GetLastError), 0 otherwise.
  std::uint32_t error = 0;
  // The certificate the signer info names, from the certificates the
  // message carries; not known when the message names none it carries.
  SignerIdentity signer;
  // That certificate's chain for code signing, built with the message's
  // certificates as the only intermediates offered; not built without a
  // signer.
  CertificateChain signerChain;
};

// Verifies the DER `signature` over `content`. Never throws.
DetachedSignature verifyDetachedSignature(const std::string& signature,
                                          const std::string& content);

}  // namespace platform
