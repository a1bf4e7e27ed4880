#include "download/server_certificate.h"

#include <curl/curl.h>

#include <cstddef>
#include <memory>

#include "platform/certificates.h"
#include "trust/certificate_chain.h"

namespace {

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

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

std::string derFromPem(const std::string& text) {
  static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
  static const std::string kEnd = "-----END CERTIFICATE-----";
  const std::size_t begin = text.find(kBegin);
  if (begin == std::string::npos) return std::string();
  const std::size_t end = text.find(kEnd, begin);
  if (end == std::string::npos) return std::string();
  std::string der;
  unsigned int bits = 0;
  int count = 0;
  bool padded = false;
  for (std::size_t i = begin + kBegin.size(); i < end; ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    if (c == '=') {
      padded = true;
      continue;
    }
    const int value = base64Value(c);
    if (value < 0 || padded) return std::string();
    bits = (bits << 6) | static_cast<unsigned int>(value);
    if (++count == 4) {
      der += static_cast<char>((bits >> 16) & 0xff);
      der += static_cast<char>((bits >> 8) & 0xff);
      der += static_cast<char>(bits & 0xff);
      bits = 0;
      count = 0;
    }
  }
  if (count == 1) return std::string();
  if (count == 2) der += static_cast<char>((bits >> 4) & 0xff);
  if (count == 3) {
    der += static_cast<char>((bits >> 10) & 0xff);
    der += static_cast<char>((bits >> 2) & 0xff);
  }
  return der;
}

bool serverCertificateTrusted(const std::string& host,
                              const std::vector<std::string>& der) {
  if (der.empty() || der.front().empty()) return false;
  const platform::ServerCertificate server = platform::examineServerCertificate(der);
  return judgeChain(server.chain, ChainUse::kServer) == ChainVerdict::kTrusted &&
         namesHost(server.names, host);
}

ServerCertificateCheck::ServerCertificateCheck(void* curl) : curl_(curl) {
  CURL* handle = static_cast<CURL*>(curl);
  curl_easy_setopt(handle, CURLOPT_CERTINFO, 1L);
  // Every new connection (to a proxy or the server) opens a socket first.
  using SocketFunction = int (*)(void*, curl_socket_t, curlsocktype);
  const SocketFunction onNewSocket = [](void* self, curl_socket_t, curlsocktype) {
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
  if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK ||
      effective == nullptr) {
    return false;
  }
  const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, effective, 0) != CURLUE_OK) {
    return false;
  }
  const CurlText scheme = urlPart(url.get(), CURLUPART_SCHEME, 0);
  const CurlText host = urlPart(url.get(), CURLUPART_HOST, 0);
  const CurlText port = urlPart(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || !host || !port) return false;
  if (std::string(scheme.get()) != "https") return true;
  const std::string where = std::string(host.get()) + ":" + port.get();
  if (!newConnection) return checked_.count(where) != 0;

  curl_certinfo* info = nullptr;
  if (curl_easy_getinfo(handle, CURLINFO_CERTINFO, &info) != CURLE_OK ||
      info == nullptr || info->num_of_certs <= 0) {
    return false;
  }
  std::vector<std::string> der;
  for (int i = 0; i < info->num_of_certs; ++i) {
    for (curl_slist* field = info->certinfo[i]; field != nullptr; field = field->next) {
      const std::string text = field->data;
      if (text.compare(0, 5, "Cert:") == 0) der.push_back(derFromPem(text));
    }
  }
  if (!serverCertificateTrusted(host.get(), der)) return false;
  checked_.insert(where);
  return true;
}
