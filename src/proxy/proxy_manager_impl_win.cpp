#include "proxy/proxy_manager_impl_win.h"

#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "proxy/authenticating_proxy_probe.h"
#include "proxy/proxy_discovery.h"
#include "proxy/proxy_list_parser.h"
#include "proxy/proxy_log.h"

namespace TSRN::ProxyManager {

namespace {

// A malloc'd copy the caller releases with free (tsrnProxyDeallocate).
char* Duplicate(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

PMStatus Finish(PMStatus status) {
  LogMessage(LOG_LEVEL_INFO, "PMStatus:%d", static_cast<int>(status));
  return status;
}

bool IsUtf8Bmp(const char* text) {
  std::wstring ignored;
  return text == nullptr || tsdlm::utf8ToUtf16(text, ignored);
}

}  // namespace

PMStatus ProxyManagerImplWin::GetProxyInfo(const UserData& userData,
                                           ProxyInfo& proxyInfo) {
  LogMessage(LOG_LEVEL_INFO, "Performing 'GetProxyInfo' API ...");
  const PMStatus valid = ValidateInput(userData, proxyInfo);
  if (valid != PM_STATUS_SUCCESS) {
    LogMessage(LOG_LEVEL_ERROR, "Input data 'UserData.url' is NULL or empty!");
    return Finish(valid);
  }
  info_.url = userData.url;
  LogMessage(LOG_LEVEL_INFO, "Input URL:%s", info_.url.c_str());
  if (userData.user != nullptr) {
    info_.user = userData.user;
    LogMessage(LOG_LEVEL_INFO, "Input user:%s", info_.user.c_str());
  }
  if (userData.password != nullptr) {
    info_.password = userData.password;
    LogMessage(LOG_LEVEL_INFO, "Input password:****");
  }
  // Everything handed to Windows is UTF-16; text with no such form is
  // refused here rather than altered.
  std::wstring wideUrl;
  if (!tsdlm::utf8ToUtf16(info_.url, wideUrl) || !IsUtf8Bmp(userData.user) ||
      !IsUtf8Bmp(userData.password)) {
    LogMessage(LOG_LEVEL_ERROR,
               "Input data of 'UserData' is not valid UTF-8 text!");
    return Finish(PM_STATUS_INVALID_INPUT);
  }

  // One deadline for the whole lookup: automatic detection and the
  // configuration script (each given at most ProxyDiscovery::kScriptLimitMs
  // of it), then the probes.
  LookupDeadline deadline;
  std::wstring proxyList;
  const PMStatus discovered =
      ProxyDiscovery(wideUrl, &deadline).DiscoverProxyConfiguration(proxyList);
  if (discovered != PM_STATUS_SUCCESS) return Finish(discovered);

  std::vector<ProxyCandidate> candidates;
  if (!ProxyListParser(wideUrl).FetchServerInfo(proxyList, candidates)) {
    return Finish(PM_STATUS_FAILURE);
  }

  // A list of separators only gives no candidate: that is no answer, not a
  // success with the strings absent.
  PMStatus status = PM_STATUS_FAILURE;
  // The probes share the lookup's deadline, and a long list is cut, so
  // that dead proxies cannot stall every transfer for hours.
  for (std::size_t index = 0; index < candidates.size(); ++index) {
    if (index == kMaxCandidates) {
      LogMessage(LOG_LEVEL_INFO,
                 "Only the first %d proxy servers of the list are tried.",
                 static_cast<int>(kMaxCandidates));
      break;
    }
    if (deadline.Expired()) break;
    const ProxyCandidate& candidate = candidates[index];
    info_.server = candidate.server;
    info_.serverPort = candidate.serverPort;
    (void)tsdlm::utf8ToUtf16(info_.server + ":" + info_.serverPort,
                             proxyAddress_);
    LogMessage(LOG_LEVEL_DEBUG,
               "Discovered proxy server information [server=%s port=%s]",
               info_.server.c_str(), info_.serverPort.c_str());
    status =
        AuthenticatingProxyProbe(info_, authScheme_, proxyAddress_, deadline)
            .CheckAuthenticatingProxy(userData.silent != 0);
    if (status == PM_STATUS_SUCCESS) {
      if (!info_.user.empty()) {
        LogMessage(LOG_LEVEL_DEBUG,
                   "Authenticating proxy server detected with credentials "
                   "[user=%s password=****]",
                   info_.user.c_str());
      } else {
        LogMessage(LOG_LEVEL_DEBUG, "No authenticating proxy server detected.");
      }
      if (!FillAnswer(proxyInfo, true)) status = PM_STATUS_FAILURE;
      break;
    }
    if (status == PM_STATUS_SILENT_MODE_ERROR &&
        !FillAnswer(proxyInfo, false)) {
      status = PM_STATUS_FAILURE;
      break;
    }
  }
  if (status != PM_STATUS_SUCCESS && deadline.Expired()) {
    LogMessage(LOG_LEVEL_ERROR, "Proxy lookup did not end within %d seconds.",
               static_cast<int>(LookupDeadline::kLimitMs / 1000));
    status = PM_STATUS_FAILURE;
  }
  if (status != PM_STATUS_SUCCESS) {
    LogMessage(LOG_LEVEL_DEBUG, "No VALID proxy servers detected.");
  }
  Finish(status);
  if (status == PM_STATUS_SUCCESS) {
    LogMessage(LOG_LEVEL_INFO,
               "Output: [server=%s serverPort=%s user=%s password=**** "
               "authScheme=%lu]",
               proxyInfo.server, proxyInfo.serverPort, proxyInfo.user,
               static_cast<unsigned long>(proxyInfo.authScheme));
  }
  return status;
}

bool ProxyManagerImplWin::FillAnswer(ProxyInfo& proxyInfo,
                                     bool withCredentials) const {
  tsrnProxyDeallocate(&proxyInfo);
  proxyInfo.server = Duplicate(info_.server);
  proxyInfo.serverPort = Duplicate(info_.serverPort);
  if (withCredentials) {
    proxyInfo.user = Duplicate(info_.user);
    proxyInfo.password = Duplicate(info_.password);
  }
  proxyInfo.authScheme = authScheme_;
  if (proxyInfo.server == nullptr || proxyInfo.serverPort == nullptr ||
      (withCredentials &&
       (proxyInfo.user == nullptr || proxyInfo.password == nullptr))) {
    tsrnProxyDeallocate(&proxyInfo);
    return false;
  }
  return true;
}

}  // namespace TSRN::ProxyManager
