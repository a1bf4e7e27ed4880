// Proxy credentials: the Windows credential dialog, and one entry per proxy
// host in the Windows credential store. Passwords are never logged.
#pragma once

#include <string>

#include "proxy/tsrn_proxy_api.h"

namespace TSRN::ProxyManager {

class ProxyCredentials {
 public:
  // Asks the user for credentials for `host` (the dialog has no owner
  // window). 0 with `user` and `password` set (`user` drops a domain part
  // equal to `host` in any letter case), 5 when cancelled, 2 when the dialog
  // or the parsing of the user name fails. The outputs are emptied first.
  [[nodiscard]] static PMStatus ShowCredentialDialog(const std::wstring& host,
                                                     std::wstring& user,
                                                     std::wstring& password);

  // Writes the entry for `host`, replacing an earlier one. False, with
  // nothing written, for an empty host or user; false when the write fails.
  [[nodiscard]] static bool StoreCredentials(const std::wstring& host,
                                             const std::wstring& user,
                                             const std::wstring& password);

  // Reads the entry for `host`. True with the outputs set; false, outputs
  // untouched, when the host is empty or there is no readable entry.
  [[nodiscard]] static bool LoadCredentials(const std::wstring& host,
                                            std::wstring& user,
                                            std::wstring& password);
};

}  // namespace TSRN::ProxyManager
