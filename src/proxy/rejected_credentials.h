// The credentials proxies rejected while this process runs: for the updater,
// one whole update run (the manifest's and the installer's lookups, every
// candidate of each). It keeps a rejected credential from being sent to the
// same proxy again, and bounds the rejected logins a proxy that accepts
// nothing can collect from the run.
#pragma once

#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace TSRN::ProxyManager {

class RejectedCredentials {
 public:
  // Rejected credentials a proxy gets from one process; past them its probes
  // send none.
  static constexpr std::size_t kMaxPerProxy = 3;

  static RejectedCredentials& OfThisProcess();

  // Notes that `proxy` (its address, "host:port") answered 407 to `user`
  // with `password`. The first rejection of each user by each proxy is
  // logged at Error (RejectionText) and kept for TakeUnreported.
  void Add(const std::wstring& proxy, const std::wstring& user,
           const std::wstring& password);
  [[nodiscard]] bool Contains(const std::wstring& proxy,
                              const std::wstring& user,
                              const std::wstring& password) const;
  [[nodiscard]] std::size_t CountFor(const std::wstring& proxy) const;
  // A proxy that let a credential through starts afresh.
  void Forget(const std::wstring& proxy);

  // The rejections noted since the last call, each proxy and user once per
  // process, as RejectionText lines; for the updater's own log.
  [[nodiscard]] std::vector<std::string> TakeUnreported();

  // "Proxy server <proxy> rejected the credentials of user <user>." (UTF-8).
  [[nodiscard]] static std::string RejectionText(const std::wstring& proxy,
                                                 const std::wstring& user);

  // Empties the memory; a new run starts.
  void Clear();

 private:
  using Entry = std::tuple<std::wstring, std::wstring, std::wstring>;
  mutable std::mutex lock_;
  std::vector<Entry> rejected_;
  std::set<std::pair<std::wstring, std::wstring>> reported_;
  std::vector<std::string> unreported_;
};

}  // namespace TSRN::ProxyManager
