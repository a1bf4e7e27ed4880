#include "download/proxy_step.h"

#include <curl/curl.h>

#include "config/logger.h"
#include "config/settings.h"
#include "proxy/tsrn_proxy_api.h"

namespace {

using TSRN::ProxyManager::ProxyInfo;
using TSRN::ProxyManager::UserData;

// Every scheme libcurl offers except Negotiate and the Internet Explorer
// flavour of Digest: Basic, Digest and NTLM remain. 0xFFFFFFEB, -21 as a
// signed 32-bit value.
constexpr unsigned long kProxyAuthMask =
    CURLAUTH_ANY & ~CURLAUTH_NEGOTIATE & ~CURLAUTH_DIGEST_IE;
static_assert(static_cast<unsigned int>(kProxyAuthMask) == 0xFFFFFFEBu,
              "the proxy authentication mask");

// The schemes libcurl may use with the answer's credentials: none weaker
// than the one the probe saw them work with (ProxyInfo::authScheme: 1 Basic,
// 2 Digest, 4 NTLM or Negotiate). The transfer resolves the proxy's name
// anew; a proxy that then offers only a weaker scheme gets no password.
unsigned long proxyAuthMask(std::uint32_t authScheme) {
  // A single scheme alone would make libcurl open with it unasked; with
  // CURLAUTH_ONLY it waits for the proxy's challenge, as with several.
  if (authScheme >= 4) return CURLAUTH_NTLM | CURLAUTH_ONLY;
  if (authScheme >= 2) return CURLAUTH_DIGEST | CURLAUTH_NTLM;
  return kProxyAuthMask;
}

// Owns the answer's strings: the proxy manager allocates them for us, and
// libcurl copies every option string as it is set.
class ProxyAnswer {
 public:
  ProxyAnswer() = default;
  ~ProxyAnswer() { tsrnProxyDeallocate(&info_); }
  ProxyAnswer(const ProxyAnswer&) = delete;
  ProxyAnswer& operator=(const ProxyAnswer&) = delete;

  ProxyInfo& info() { return info_; }

 private:
  ProxyInfo info_{};
};

void logStatus(int status, bool silent, std::uint32_t authScheme) {
  Logger::instance().write("tsrnGetProxyInfo return: " + std::to_string(status) +
                           " with silent=" + (silent ? "1" : "0") +
                           " schema=" + std::to_string(authScheme) + "\r\n");
}

}  // namespace

ProxyStepResult runProxyStep(void* curl, const std::string& url) {
  UserData request{};
  request.url = url.c_str();
  request.user = nullptr;
  request.password = nullptr;
  request.silent = Settings::suppressLoginDialog() ? 1 : 0;

  ProxyAnswer answer;
  ProxyInfo& info = answer.info();
  const int status = tsrnGetProxyInfo(&request, &info);

  if (status == TSRN::ProxyManager::PM_STATUS_NO_PROXY) {
    return ProxyStepResult::kDirect;
  }
  if (status == TSRN::ProxyManager::PM_STATUS_SILENT_MODE_ERROR) {
    // No line end: the flow's entry for the failed download follows on the
    // same line.
    Logger::instance().write("Tsrn proxy manager setup is in silent mode ");
    return ProxyStepResult::kFailed;
  }
  // A success without a proxy address cannot be used; it is reported like
  // any other status rather than sending the transfer direct.
  if (status != TSRN::ProxyManager::PM_STATUS_SUCCESS ||
      info.server == nullptr || info.serverPort == nullptr) {
    logStatus(status, request.silent != 0, info.authScheme);
    return ProxyStepResult::kFailed;
  }

  const std::string address =
      std::string(info.server) + ":" + info.serverPort;
  CURL* handle = static_cast<CURL*>(curl);
  curl_easy_setopt(handle, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
  curl_easy_setopt(handle, CURLOPT_PROXY, address.c_str());
  curl_easy_setopt(handle, CURLOPT_PROXYAUTH,
                   static_cast<long>(proxyAuthMask(info.authScheme)));
  curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME,
                   info.user != nullptr ? info.user : "");
  curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD,
                   info.password != nullptr ? info.password : "");
  return ProxyStepResult::kProxySet;
}
