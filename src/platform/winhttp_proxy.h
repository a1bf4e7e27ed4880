// WinHTTP proxy configuration: the user's Internet Explorer settings, the
// machine's WinHTTP default, and automatic proxy lookup (WPAD or a script).
//
// Every string WinHTTP hands out in global memory is copied and released
// with GlobalFree inside the Win32 layer, at the point where it is copied, on
// every path; callers of these functions own nothing that needs releasing.
// A function that returns false leaves the failing call's error code as the
// thread's last error (platform::lastError()).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// An absent string (WinHTTP gave null) is std::nullopt; an empty one is "".
struct IeProxyConfig {
  bool autoDetect = false;
  std::optional<std::wstring> autoConfigUrl;
  std::optional<std::wstring> proxy;
  std::optional<std::wstring> proxyBypass;
};

struct DefaultProxyConfig {
  std::uint32_t accessType = 0;
  std::optional<std::wstring> proxy;
  std::optional<std::wstring> proxyBypass;
};

// The automatic proxy options of WinHttpGetProxyForUrl. An empty
// autoConfigUrl is passed as no URL.
struct AutoProxyOptions {
  std::uint32_t flags = 0;
  std::uint32_t autoDetectFlags = 0;
  std::wstring autoConfigUrl;
  bool autoLogonIfChallenged = false;
  // How long to wait for the answer, script download included; 0 sets no
  // limit (WinHTTP's own time-outs alone).
  std::uint32_t timeLimitMs = 0;
};

struct ProxyForUrl {
  std::optional<std::wstring> proxy;
  std::optional<std::wstring> proxyBypass;
};

enum class ProxyForUrlResult {
  ok,
  openFailed,            // WinHttpOpen failed
  getProxyForUrlFailed,  // WinHttpGetProxyForUrl failed
  timedOut,              // no answer within the options' time limit
};

// WinHttpGetIEProxyConfigForCurrentUser.
[[nodiscard]] bool getIeProxyConfigForCurrentUser(IeProxyConfig& config);

// WinHttpGetDefaultProxyConfiguration. The access type is reported as is.
[[nodiscard]] bool getDefaultProxyConfiguration(DefaultProxyConfig& config);

// Opens a synchronous session (agent "WinHTTP/1.0", default proxy access, no
// proxy name, no bypass list), asks WinHttpGetProxyForUrl for `url` and
// closes the session on every path. `result` is empty unless ok. The call
// runs on a thread of its own and is given up after options.timeLimitMs:
// WinHTTP waits for a script's server as long as it keeps sending, and no
// per-read time-out stops one that drips a byte now and then. A call given
// up ends on its own later (the module is kept loaded until it has).
[[nodiscard]] ProxyForUrlResult getProxyForUrl(const std::wstring& url,
                                               const AutoProxyOptions& options,
                                               ProxyForUrl& result);

}  // namespace platform
