// Proxy credentials: the Windows credential dialog, and one entry per proxy
// host in the Windows credential store. Passwords are never logged.
#pragma once

#include <cstdint>
#include <string>

#include "proxy/tsrn_proxy_api.h"

namespace TSRN::ProxyManager {

class ProxyCredentials {
 public:
  // Asks the user for credentials for `host` (the dialog has no owner
  // window). 0 with `user` and `password` set (`user` drops a domain part
  // equal to `host` in any letter case), 5 when cancelled, 2 when the dialog
  // or the parsing of the user name fails. The outputs are emptied first.
  // With a `rejectedUser`, the proxy has just rejected that user's
  // credentials: the dialog shows its "incorrect password" state with the
  // name filled in, and is not answered from the credential store.
  [[nodiscard]] static PMStatus ShowCredentialDialog(
      const std::wstring& host, std::wstring& user, std::wstring& password,
      const std::wstring& rejectedUser = std::wstring());

  // Schemes are numbered as ProxyInfo::authScheme reports them (kScheme*).
  // Writes the entry for `host`, replacing an earlier one, with the stronger
  // of `scheme` (kScheme*) and the one the earlier entry records in its
  // comment (no comment when both are kSchemeNone). False, with nothing
  // written, for an empty host or user; false when the write fails.
  [[nodiscard]] static bool StoreCredentials(const std::wstring& host,
                                             const std::wstring& user,
                                             const std::wstring& password,
                                             std::uint32_t scheme);

  // Reads the entry for `host`. True with the outputs set (`scheme` is
  // kSchemeNone for an entry whose comment records no scheme); false,
  // outputs untouched, when the host is empty or there is no readable entry.
  [[nodiscard]] static bool LoadCredentials(const std::wstring& host,
                                            std::wstring& user,
                                            std::wstring& password,
                                            std::uint32_t& scheme);

  // The comment that records `scheme`, and the scheme a comment records, in
  // any letter case: kSchemeNone for text without our marker (a comment
  // another program wrote), kSchemeNtlm, the strongest, for our marker with
  // anything but a scheme name after it.
  [[nodiscard]] static std::wstring SchemeComment(std::uint32_t scheme);
  [[nodiscard]] static std::uint32_t SchemeOfComment(
      const std::wstring& comment);
};

}  // namespace TSRN::ProxyManager
