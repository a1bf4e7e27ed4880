// One WinHTTP HEAD request through a named proxy: a session, a connection
// and a request, owned together by a WinHttpRequest and closed (request,
// connection, session) when it is destroyed, on every path.
//
// A function that returns false leaves the failing call's error code as the
// thread's last error (platform::lastError()); closing handles never changes
// it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The handles; defined by each implementation.
struct WinHttpHandles;

// Closes the handles that are open and frees the record. Null does nothing.
void closeWinHttpHandles(WinHttpHandles* handles);

struct WinHttpHandlesCloser {
  void operator()(WinHttpHandles* handles) const {
    closeWinHttpHandles(handles);
  }
};
using WinHttpRequest = std::unique_ptr<WinHttpHandles, WinHttpHandlesCloser>;

// The parts of a URL the probe needs (WinHttpCrackUrl with a host buffer of
// 256 units and a path buffer of 2048 units).
struct CrackedUrl {
  std::wstring host;
  std::wstring path;
  bool https = false;  // the scheme is HTTPS
  // The port the URL names; the scheme's default (443, 80) when it names none.
  std::uint16_t port = 0;
};

// WinHTTP's error for a request that must be sent again.
constexpr std::uint32_t kErrorResendRequest = 12032;

// WinHttpOpen: agent "WinHTTP/1.0", named proxy `proxyAddress`, no bypass
// list, synchronous. `request` then owns the session alone.
[[nodiscard]] bool openProxySession(const std::wstring& proxyAddress,
                                    WinHttpRequest& request);

// WinHttpSetTimeouts on the session, before anything is opened on it: the
// limits (milliseconds, each at least 1) for name resolution, connection,
// sending and each wait for an answer; the receive limit also bounds the
// answer's headers as a whole (WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
// where WinHTTP knows it).
[[nodiscard]] bool setTimeouts(WinHttpHandles& handles, int resolveMs,
                               int connectMs, int sendMs, int receiveMs);

// WinHttpCrackUrl.
[[nodiscard]] bool crackUrl(const std::wstring& url, CrackedUrl& parts);

// WinHttpConnect to `host` on `port` in the open session.
[[nodiscard]] bool connectToHost(WinHttpHandles& handles,
                                 const std::wstring& host, std::uint16_t port);

// WinHttpOpenRequest: verb "HEAD", `path` as object, default version, no
// referrer, default accept types, WINHTTP_FLAG_SECURE when `secure`.
[[nodiscard]] bool openHeadRequest(WinHttpHandles& handles,
                                   const std::wstring& path, bool secure);

// WinHttpSetOption(WINHTTP_OPTION_AUTOLOGON_POLICY) on the request.
[[nodiscard]] bool setAutoLogonPolicy(WinHttpHandles& handles,
                                      std::uint32_t policy);

// WinHttpSetCredentials for the proxy with `scheme`, no parameters.
[[nodiscard]] bool setProxyCredentials(WinHttpHandles& handles,
                                       std::uint32_t scheme,
                                       const std::wstring& user,
                                       const std::wstring& password);

enum class SendResult {
  ok,
  sendFailed,     // WinHttpSendRequest failed
  receiveFailed,  // WinHttpReceiveResponse failed
};

// WinHttpSendRequest (no headers, no body, context 0), then
// WinHttpReceiveResponse.
[[nodiscard]] SendResult sendRequest(WinHttpHandles& handles);

// WinHttpQueryAuthSchemes: the supported schemes of the last response (0
// when the query fails).
[[nodiscard]] bool queryAuthSchemes(WinHttpHandles& handles,
                                    std::uint32_t& supported);

// WinHttpQueryHeaders(WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER);
// 0 when the query fails.
[[nodiscard]] bool queryStatusCode(WinHttpHandles& handles,
                                   std::uint32_t& status);

}  // namespace platform
