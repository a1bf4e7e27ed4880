#include "proxy/authenticating_proxy_probe.h"

#include <algorithm>

#include "common/text.h"
#include "platform/debug_output.h"
#include "proxy/proxy_credentials.h"
#include "proxy/proxy_log.h"
#include "proxy/rejected_credentials.h"

namespace TSRN::ProxyManager {

namespace {

constexpr std::uint32_t kAutoLogonPolicyHigh = 2;
constexpr std::uint32_t kAutoLogonPolicyMedium = 0;
constexpr std::uint32_t kStatusProxyAuthRequired = 407;

// The working strings are UTF-8 that GetProxyInfo has checked.
std::wstring Wide(const std::string& text) {
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
  if ((offered & kAuthSchemeBasic) != 0)
    return {kAuthSchemeBasic, kSchemeBasic};
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
  server_ = Wide(info_.server);
  next_ = State::kFirstRequest;
  PMStatus status = PM_STATUS_SUCCESS;
  do {
    const State state = next_;
    next_ = State::kDone;
    switch (state) {
      case State::kFirstRequest:
        status = DoFirstRequest();
        break;
      case State::kSchemesKnown:
        status = DoSchemesKnown();
        break;
      case State::kCallerCredentials:
        status = DoCallerCredentials();
        break;
      case State::kStoredEntry:
        status = DoStoredEntry();
        break;
      case State::kDialog:
        status = DoDialog(silent);
        break;
      case State::kDone:
        break;
    }
  } while (status == PM_STATUS_SUCCESS && next_ != State::kDone);
  request_.reset();
  return status;
}

PMStatus AuthenticatingProxyProbe::DoFirstRequest() {
  if (!OpenRequest(request_)) return PM_STATUS_FAILURE;
  LogMessage(LOG_LEVEL_DEBUG,
             "Setting security level high for WinHTTP communications.");
  if (!platform::setAutoLogonPolicy(*request_, kAutoLogonPolicyHigh)) {
    ReportApiFailure(L"WinHttpSetOption");
    return PM_STATUS_FAILURE;
  }
  // Caller credentials are stored even when the proxy does not ask for them.
  if (!info_.user.empty()) {
    LogMessage(LOG_LEVEL_INFO,
               "Using invoker provided proxy credentials with user:%s",
               info_.user.c_str());
    user_ = Wide(info_.user);
    password_ = Wide(info_.password);
    store_ = true;
  }
  std::uint32_t status = 0;
  if (!Exchange(status)) return PM_STATUS_FAILURE;
  if (status != kStatusProxyAuthRequired) {
    Succeed();
    return PM_STATUS_SUCCESS;
  }
  if (!platform::setAutoLogonPolicy(*request_, kAutoLogonPolicyMedium)) {
    ReportApiFailure(L"WinHttpSetOption");
  }
  next_ = State::kSchemesKnown;
  return PM_STATUS_SUCCESS;
}

PMStatus AuthenticatingProxyProbe::DoSchemesKnown() {
  store_ = true;
  (void)QueryAuthScheme(*request_, offered_);
  if (RejectedCredentials::OfThisProcess().CountFor(proxyAddress_) >=
      RejectedCredentials::kMaxPerProxy) {
    LogMessage(LOG_LEVEL_ERROR,
               L"Proxy server %ls has rejected %d credentials; no more are "
               L"sent to it.",
               proxyAddress_.c_str(),
               static_cast<int>(RejectedCredentials::kMaxPerProxy));
    return PM_STATUS_FAILURE;
  }
  next_ = !info_.user.empty() && !callerTried_ ? State::kCallerCredentials
          : !storedTried_                      ? State::kStoredEntry
                                               : State::kDialog;
  return PM_STATUS_SUCCESS;
}

PMStatus AuthenticatingProxyProbe::DoCallerCredentials() {
  callerTried_ = true;
  user_ = Wide(info_.user);
  password_ = Wide(info_.password);
  if (RejectedCredentials::OfThisProcess().Contains(proxyAddress_, user_,
                                                    password_)) {
    next_ = State::kSchemesKnown;
    return PM_STATUS_SUCCESS;
  }
  return TryCredentials();
}

PMStatus AuthenticatingProxyProbe::DoStoredEntry() {
  storedTried_ = true;
  std::wstring user;
  std::wstring password;
  if (!ProxyCredentials::LoadCredentials(server_, user, password,
                                         storedScheme_)) {
    next_ = State::kDialog;
    return PM_STATUS_SUCCESS;
  }
  LogMessage(LOG_LEVEL_INFO,
             L"Using cached credentials for proxy server:%ls  user:%ls",
             server_.c_str(), user.c_str());
  if (OfferWeakerThanStored()) return PM_STATUS_FAILURE;
  if (RejectedCredentials::OfThisProcess().Contains(proxyAddress_, user,
                                                    password)) {
    rejectedUser_ = user;
    next_ = State::kDialog;
    return PM_STATUS_SUCCESS;
  }
  user_ = user;
  password_ = password;
  fromStore_ = true;
  return TryCredentials();
}

PMStatus AuthenticatingProxyProbe::DoDialog(bool silent) {
  if (OfferWeakerThanStored()) return PM_STATUS_FAILURE;
  if (silent) {
    authScheme_ = ChooseAuthScheme(offered_).reported;
    LogMessage(LOG_LEVEL_ERROR,
               "PM_STATUS_SILENT_MODE_ERROR - Application running under "
               "Silent Mode and it requires proxy server credentials.");
    return PM_STATUS_SILENT_MODE_ERROR;
  }
  const std::uint64_t asked = platform::monotonicMilliseconds();
  std::wstring user;
  std::wstring password;
  const PMStatus entered = ProxyCredentials::ShowCredentialDialog(
      server_, user, password, rejectedUser_);
  deadline_.Exclude(platform::monotonicMilliseconds() - asked);
  if (entered != PM_STATUS_SUCCESS) return entered;
  // A credential manager that answers from its store whatever it is told
  // would otherwise feed the proxy the same rejected password for ever.
  if (RejectedCredentials::OfThisProcess().Contains(proxyAddress_, user,
                                                    password)) {
    LogMessage(LOG_LEVEL_ERROR,
               L"The credential dialog answered credentials proxy server %ls "
               L"already rejected.",
               proxyAddress_.c_str());
    return PM_STATUS_FAILURE;
  }
  user_ = user;
  password_ = password;
  fromStore_ = false;
  return TryCredentials();
}

PMStatus AuthenticatingProxyProbe::TryCredentials() {
  withCredentials_ = offered_ != 0;
  std::uint32_t status = 0;
  if (!Exchange(status)) return PM_STATUS_FAILURE;
  if (status != kStatusProxyAuthRequired) {
    Succeed();
    return PM_STATUS_SUCCESS;
  }
  RejectedCredentials::OfThisProcess().Add(proxyAddress_, user_, password_);
  rejectedUser_ = user_;
  next_ = State::kSchemesKnown;
  return PM_STATUS_SUCCESS;
}

bool AuthenticatingProxyProbe::Exchange(std::uint32_t& status) {
  status = 0;
  for (int sent = 0; sent <= kMaxResends; ++sent) {
    if (withCredentials_) {
      const std::uint32_t scheme = ChooseAuthScheme(offered_).winHttp;
      LogMessage(LOG_LEVEL_DEBUG,
                 "Trying %lu authentication scheme although proxy server "
                 "supports %lu authentication scheme",
                 static_cast<unsigned long>(scheme),
                 static_cast<unsigned long>(offered_));
      if (!platform::setProxyCredentials(*request_, scheme, user_, password_)) {
        ReportApiFailure(L"WinHttpSetCredentials");
        return false;
      }
    }
    if (!SendRequest(*request_)) return false;
    if (platform::lastError() != platform::kErrorResendRequest) {
      return GetHTTPStatusCode(*request_, status);
    }
  }
  LogMessage(LOG_LEVEL_ERROR, "WinHTTP asked to resend the request %d times.",
             kMaxResends + 1);
  return false;
}

bool AuthenticatingProxyProbe::OfferWeakerThanStored() const {
  // A stored password never goes with a weaker scheme than the one it was
  // saved for. A proxy of that host asking for one is not the proxy it
  // was saved for (whoever steers name resolution or proxy detection can
  // name the host and offer Basic alone), so it gets nothing: not the
  // entry, and no dialog, where the user would type the same password.
  if (offered_ == 0 || ChooseAuthScheme(offered_).reported >= storedScheme_) {
    return false;
  }
  LogMessage(LOG_LEVEL_ERROR,
             "Stored credentials were saved for authentication scheme "
             "%lu; the proxy offers %lu only, so it is not used.",
             static_cast<unsigned long>(storedScheme_),
             static_cast<unsigned long>(offered_));
  return true;
}

void AuthenticatingProxyProbe::Succeed() {
  // Any answer but 407 (200, 404, 502 alike): the proxy let the request by.
  authScheme_ = ChooseAuthScheme(offered_).reported;
  if (withCredentials_)
    RejectedCredentials::OfThisProcess().Forget(proxyAddress_);
  // Credentials go back only with the scheme a 407 asked for them with. A
  // proxy that let the request by unasked (an impostor answering the probe
  // only) must not get them when it asks the transfer, in whatever scheme.
  const bool handBack = authScheme_ != kSchemeNone;
  info_.user = handBack ? tsdlm::utf16ToUtf8(user_) : std::string();
  info_.password = handBack ? tsdlm::utf16ToUtf8(password_) : std::string();
  // A stored entry that just worked with a scheme stronger than it records
  // (none, for one saved before schemes were recorded) is protected from
  // now on. One that worked with Basic stays as it was.
  if (fromStore_ && authScheme_ >= kSchemeDigest &&
      authScheme_ > storedScheme_) {
    store_ = true;
  } else if (fromStore_) {
    store_ = false;
  }
  // The entry records the scheme these credentials just worked with, or
  // the stronger one it held.
  if (store_) {
    (void)ProxyCredentials::StoreCredentials(server_, user_, password_,
                                             authScheme_);
  }
}

bool AuthenticatingProxyProbe::OpenRequest(
    platform::WinHttpRequest& request) const {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'OpenRequest' ...");
  if (!platform::openProxySession(proxyAddress_, request)) {
    ReportApiFailure(L"WinHttpOpen");
    return false;
  }
  // WinHTTP's own limits (no limit on name resolution, a minute to connect)
  // would let a list of dead proxies hold the lookup for hours.
  const int limit = static_cast<int>(std::max<std::uint64_t>(
      1, std::min(kStepLimitMs, deadline_.RemainingMs())));
  platform::CrackedUrl parts;
  const wchar_t* failed = nullptr;
  if (!platform::setTimeouts(*request, limit, limit, limit, limit)) {
    failed = L"WinHttpSetTimeouts";
  } else if (!platform::crackUrl(Wide(info_.url), parts)) {
    failed = L"WinHttpCrackUrl";
  } else if (!platform::connectToHost(*request, parts.host, parts.port)) {
    failed = L"WinHttpConnect";
  } else if (!platform::openHeadRequest(*request, parts.path, parts.https)) {
    failed = L"WinHttpOpenRequest";
  }
  if (failed == nullptr) return true;
  ReportApiFailure(failed);
  request.reset();  // the request, the connection and the session that exist
  return false;
}

bool AuthenticatingProxyProbe::SendRequest(
    platform::WinHttpHandles& handles) const {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'SendRequest' ...");
  // The lookup driver logs the passed deadline once, when it stops.
  if (deadline_.Expired()) return false;
  // The resend rule reads the last error after a successful send: it must be
  // this send's, not one left over from an earlier call.
  platform::setLastError(0);
  const platform::SendResult sent = platform::sendRequest(handles);
  if (sent == platform::SendResult::ok) return true;
  ReportApiFailure(sent == platform::SendResult::sendFailed
                       ? L"WinHttpSendRequest"
                       : L"WinHttpReceiveResponse");
  return false;
}

bool AuthenticatingProxyProbe::QueryAuthScheme(
    platform::WinHttpHandles& handles, std::uint32_t& offered) const {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'QueryAuthScheme' ...");
  if (!platform::queryAuthSchemes(handles, offered)) {
    ReportApiFailure(L"WinHttpQueryAuthSchemes");
    return false;
  }
  LogMessage(LOG_LEVEL_DEBUG, "Proxy server supports AuthScheme:%lu",
             static_cast<unsigned long>(offered));
  return true;
}

bool AuthenticatingProxyProbe::GetHTTPStatusCode(
    platform::WinHttpHandles& handles, std::uint32_t& status) const {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'GetHTTPStatusCode' ...");
  if (!platform::queryStatusCode(handles, status)) {
    ReportApiFailure(L"WinHttpQueryHeaders");
    return false;
  }
  LogMessage(LOG_LEVEL_DEBUG, "Received HTTP status:%lu",
             static_cast<unsigned long>(status));
  return true;
}

}  // namespace TSRN::ProxyManager
