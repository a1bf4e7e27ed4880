// Finds the proxy list that applies to the current user and a target URL:
// the Internet Explorer settings (WPAD, a configuration script, a fixed list)
// and then the WinHTTP default configuration, stopping at the first source
// that yields a list.
#pragma once

#include <string>

#include "proxy/tsrn_proxy_api.h"

namespace TSRN::ProxyManager {

class ProxyDiscovery {
 public:
  // `targetUrl` is the request URL, already converted to UTF-16.
  explicit ProxyDiscovery(std::wstring targetUrl);

  // 0 with `proxyList` set; 1 when no source yields a list; 2 when reading
  // the Internet Explorer settings or the WinHTTP default fails. WPAD is
  // skipped when TSRN_TSRN_WPAD_PROXY_CHECK says FALSE.
  [[nodiscard]] PMStatus DiscoverProxyConfiguration(
      std::wstring& proxyList) const;

  // Asks WinHTTP for the target's proxy by WPAD (`autoDetect`) or else by the
  // script at `pacUrl`. True with a list; failures are logged, never fatal.
  [[nodiscard]] bool AutoDetectProxyInfo(bool autoDetect,
                                         const std::wstring& pacUrl,
                                         std::wstring& proxyList) const;

 private:
  std::wstring targetUrl_;
};

}  // namespace TSRN::ProxyManager
