// The updater's own judgement of a certificate chain and of a server
// certificate's names, made after the system has said yes. The system
// supplies the facts (platform/certificates.h); what counts as trusted is
// decided here, the same on every platform.
#pragma once

#include <string>
#include <vector>

#include "platform/certificates.h"

enum class ChainVerdict {
  kTrusted,
  kSystemFailed,   // no chain could be built
  kPartialChain,   // the chain stops short of a self-issued root
  kBadSignature,   // a signature in the chain does not verify
  kNotCa,          // a certificate issues others without being a CA
  kUntrustedRoot,  // the root is not in a trusted Root store
  kWrongUsage,     // the end certificate is not for this use
  kOtherError,     // the system found another fault (expired, say)
};

enum class ChainUse {
  // An Authenticode signer: its time validity is the trust provider's
  // business (judged against the signature's timestamp).
  kCodeSigning,
  // A TLS server: the chain must be valid now.
  kServer,
};

// The one decision on a chain: trusted only when it ends in a self-issued
// root found in a trusted Root store, every certificate's signature verifies
// with its issuer's key (the root's with its own), every certificate between
// the end and the root is a CA, the end certificate's extended key usage
// allows the use, and the system's own trust status holds no fault beyond
// revocation (not checked) and, for code signing, time.
[[nodiscard]] ChainVerdict judgeChain(const platform::CertificateChain& chain,
                                      ChainUse use);

// True when the certificate's names cover `host` (as a URL holds it: an
// IPv6 address in brackets). An IP address matches only an iPAddress entry;
// a DNS name matches a dNSName entry, or a CN when the certificate has no
// alternative names. A wildcard is a whole leftmost label "*" followed by
// at least two labels, and stands for exactly one label.
[[nodiscard]] bool namesHost(const platform::CertificateNames& names,
                             const std::string& host);

// The 4 or 16 bytes of an IP address written as a URL's host ("127.0.0.1",
// "[::1]"); empty for anything else (a DNS name).
[[nodiscard]] std::string ipAddressBytes(const std::string& host);
