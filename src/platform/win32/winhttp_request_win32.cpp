// Kept apart from the WinINet code: winhttp.h and wininet.h cannot share a
// translation unit.
#include <windows.h>
#include <winhttp.h>

#include <utility>
#include <vector>

#include "platform/win32/owned.h"
#include "platform/winhttp_request.h"

namespace platform {

struct WinHttpHandleKind {
  using Type = HINTERNET;
  static void release(HINTERNET handle) { WinHttpCloseHandle(handle); }
};
using OwnedInternet = Owned<WinHttpHandleKind>;

// Members go in reverse order: the request first, the session last.
struct WinHttpHandles {
  OwnedInternet session;
  OwnedInternet connection;
  OwnedInternet request;
};

void closeWinHttpHandles(WinHttpHandles* handles) {
  if (handles == nullptr) return;
  // Closing runs after a failed call has been read, but keep its code anyway.
  const DWORD code = GetLastError();
  delete handles;
  SetLastError(code);
}

bool openProxySession(const std::wstring& proxyAddress,
                      WinHttpRequest& request) {
  request.reset();
  OwnedInternet session(
      WinHttpOpen(L"WinHTTP/1.0", WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                  proxyAddress.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return false;
  request.reset(new WinHttpHandles{std::move(session), {}, {}});
  return true;
}

bool setTimeouts(WinHttpHandles& handles, int resolveMs, int connectMs,
                 int sendMs, int receiveMs) {
  if (!WinHttpSetTimeouts(handles.session.get(), resolveMs, connectMs, sendMs,
                          receiveMs)) {
    return false;
  }
  // The receive limit is per read: a proxy dripping its headers a byte at a
  // time would pass it. This one bounds the headers as a whole; where it is
  // not known the per-read limit still holds.
  DWORD headers = static_cast<DWORD>(receiveMs);
  (void)WinHttpSetOption(handles.session.get(),
                         WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headers,
                         sizeof headers);
  return true;
}

bool crackUrl(const std::wstring& url, CrackedUrl& parts) {
  parts = CrackedUrl{};
  std::vector<wchar_t> host(256, L'\0');
  std::vector<wchar_t> path(2048, L'\0');
  URL_COMPONENTS components{};
  components.dwStructSize = sizeof components;
  components.lpszHostName = host.data();
  components.dwHostNameLength = static_cast<DWORD>(host.size());
  components.lpszUrlPath = path.data();
  components.dwUrlPathLength = static_cast<DWORD>(path.size());
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &components)) return false;
  parts.host.assign(host.data(), components.dwHostNameLength);
  parts.path.assign(path.data(), components.dwUrlPathLength);
  parts.https = components.nScheme == INTERNET_SCHEME_HTTPS;
  parts.port = components.nPort;
  return true;
}

bool connectToHost(WinHttpHandles& handles, const std::wstring& host,
                   std::uint16_t port) {
  handles.connection.reset(WinHttpConnect(handles.session.get(), host.c_str(),
                                          static_cast<INTERNET_PORT>(port), 0));
  return static_cast<bool>(handles.connection);
}

bool openHeadRequest(WinHttpHandles& handles, const std::wstring& path,
                     bool secure) {
  handles.request.reset(WinHttpOpenRequest(
      handles.connection.get(), L"HEAD", path.c_str(), nullptr,
      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
      secure ? WINHTTP_FLAG_SECURE : 0));
  return static_cast<bool>(handles.request);
}

bool setAutoLogonPolicy(WinHttpHandles& handles, std::uint32_t policy) {
  DWORD value = policy;
  return WinHttpSetOption(handles.request.get(),
                          WINHTTP_OPTION_AUTOLOGON_POLICY, &value,
                          sizeof value) != FALSE;
}

bool setProxyCredentials(WinHttpHandles& handles, std::uint32_t scheme,
                         const std::wstring& user,
                         const std::wstring& password) {
  return WinHttpSetCredentials(handles.request.get(), WINHTTP_AUTH_TARGET_PROXY,
                               scheme, user.c_str(), password.c_str(),
                               nullptr) != FALSE;
}

SendResult sendRequest(WinHttpHandles& handles) {
  if (!WinHttpSendRequest(handles.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS,
                          0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    return SendResult::sendFailed;
  }
  if (!WinHttpReceiveResponse(handles.request.get(), nullptr)) {
    return SendResult::receiveFailed;
  }
  return SendResult::ok;
}

bool queryAuthSchemes(WinHttpHandles& handles, std::uint32_t& supported) {
  DWORD schemes = 0;
  DWORD first = 0;
  DWORD target = 0;
  const bool ok = WinHttpQueryAuthSchemes(handles.request.get(), &schemes,
                                          &first, &target) != FALSE;
  supported = ok ? schemes : 0;
  return ok;
}

bool queryStatusCode(WinHttpHandles& handles, std::uint32_t& status) {
  DWORD value = 0;
  DWORD size = sizeof value;
  const bool ok =
      WinHttpQueryHeaders(handles.request.get(),
                          WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                          WINHTTP_NO_HEADER_INDEX) != FALSE;
  status = ok ? value : 0;
  return ok;
}

}  // namespace platform
