#include "proxy/authenticating_proxy_probe.h"

#include <algorithm>

#include "common/text.h"
#include "platform/debug_output.h"
#include "proxy/proxy_credentials.h"
#include "proxy/proxy_log.h"

namespace TSRN::ProxyManager {

namespace {

constexpr std::uint32_t kAutoLogonPolicyHigh = 2;
constexpr std::uint32_t kAutoLogonPolicyMedium = 0;
constexpr std::uint32_t kStatusProxyAuthRequired = 407;
constexpr std::uint16_t kHttpsPort = 443;
constexpr std::uint16_t kHttpPort = 80;

// The working strings are UTF-8 that GetProxyInfo has checked.
std::wstring wide(const std::string& text) {
  std::wstring out;
  (void)tsdlm::utf8ToUtf16(text, out);
  return out;
}

}  // namespace

ChosenScheme ChooseAuthScheme(std::uint32_t offered) {
  if ((offered & (kAuthSchemeNegotiate | kAuthSchemeNtlm)) != 0) {
    return {kAuthSchemeNtlm, kSchemeNtlm};
  }
  if ((offered & kAuthSchemeDigest) != 0) {
    return {kAuthSchemeDigest, kSchemeDigest};
  }
  if ((offered & kAuthSchemeBasic) != 0) return {kAuthSchemeBasic, kSchemeBasic};
  return {};
}

AuthenticatingProxyProbe::AuthenticatingProxyProbe(
    UPIInfo& info, std::uint32_t& authScheme, const std::wstring& proxyAddress,
    LookupDeadline& deadline)
    : info_(info),
      authScheme_(authScheme),
      proxyAddress_(proxyAddress),
      deadline_(deadline) {}

PMStatus AuthenticatingProxyProbe::CheckAuthenticatingProxy(bool silent) {
  LogMessage(LOG_LEVEL_INFO, "Performing 'CheckAuthenticatingProxy' ...");
  // An empty host would make ":port" a proxy address; it is no proxy.
  if (info_.url.empty() || info_.server.empty() || proxyAddress_.empty()) {
    LogMessage(LOG_LEVEL_ERROR, "URL or Proxy server is empty!");
    return PM_STATUS_INVALID_INPUT;
  }
  platform::WinHttpRequest request;
  if (!OpenRequest(request)) return PM_STATUS_FAILURE;
  platform::WinHttpHandles& handles = *request;

  LogMessage(LOG_LEVEL_DEBUG,
             "Setting security level high for WinHTTP communications.");
  if (!platform::setAutoLogonPolicy(handles, kAutoLogonPolicyHigh)) {
    ReportApiFailure(L"WinHttpSetOption");
    return PM_STATUS_FAILURE;
  }

  const std::wstring server = wide(info_.server);
  std::wstring user;
  std::wstring password;
  std::uint32_t offered = 0;
  bool store = false;
  bool triedStored = false;
  // The scheme the stored entry records (none until an entry is read, and
  // for entries saved before schemes were recorded), and whether the
  // credentials in use are that entry's.
  std::uint32_t storedScheme = kSchemeNone;
  bool fromStore = false;
  if (!info_.user.empty()) {
    LogMessage(LOG_LEVEL_INFO,
               "Using invoker provided proxy credentials with user:%s",
               info_.user.c_str());
    user = wide(info_.user);
    password = wide(info_.password);
    store = true;
  } else if (ProxyCredentials::LoadCredentials(server, user, password,
                                              storedScheme)) {
    LogMessage(LOG_LEVEL_INFO,
               L"Using cached credentials for proxy server:%ls  user:%ls",
               server.c_str(), user.c_str());
    triedStored = true;
    fromStore = true;
  }

  if (!user.empty()) {
    LogMessage(LOG_LEVEL_INFO,
               "Detecting auth scheme for the available credentials ...");
    // Only learns the offered schemes; a failure here is not fatal.
    if (SendRequest(handles)) (void)QueryAuthScheme(handles, offered);
  }

  // Set when a 407 leaves no stored entry to try: the user's turn.
  bool ask = false;
  for (;;) {
    // A stored password never goes with a weaker scheme than the one it was
    // saved for. A proxy of that host asking for one is not the proxy it
    // was saved for (whoever steers name resolution or proxy detection can
    // name the host and offer Basic alone), so it gets nothing: not the
    // entry, and no dialog, where the user would type the same password.
    if (offered != 0 && ChooseAuthScheme(offered).reported < storedScheme) {
      LogMessage(LOG_LEVEL_ERROR,
                 "Stored credentials were saved for authentication scheme "
                 "%lu; the proxy offers %lu only, so it is not used.",
                 static_cast<unsigned long>(storedScheme),
                 static_cast<unsigned long>(offered));
      return PM_STATUS_FAILURE;
    }
    if (ask) {
      if (silent) {
        authScheme_ = ChooseAuthScheme(offered).reported;
        LogMessage(LOG_LEVEL_ERROR,
                   "PM_STATUS_SILENT_MODE_ERROR - Application running under "
                   "Silent Mode and it requires proxy server credentials.");
        return PM_STATUS_SILENT_MODE_ERROR;
      }
      const std::uint64_t asked = platform::monotonicMilliseconds();
      const PMStatus entered =
          ProxyCredentials::ShowCredentialDialog(server, user, password);
      deadline_.Exclude(platform::monotonicMilliseconds() - asked);
      if (entered != PM_STATUS_SUCCESS) return entered;
      fromStore = false;
      ask = false;
    }
    if (offered != 0) {
      const std::uint32_t scheme = ChooseAuthScheme(offered).winHttp;
      LogMessage(LOG_LEVEL_DEBUG,
                 "Trying %lu authentication scheme although proxy server "
                 "supports %lu authentication scheme",
                 static_cast<unsigned long>(scheme),
                 static_cast<unsigned long>(offered));
      if (!platform::setProxyCredentials(handles, scheme, user, password)) {
        ReportApiFailure(L"WinHttpSetCredentials");
        return PM_STATUS_FAILURE;
      }
    }
    if (!SendRequest(handles)) return PM_STATUS_FAILURE;
    if (platform::lastError() == platform::kErrorResendRequest) continue;
    std::uint32_t status = 0;
    if (!GetHTTPStatusCode(handles, status)) return PM_STATUS_FAILURE;
    if (status != kStatusProxyAuthRequired) break;

    store = true;
    (void)QueryAuthScheme(handles, offered);
    if (!platform::setAutoLogonPolicy(handles, kAutoLogonPolicyMedium)) {
      ReportApiFailure(L"WinHttpSetOption");
    }
    if (!triedStored) {
      triedStored = true;
      if (ProxyCredentials::LoadCredentials(server, user, password,
                                            storedScheme)) {
        fromStore = true;
        continue;
      }
    }
    ask = true;
  }

  // Any answer but 407 (200, 404, 502 alike): the proxy let the request by.
  authScheme_ = ChooseAuthScheme(offered).reported;
  // Credentials go back only with the scheme a 407 asked for them with. A
  // proxy that let the request by unasked (an impostor answering the probe
  // only) must not get them when it asks the transfer, in whatever scheme.
  const bool handBack = authScheme_ != kSchemeNone;
  info_.user = handBack ? tsdlm::utf16ToUtf8(user) : std::string();
  info_.password = handBack ? tsdlm::utf16ToUtf8(password) : std::string();
  // A stored entry that just worked with a scheme stronger than it records
  // (none, for one saved before schemes were recorded) is protected from
  // now on. One that worked with Basic stays as it was.
  if (fromStore && authScheme_ >= kSchemeDigest && authScheme_ > storedScheme) {
    store = true;
  }
  // The entry records the scheme these credentials just worked with, or
  // the stronger one it held.
  if (store) {
    (void)ProxyCredentials::StoreCredentials(server, user, password,
                                             authScheme_);
  }
  return PM_STATUS_SUCCESS;
}

bool AuthenticatingProxyProbe::OpenRequest(
    platform::WinHttpRequest& request) const {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'OpenRequest' ...");
  // Any failure below closes what is open: resetting `request` closes the
  // request, the connection and the session that exist.
  if (!platform::openProxySession(proxyAddress_, request)) {
    ReportApiFailure(L"WinHttpOpen");
    return false;
  }
  // WinHTTP's own limits (no limit on name resolution, a minute to connect)
  // would let a list of dead proxies hold the lookup for hours.
  const int limit = static_cast<int>(std::max<std::uint64_t>(
      1, std::min(kStepLimitMs, deadline_.RemainingMs())));
  if (!platform::setTimeouts(*request, limit, limit, limit, limit)) {
    ReportApiFailure(L"WinHttpSetTimeouts");
    request.reset();
    return false;
  }
  platform::CrackedUrl parts;
  if (!platform::crackUrl(wide(info_.url), parts)) {
    ReportApiFailure(L"WinHttpCrackUrl");
    request.reset();
    return false;
  }
  // A port written in the URL is not used: the proxy is asked for the
  // scheme's standard port.
  if (!platform::connectToHost(*request, parts.host,
                               parts.https ? kHttpsPort : kHttpPort)) {
    ReportApiFailure(L"WinHttpConnect");
    request.reset();
    return false;
  }
  if (!platform::openHeadRequest(*request, parts.path, parts.https)) {
    ReportApiFailure(L"WinHttpOpenRequest");
    request.reset();
    return false;
  }
  return true;
}

bool AuthenticatingProxyProbe::SendRequest(
    platform::WinHttpHandles& handles) const {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'SendRequest' ...");
  // The lookup driver logs the passed deadline once, when it stops.
  if (deadline_.Expired()) return false;
  // The resend rule reads the last error after a successful send: it must be
  // this send's, not one left over from an earlier call.
  platform::setLastError(0);
  switch (platform::sendRequest(handles)) {
    case platform::SendResult::sendFailed:
      ReportApiFailure(L"WinHttpSendRequest");
      return false;
    case platform::SendResult::receiveFailed:
      ReportApiFailure(L"WinHttpReceiveResponse");
      return false;
    case platform::SendResult::ok:
      break;
  }
  return true;
}

bool AuthenticatingProxyProbe::QueryAuthScheme(
    platform::WinHttpHandles& handles, std::uint32_t& offered) const {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'QueryAuthScheme' ...");
  offered = 0;
  std::uint32_t supported = 0;
  if (!platform::queryAuthSchemes(handles, supported)) {
    ReportApiFailure(L"WinHttpQueryAuthSchemes");
    return false;
  }
  LogMessage(LOG_LEVEL_DEBUG, "Proxy server supports AuthScheme:%lu",
             static_cast<unsigned long>(supported));
  offered = supported;
  return true;
}

bool AuthenticatingProxyProbe::GetHTTPStatusCode(
    platform::WinHttpHandles& handles, std::uint32_t& status) const {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'GetHTTPStatusCode' ...");
  status = 0;
  if (!platform::queryStatusCode(handles, status)) {
    ReportApiFailure(L"WinHttpQueryHeaders");
    return false;
  }
  LogMessage(LOG_LEVEL_DEBUG, "Received HTTP status:%lu",
             static_cast<unsigned long>(status));
  return true;
}

}  // namespace TSRN::ProxyManager
