// What the system's certificate machinery says of a certificate chain: the
// facts the updater's own trust decisions are made from (see
// trust/certificate_chain.h). The system builds the chain from its own
// stores; the decision itself is portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One certificate of a chain as the system built it.
struct ChainElement {
  // The certificate names the next element as its issuer and its signature
  // verifies with that element's public key; for the last element, with its
  // own key.
  bool signatureValid = false;
  // Its basic constraints extension names it a certificate authority.
  bool isCa = false;
};

struct CertificateChain {
  // False when the system could not build a chain at all.
  bool built = false;
  // The chain context's own trust status (CERT_TRUST_STATUS dwErrorStatus),
  // whatever a policy would make of it.
  std::uint32_t errorStatus = 0;
  // The end certificate first, the last one the system found last.
  std::vector<ChainElement> elements;
  // The last element's issuer is its own subject.
  bool rootSelfIssued = false;
  // The last element, byte for byte, is in one of the machine's or the
  // user's trusted Root stores.
  bool rootInStore = false;
  // The end certificate's extended key usage allows the use the chain was
  // built for (code signing, or a TLS server), or it names no usage.
  bool usageAllowed = false;
};

// The names a server certificate is valid for.
struct CertificateNames {
  // The certificate has a subject alternative name extension; then its
  // subject's common names do not name a host.
  bool hasAltNames = false;
  std::vector<std::string> dnsNames;     // dNSName entries
  std::vector<std::string> ipAddresses;  // iPAddress entries: 4 or 16 bytes
  std::vector<std::string> commonNames;  // the subject's CN values
};

struct ServerCertificate {
  CertificateChain chain;
  CertificateNames names;
};

// A connection's TLS session as libcurl hands it out (CURLINFO_TLS_SSL_PTR).
struct TlsSession {
  bool schannel = false;      // the session is Schannel's
  void* internals = nullptr;  // for Schannel, its CtxtHandle
};

// The certificate the server authenticated the session with, as the TLS
// library holds it: its chain built with the machine's stores (the other
// certificates the server sent offered as intermediates), and its names. A
// session whose certificate cannot be had gives a chain that is not built.
ServerCertificate examineServerCertificate(const TlsSession& session);

}  // namespace platform
