// The updater's own check of each HTTPS server's certificate, made before a
// request is sent on a connection, on top of libcurl's (which stay on).
#pragma once

#include <set>
#include <string>

#include "platform/certificates.h"

// True when the certificate the server authenticated `session` with chains
// up to a root the machine trusts (see judgeChain) and names `host` (see
// namesHost).
[[nodiscard]] bool serverCertificateTrusted(
    const std::string& host, const platform::TlsSession& session);

// Installed on a transfer's easy handle: before each request, the
// certificate of a connection made for it is checked against the request's
// host; a request on a reused connection must go to a host and port already
// checked on this transfer. A refusal stops the request unsent.
class ServerCertificateCheck {
 public:
  // `curl` is the transfer's CURL easy handle, which must outlive this.
  explicit ServerCertificateCheck(void* curl);
  ServerCertificateCheck(const ServerCertificateCheck&) = delete;
  ServerCertificateCheck& operator=(const ServerCertificateCheck&) = delete;

  // The transfer's libcurl code as the caller reports it: a transfer this
  // check stopped failed as libcurl's own verification fails
  // (CURLE_PEER_FAILED_VERIFICATION, 60).
  [[nodiscard]] int result(int performed) const;

 private:
  static int beforeRequest(void* self, char*, char*, int, int);
  bool allowRequest();

  void* curl_;
  bool newConnection_ = false;
  bool refused_ = false;
  std::set<std::string> checked_;  // "host:port" whose connection passed
};
