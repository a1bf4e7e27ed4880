// One proxy taken from a proxy list, to be probed in list order.
#pragma once

#include <string>

namespace TSRN::ProxyManager {

struct ProxyCandidate {
  std::string server;      // UTF-8, exactly as written (IPv6 keeps brackets)
  std::string serverPort;  // UTF-8 decimal text, not validated
};

inline bool operator==(const ProxyCandidate& a, const ProxyCandidate& b) {
  return a.server == b.server && a.serverPort == b.serverPort;
}

}  // namespace TSRN::ProxyManager
