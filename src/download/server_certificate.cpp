#include "download/server_certificate.h"

#include <curl/curl.h>

#include <cstddef>
#include <memory>

#include "platform/certificates.h"
#include "trust/certificate_chain.h"

namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, TextDeleter>;

CurlText urlPart(CURLU* url, CURLUPart part, unsigned int flags) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK) return CurlText();
  return CurlText(text);
}

}  // namespace

bool serverCertificateTrusted(const std::string& host,
                              const platform::TlsSession& session) {
  const platform::ServerCertificate server =
      platform::examineServerCertificate(session);
  return judgeChain(server.chain, ChainUse::kServer) ==
             ChainVerdict::kTrusted &&
         namesHost(server.names, host);
}

ServerCertificateCheck::ServerCertificateCheck(void* curl) : curl_(curl) {
  CURL* handle = static_cast<CURL*>(curl);
  // Every new connection (to a proxy or the server) opens a socket first.
  using SocketFunction = int (*)(void*, curl_socket_t, curlsocktype);
  const SocketFunction onNewSocket = [](void* self, curl_socket_t,
                                        curlsocktype) {
    static_cast<ServerCertificateCheck*>(self)->newConnection_ = true;
    return static_cast<int>(CURL_SOCKOPT_OK);
  };
  curl_easy_setopt(handle, CURLOPT_SOCKOPTFUNCTION, onNewSocket);
  curl_easy_setopt(handle, CURLOPT_SOCKOPTDATA, this);
  using PrereqFunction = int (*)(void*, char*, char*, int, int);
  const PrereqFunction prereq = &ServerCertificateCheck::beforeRequest;
  curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, prereq);
  curl_easy_setopt(handle, CURLOPT_PREREQDATA, this);
}

int ServerCertificateCheck::result(int performed) const {
  return refused_ && performed == CURLE_ABORTED_BY_CALLBACK
             ? static_cast<int>(CURLE_PEER_FAILED_VERIFICATION)
             : performed;
}

int ServerCertificateCheck::beforeRequest(void* self, char*, char*, int, int) {
  auto& check = *static_cast<ServerCertificateCheck*>(self);
  if (check.allowRequest()) return CURL_PREREQFUNC_OK;
  check.refused_ = true;
  return CURL_PREREQFUNC_ABORT;
}

bool ServerCertificateCheck::allowRequest() {
  CURL* handle = static_cast<CURL*>(curl_);
  const bool newConnection = newConnection_;
  newConnection_ = false;
  char* effective = nullptr;
  if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) !=
          CURLE_OK ||
      effective == nullptr) {
    return false;
  }
  const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  if (!url ||
      curl_url_set(url.get(), CURLUPART_URL, effective, 0) != CURLUE_OK) {
    return false;
  }
  const CurlText scheme = urlPart(url.get(), CURLUPART_SCHEME, 0);
  const CurlText host = urlPart(url.get(), CURLUPART_HOST, 0);
  const CurlText port = urlPart(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || !host || !port) return false;
  if (std::string(scheme.get()) != "https") return true;
  const std::string where = std::string(host.get()) + ":" + port.get();
  if (!newConnection) return checked_.count(where) != 0;

  // The session of the connection just made: the certificate is the one
  // the server authenticated it with, not one of a list it sent.
  curl_tlssessioninfo* tls = nullptr;
  if (curl_easy_getinfo(handle, CURLINFO_TLS_SSL_PTR, &tls) != CURLE_OK ||
      tls == nullptr) {
    return false;
  }
  platform::TlsSession session;
  session.schannel = tls->backend == CURLSSLBACKEND_SCHANNEL;
  session.internals = tls->internals;
  if (!serverCertificateTrusted(host.get(), session)) return false;
  checked_.insert(where);
  return true;
}
