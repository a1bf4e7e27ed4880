#include "proxy/proxy_discovery.h"

#include <cstdint>
#include <optional>
#include <utility>

#include "platform/winhttp_proxy.h"
#include "proxy/proxy_log.h"

namespace TSRN::ProxyManager {

namespace {

// WINHTTP_AUTOPROXY_AUTO_DETECT | WINHTTP_AUTOPROXY_RUN_INPROCESS
constexpr std::uint32_t kAutoProxyAutoDetect = 0x00010001;
// WINHTTP_AUTOPROXY_CONFIG_URL
constexpr std::uint32_t kAutoProxyConfigUrl = 0x00000002;
// WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A
constexpr std::uint32_t kAutoDetectDhcpAndDns = 3;

const wchar_t* SourceName(bool autoDetect) {
  return autoDetect ? L"WPAD" : L"PAC URL";
}

void LogUnableToDetect(bool autoDetect) {
  LogMessage(LOG_LEVEL_INFO,
             L"Unable to automatically detect proxy information using %ls",
             SourceName(autoDetect));
}

// The documented fallback: the lookup goes on as if there were no script.
void LogNoAnswerInTime(bool autoDetect) {
  LogMessage(LOG_LEVEL_ERROR,
             L"No answer from %ls within %d seconds; going on without a "
             L"configuration script",
             SourceName(autoDetect),
             static_cast<int>(ProxyDiscovery::kScriptLimitMs / 1000));
}

void LogIfGiven(const wchar_t* line, const std::optional<std::wstring>& text) {
  if (text) LogMessage(LOG_LEVEL_DEBUG, line, text->c_str());
}

// Logs the bypass list (with `bypassLine`) and the proxy list WinHTTP gave,
// and takes the proxy list when there is one.
bool TakeProxyList(const std::optional<std::wstring>& proxy,
                   const std::optional<std::wstring>& bypass,
                   const wchar_t* bypassLine, std::wstring& proxyList) {
  LogIfGiven(bypassLine, bypass);
  LogIfGiven(L"Proxy server list:%ls", proxy);
  if (proxy) proxyList = *proxy;
  return proxy.has_value();
}

}  // namespace

ProxyDiscovery::ProxyDiscovery(std::wstring targetUrl,
                               const LookupDeadline* deadline)
    : targetUrl_(std::move(targetUrl)),
      deadline_(deadline != nullptr ? *deadline : ownDeadline_) {}

PMStatus ProxyDiscovery::DiscoverProxyConfiguration(
    std::wstring& proxyList) const {
  LogMessage(LOG_LEVEL_INFO, "Performing 'DiscoverProxyConfiguration' ...");
  LogMessage(LOG_LEVEL_INFO,
             "Discovering proxy settings from Internet Explorer ...");
  proxyList.clear();

  // The platform layer has already released WinHTTP's strings: whatever path
  // is taken below, nothing is left to free.
  platform::IeProxyConfig ie;
  if (!platform::getIeProxyConfigForCurrentUser(ie)) {
    ReportApiFailure(L"WinHttpGetIEProxyConfigForCurrentUser");
    return PM_STATUS_FAILURE;
  }
  if (ie.autoDetect) LogMessage(LOG_LEVEL_DEBUG, "AutoDetect:%d", 1);
  LogIfGiven(L"AutoConfig URL:%ls", ie.autoConfigUrl);
  LogIfGiven(L"Proxy server list:%ls", ie.proxy);
  LogIfGiven(L"Bypass proxy server list:%ls", ie.proxyBypass);

  if (ie.autoDetect) {
    if (ReadEnvironmentSwitch(L"TSRN_TSRN_WPAD_PROXY_CHECK", true)) {
      LogMessage(LOG_LEVEL_INFO,
                 "Discovering WDAP based proxy setting ... (this may take "
                 "several seconds)");
      if (AutoDetectProxyInfo(true, std::wstring(), proxyList)) {
        return PM_STATUS_SUCCESS;
      }
    } else {
      LogMessage(LOG_LEVEL_INFO,
                 "WDAP proxy check is disabled, skipping WPAD based proxy "
                 "discovery.");
    }
  }
  if (ie.autoConfigUrl &&
      AutoDetectProxyInfo(false, *ie.autoConfigUrl, proxyList)) {
    return PM_STATUS_SUCCESS;
  }
  if (ie.proxy) {
    // An empty list counts as present; parsing rejects it.
    proxyList = *ie.proxy;
    return PM_STATUS_SUCCESS;
  }

  LogMessage(LOG_LEVEL_INFO,
             "Unable to detect proxy information from IE settings. Trying to "
             "get proxy information using default proxy configuration ...");
  platform::DefaultProxyConfig defaults;
  if (!platform::getDefaultProxyConfiguration(defaults)) {
    ReportApiFailure(L"WinHttpGetDefaultProxyConfiguration");
    return PM_STATUS_FAILURE;
  }
  if (TakeProxyList(defaults.proxy, defaults.proxyBypass,
                    L"Bypass proxy list:%ls", proxyList)) {
    return PM_STATUS_SUCCESS;
  }
  LogMessage(LOG_LEVEL_INFO,
             "Unable to detect proxy information from default proxy "
             "configuration");
  LogMessage(LOG_LEVEL_INFO, "No proxy server configuration detected.");
  return PM_STATUS_NO_PROXY;
}

bool ProxyDiscovery::AutoDetectProxyInfo(bool autoDetect,
                                         const std::wstring& pacUrl,
                                         std::wstring& proxyList) const {
  LogMessage(LOG_LEVEL_INFO, "Performing 'AutoDetectProxyInfo' ...");
  if (!autoDetect && pacUrl.empty()) {
    LogMessage(LOG_LEVEL_ERROR,
               "Automatically detect proxy settings is not selected or PAC URL "
               "is empty!");
    return false;
  }
  proxyList.clear();

  platform::AutoProxyOptions options;
  if (autoDetect) {
    options.flags = kAutoProxyAutoDetect;
    options.autoDetectFlags = kAutoDetectDhcpAndDns;
  } else {
    options.flags = kAutoProxyConfigUrl;
    options.autoConfigUrl = pacUrl;
  }
  options.autoLogonIfChallenged = true;
  const std::uint64_t left = deadline_.RemainingMs();
  if (left == 0) {
    LogNoAnswerInTime(autoDetect);
    return false;
  }
  options.timeLimitMs =
      static_cast<std::uint32_t>(left < kScriptLimitMs ? left : kScriptLimitMs);

  platform::ProxyForUrl answer;
  switch (platform::getProxyForUrl(targetUrl_, options, answer)) {
    case platform::ProxyForUrlResult::timedOut:
      LogNoAnswerInTime(autoDetect);
      return false;
    case platform::ProxyForUrlResult::openFailed:
      ReportApiFailure(L"WinHttpOpen");
      return false;
    case platform::ProxyForUrlResult::getProxyForUrlFailed:
      ReportApiFailure(L"WinHttpGetProxyForUrl");
      LogUnableToDetect(autoDetect);
      return false;
    case platform::ProxyForUrlResult::ok:
      break;
  }
  if (TakeProxyList(answer.proxy, answer.proxyBypass,
                    L"Bypass proxy server list:%ls", proxyList)) {
    return true;
  }
  LogUnableToDetect(autoDetect);  // direct access for this URL
  return false;
}

}  // namespace TSRN::ProxyManager
