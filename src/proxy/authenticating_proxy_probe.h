// Probes one proxy candidate with a HEAD request for the target URL through
// it: finds out whether the proxy demands credentials (407) and, if so,
// obtains them (the caller's, the credential store's, the credential
// dialog's) until the proxy lets the request through.
#pragma once

#include <cstdint>
#include <string>

#include "platform/winhttp_request.h"
#include "proxy/lookup_deadline.h"
#include "proxy/tsrn_proxy_api.h"
#include "proxy/upi_info.h"

namespace TSRN::ProxyManager {

// WinHTTP's authentication scheme bits.
constexpr std::uint32_t kAuthSchemeBasic = 1;
constexpr std::uint32_t kAuthSchemeNtlm = 2;
constexpr std::uint32_t kAuthSchemePassport = 4;
constexpr std::uint32_t kAuthSchemeDigest = 8;
constexpr std::uint32_t kAuthSchemeNegotiate = 16;

// The scheme handed to WinHTTP for an offered set (Negotiate goes as NTLM),
// and the one reported in ProxyInfo::authScheme (0, 1 Basic, 2 Digest,
// 4 NTLM or Negotiate).
struct ChosenScheme {
  std::uint32_t winHttp = 0;
  std::uint32_t reported = 0;
};
[[nodiscard]] ChosenScheme ChooseAuthScheme(std::uint32_t offered);

// One probe is a small state machine. Every request after the first goes
// with one identity, taken from these sources in order: the caller's
// credentials, the stored entry, the credential dialog. A 407 to an
// identity rejects it: it is remembered for the process
// (RejectedCredentials) and never sent to that proxy again, the next
// source's turn comes, and the dialog then opens in its "incorrect
// password" state. Bounds: one request without credentials, then at most
// RejectedCredentials::kMaxPerProxy rejected identities per proxy and
// process, however the proxy and the dialog answer.
class AuthenticatingProxyProbe {
 public:
  // WinHTTP's limit for each of name resolution, connection, sending and
  // waiting for the answer, and never more than the lookup has left.
  static constexpr std::uint64_t kStepLimitMs = 5000;
  // ERROR_WINHTTP_RESEND_REQUEST answers followed for one request.
  static constexpr int kMaxResends = 3;

  // Works on the proxy manager's working state: reads info.url, info.server,
  // info.user, info.password and proxyAddress; writes info.user,
  // info.password and authScheme as CheckAuthenticatingProxy says. No
  // request is sent once `deadline` has passed; the time the credential
  // dialog is open is excluded from it.
  AuthenticatingProxyProbe(UPIInfo& info, std::uint32_t& authScheme,
                           const std::wstring& proxyAddress,
                           LookupDeadline& deadline);

  // 0 when the proxy let the request through (authScheme is then the scheme
  // its 407 asked for, and the working user and password the credentials
  // that worked with it; both are empty when authScheme is 0); 2 when a
  // system call failed, when the stored entry records a stronger scheme
  // than the proxy offers (neither the entry nor the dialog is used), when
  // the proxy has rejected kMaxPerProxy credentials in this process, or
  // when the dialog answers credentials the proxy already rejected; 4 for
  // an empty url or proxy address; 5 or 2 from the credential dialog; 6 when
  // credentials are needed, none are left to try and `silent` forbids the
  // dialog (authScheme is then set from the proxy's offer).
  [[nodiscard]] PMStatus CheckAuthenticatingProxy(bool silent);

  // Session through the proxy with its time limits, connection to the
  // target host on the port the URL names (the scheme's default when it
  // names none), HEAD request for its path. False (request empty) on
  // failure.
  [[nodiscard]] bool OpenRequest(platform::WinHttpRequest& request) const;
  // False, without sending, once the lookup's deadline has passed.
  [[nodiscard]] bool SendRequest(platform::WinHttpHandles& handles) const;
  // `offered` is 0 unless the query succeeds.
  [[nodiscard]] bool QueryAuthScheme(platform::WinHttpHandles& handles,
                                     std::uint32_t& offered) const;
  // `status` is 0 unless the query succeeds.
  [[nodiscard]] bool GetHTTPStatusCode(platform::WinHttpHandles& handles,
                                       std::uint32_t& status) const;

 private:
  enum class State {
    kFirstRequest,       // without credentials
    kSchemesKnown,       // a 407 came: which identity goes next
    kCallerCredentials,  // the caller's
    kStoredEntry,        // the credential store's entry for the host
    kDialog,             // the user's, or the silent mode's end
    kDone,
  };

  // Each returns PM_STATUS_SUCCESS to go on with next_ (kDone: the proxy
  // let the request through), any other status to end the probe with it.
  PMStatus DoFirstRequest();
  PMStatus DoSchemesKnown();
  PMStatus DoCallerCredentials();
  PMStatus DoStoredEntry();
  PMStatus DoDialog(bool silent);
  // Sends with user_ and password_ (with the scheme learnt, if any): kDone
  // when let through, kSchemesKnown after a rejection.
  PMStatus TryCredentials();
  // The request, resent while WinHTTP asks for it; `status` its answer.
  [[nodiscard]] bool Exchange(std::uint32_t& status);
  // The stored entry's scheme is stronger than the proxy's offer.
  [[nodiscard]] bool OfferWeakerThanStored() const;
  // Hands back and stores what worked.
  void Succeed();

  UPIInfo& info_;
  std::uint32_t& authScheme_;
  const std::wstring& proxyAddress_;
  LookupDeadline& deadline_;

  State next_ = State::kFirstRequest;
  platform::WinHttpRequest request_;
  std::wstring server_;
  // The identity in use and where it came from.
  std::wstring user_;
  std::wstring password_;
  bool fromStore_ = false;
  bool withCredentials_ = false;
  std::wstring rejectedUser_;  // the last one a 407 answered
  std::uint32_t offered_ = 0;
  // The scheme the stored entry records (none until an entry is read, and
  // for entries saved before schemes were recorded).
  std::uint32_t storedScheme_ = kSchemeNone;
  bool callerTried_ = false;
  bool storedTried_ = false;
  // Whatever works after a 407, and caller credentials always, is stored.
  bool store_ = false;
};

}  // namespace TSRN::ProxyManager
