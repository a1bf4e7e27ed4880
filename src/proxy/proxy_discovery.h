// Finds the proxy list that applies to the current user and a target URL:
// the Internet Explorer settings (WPAD, a configuration script, a fixed list)
// and then the WinHTTP default configuration, stopping at the first source
// that yields a list.
#pragma once

#include <cstdint>
#include <string>

#include "proxy/lookup_deadline.h"
#include "proxy/tsrn_proxy_api.h"

namespace TSRN::ProxyManager {

class ProxyDiscovery {
 public:
  // An automatic lookup (WPAD, a configuration script) waits this long at
  // most, and never past the lookup's deadline; a script that has not
  // arrived by then counts as none.
  static constexpr std::uint64_t kScriptLimitMs = 15000;

  // `targetUrl` is the request URL, already converted to UTF-16; the
  // automatic lookups end by `deadline` (a deadline of their own when none
  // is given).
  explicit ProxyDiscovery(std::wstring targetUrl,
                          const LookupDeadline* deadline = nullptr);

  // 0 with `proxyList` set; 1 when no source yields a list; 2 when reading
  // the Internet Explorer settings or the WinHTTP default fails. WPAD is
  // skipped when TSRN_TSRN_WPAD_PROXY_CHECK says FALSE.
  [[nodiscard]] PMStatus DiscoverProxyConfiguration(
      std::wstring& proxyList) const;

  // Asks WinHTTP for the target's proxy by WPAD (`autoDetect`) or else by the
  // script at `pacUrl`. True with a list; failures are logged, never fatal;
  // no answer in time is a failure.
  [[nodiscard]] bool AutoDetectProxyInfo(bool autoDetect,
                                         const std::wstring& pacUrl,
                                         std::wstring& proxyList) const;

 private:
  std::wstring targetUrl_;
  LookupDeadline ownDeadline_;
  const LookupDeadline& deadline_;
};

}  // namespace TSRN::ProxyManager
