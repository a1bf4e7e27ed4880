#include "download/proxy_step.h"

#include <curl/curl.h>

#include <memory>

#include "config/logger.h"
#include "config/settings.h"
#include "proxy/rejected_credentials.h"
#include "proxy/tsrn_proxy_api.h"

namespace {

using TSRN::ProxyManager::ProxyInfo;
using TSRN::ProxyManager::UserData;

// The one scheme libcurl may use with the answer's credentials: the one the
// probe's proxy asked for them with. The transfer resolves the proxy's name
// anew, and a proxy that then asks for any other scheme gets no password.
// CURLAUTH_ONLY makes libcurl wait for the proxy's challenge rather than
// open with the scheme unasked. CURLAUTH_NONE for scheme 0 and for any value
// the proxy manager does not give: no credentials at all.
unsigned long proxyAuthFor(std::uint32_t authScheme) {
  switch (authScheme) {
    case TSRN::ProxyManager::kSchemeBasic:
      return CURLAUTH_BASIC | CURLAUTH_ONLY;
    case TSRN::ProxyManager::kSchemeDigest:
      return CURLAUTH_DIGEST | CURLAUTH_ONLY;
    case TSRN::ProxyManager::kSchemeNtlm:
      return CURLAUTH_NTLM | CURLAUTH_ONLY;
    default:
      return CURLAUTH_NONE;
  }
}

void logStatus(int status, bool silent, std::uint32_t authScheme) {
  Logger::instance().write(
      "tsrnGetProxyInfo return: " + std::to_string(status) + " with silent=" +
      (silent ? "1" : "0") + " schema=" + std::to_string(authScheme) + "\r\n");
}

}  // namespace

ProxyStepResult runProxyStep(void* curl, const std::string& url) {
  UserData request{};
  request.url = url.c_str();
  request.silent = Settings::suppressLoginDialog() ? 1 : 0;

  // The answer's strings, which the proxy manager allocates for us, are
  // released on every path; libcurl copies every option string as it is set.
  ProxyInfo info{};
  const std::unique_ptr<ProxyInfo, decltype(&tsrnProxyDeallocate)> owner(
      &info, &tsrnProxyDeallocate);
  const int status = tsrnGetProxyInfo(&request, &info);
  // Which proxy turned down whose password: once per proxy and user in a
  // run, whatever the lookups' ends.
  for (const std::string& line :
       TSRN::ProxyManager::RejectedCredentials::OfThisProcess()
           .TakeUnreported()) {
    Logger::instance().write(line + "\r\n");
  }

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

  const std::string address = std::string(info.server) + ":" + info.serverPort;
  CURL* handle = static_cast<CURL*>(curl);
  curl_easy_setopt(handle, CURLOPT_PROXYTYPE,
                   static_cast<long>(CURLPROXY_HTTP));
  curl_easy_setopt(handle, CURLOPT_PROXY, address.c_str());
  const unsigned long auth = proxyAuthFor(info.authScheme);
  if (auth != CURLAUTH_NONE) {
    curl_easy_setopt(handle, CURLOPT_PROXYAUTH, auth);
    curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME,
                     info.user != nullptr ? info.user : "");
    curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD,
                     info.password != nullptr ? info.password : "");
  }
  return ProxyStepResult::kProxySet;
}
