// The WinHTTP-based proxy manager. One object answers exactly one call of
// tsrnGetProxyInfo: discovery, the candidates of the proxy list for the
// target's scheme, and a check of each candidate in list order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "proxy/lookup_deadline.h"
#include "proxy/proxy_candidate.h"
#include "proxy/proxy_manager_impl.h"
#include "proxy/upi_info.h"

namespace TSRN::ProxyManager {

class ProxyManagerImplWin : public ProxyManagerImpl {
 public:
  ProxyManagerImplWin() = default;
  ~ProxyManagerImplWin() override = default;
  ProxyManagerImplWin(const ProxyManagerImplWin&) = delete;
  ProxyManagerImplWin& operator=(const ProxyManagerImplWin&) = delete;

  // The probes try at most this many candidates, in list order.
  static constexpr std::size_t kMaxCandidates = 8;

  // 0 with the answer filled; 1 no proxy configured (answer cleared); 2 a
  // system call failed, the list gave no usable candidate, or the probes
  // did not find a proxy before the lookup's deadline; 4 a null, empty or
  // non-UTF-8 url (or user, password); else the last tried candidate's
  // status.
  [[nodiscard]] PMStatus GetProxyInfo(const UserData& userData,
                                      ProxyInfo& proxyInfo) override;

 private:
  // Replaces what an earlier candidate put into the answer with fresh copies
  // of the working server, port and scheme and, `withCredentials`, of the
  // working user and password (else they stay null). False (and the answer
  // cleared) when memory runs out.
  [[nodiscard]] bool FillAnswer(ProxyInfo& proxyInfo,
                                bool withCredentials) const;

  // Working state: the request URL, the candidate being checked and the
  // credentials in use (first the caller's, after a successful check the
  // ones that worked), all UTF-8.
  UPIInfo info_;
  std::uint32_t authScheme_ = 0;
  // server ":" port, as WinHTTP takes a named proxy.
  std::wstring proxyAddress_;
};

}  // namespace TSRN::ProxyManager
