// Kept apart from the WinINet code: winhttp.h and wininet.h cannot share a
// translation unit.
#include <windows.h>
#include <winhttp.h>

#include "platform/winhttp_proxy.h"

namespace platform {

namespace {

// Copies a WinHTTP global-memory string and releases it right away, so that
// no caller ever holds one.
std::optional<std::wstring> takeGlobalString(LPWSTR text) {
  if (text == nullptr) return std::nullopt;
  std::wstring copy(text);
  GlobalFree(text);
  return copy;
}

// Keeps the failing call's code as the last error across the cleanup.
bool failWith(DWORD code) {
  SetLastError(code);
  return false;
}

}  // namespace

bool getIeProxyConfigForCurrentUser(IeProxyConfig& config) {
  config = IeProxyConfig{};
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&raw)) {
    const DWORD code = GetLastError();
    // The structure may be partly filled on failure; release what is there.
    (void)takeGlobalString(raw.lpszAutoConfigUrl);
    (void)takeGlobalString(raw.lpszProxy);
    (void)takeGlobalString(raw.lpszProxyBypass);
    return failWith(code);
  }
  config.autoDetect = raw.fAutoDetect != FALSE;
  config.autoConfigUrl = takeGlobalString(raw.lpszAutoConfigUrl);
  config.proxy = takeGlobalString(raw.lpszProxy);
  config.proxyBypass = takeGlobalString(raw.lpszProxyBypass);
  return true;
}

bool getDefaultProxyConfiguration(DefaultProxyConfig& config) {
  config = DefaultProxyConfig{};
  WINHTTP_PROXY_INFO raw{};
  if (!WinHttpGetDefaultProxyConfiguration(&raw)) {
    const DWORD code = GetLastError();
    (void)takeGlobalString(raw.lpszProxy);
    (void)takeGlobalString(raw.lpszProxyBypass);
    return failWith(code);
  }
  config.accessType = raw.dwAccessType;
  config.proxy = takeGlobalString(raw.lpszProxy);
  config.proxyBypass = takeGlobalString(raw.lpszProxyBypass);
  return true;
}

ProxyForUrlResult getProxyForUrl(const std::wstring& url,
                                 const AutoProxyOptions& options,
                                 ProxyForUrl& result) {
  result = ProxyForUrl{};
  HINTERNET session =
      WinHttpOpen(L"WinHTTP/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) {
    (void)failWith(GetLastError());
    return ProxyForUrlResult::openFailed;
  }
  WINHTTP_AUTOPROXY_OPTIONS raw{};
  raw.dwFlags = options.flags;
  raw.dwAutoDetectFlags = options.autoDetectFlags;
  raw.lpszAutoConfigUrl =
      options.autoConfigUrl.empty() ? nullptr : options.autoConfigUrl.c_str();
  raw.lpvReserved = nullptr;
  raw.dwReserved = 0;
  raw.fAutoLogonIfChallenged = options.autoLogonIfChallenged ? TRUE : FALSE;
  WINHTTP_PROXY_INFO info{};
  const BOOL found = WinHttpGetProxyForUrl(session, url.c_str(), &raw, &info);
  const DWORD code = found ? ERROR_SUCCESS : GetLastError();
  result.proxy = takeGlobalString(info.lpszProxy);
  result.proxyBypass = takeGlobalString(info.lpszProxyBypass);
  WinHttpCloseHandle(session);
  if (!found) {
    result = ProxyForUrl{};
    (void)failWith(code);
    return ProxyForUrlResult::getProxyForUrlFailed;
  }
  return ProxyForUrlResult::ok;
}

}  // namespace platform
