// Five UTF-8 strings: the request URL, the proxy being used and the
// credentials in use. Exported with its special members, all member-wise in
// field order; a move leaves every source string empty.
#pragma once

#include <string>

#include "proxy/proxy_export.h"

#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4251)  // std::string members of an exported class
#endif

namespace TSRN::ProxyManager {

class TSRN_PROXY_EXPORT UPIInfo {
 public:
  UPIInfo();
  ~UPIInfo();
  UPIInfo(const UPIInfo& other);
  UPIInfo(UPIInfo&& other) noexcept;
  UPIInfo& operator=(const UPIInfo& other);
  UPIInfo& operator=(UPIInfo&& other) noexcept;

  std::string url;
  std::string server;
  std::string serverPort;
  std::string user;
  std::string password;
};

}  // namespace TSRN::ProxyManager

#if defined(_MSC_VER)
#pragma warning(pop)
#endif
