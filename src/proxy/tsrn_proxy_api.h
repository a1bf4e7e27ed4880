// The exported proxy interface: which proxy a request to a URL goes through,
// and with which credentials. The records are laid out exactly as in the
// public C header include/tsrn_proxy_manager.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "proxy/proxy_export.h"

namespace TSRN::ProxyManager {

// The request, filled by the caller. Strings are UTF-8.
struct UserData {
  const char* url;       // required, not empty
  const char* user;      // may be null
  const char* password;  // may be null
  // Non-zero: never show a dialog. A byte, as C callers pass it: any value
  // may arrive, so it is only ever compared with zero.
  unsigned char silent;
};

// The schemes of ProxyInfo::authScheme, and of a stored entry's comment:
// the higher, the stronger. 0: none.
constexpr std::uint32_t kSchemeNone = 0;
constexpr std::uint32_t kSchemeBasic = 1;
constexpr std::uint32_t kSchemeDigest = 2;
constexpr std::uint32_t kSchemeNtlm = 4;  // NTLM or Negotiate

// The answer, zeroed by the caller. Every string is a fresh malloc'd UTF-8
// copy owned by the caller, released with tsrnProxyDeallocate.
struct ProxyInfo {
  char* user;
  char* password;
  char* server;
  char* serverPort;
  std::uint32_t authScheme;  // 0 none, 1 Basic, 2 Digest, 4 NTLM/Negotiate
};

// Result of every operation of the interface. 3 is never produced.
enum PMStatus : int {
  PM_STATUS_SUCCESS = 0,
  PM_STATUS_NO_PROXY = 1,
  PM_STATUS_FAILURE = 2,
  PM_STATUS_INVALID_INPUT = 4,
  PM_STATUS_USER_CANCELLED = 5,
  PM_STATUS_SILENT_MODE_ERROR = 6,
};

static_assert(offsetof(UserData, silent) == 3 * sizeof(const char*),
              "UserData layout");
static_assert(offsetof(ProxyInfo, authScheme) == 4 * sizeof(char*),
              "ProxyInfo layout");

}  // namespace TSRN::ProxyManager

extern "C" {

// Returns a PMStatus. A null record pointer gives 4 at once: nothing is
// logged and the answer is not touched. Never throws.
TSRN_PROXY_EXPORT int TSRN_PROXY_CALL
tsrnGetProxyInfo(const TSRN::ProxyManager::UserData* userData,
                 TSRN::ProxyManager::ProxyInfo* proxyInfo);

// Frees server, serverPort, user and password (in this order, each when not
// null) with free, nulls them and zeroes authScheme. Null does nothing.
TSRN_PROXY_EXPORT void TSRN_PROXY_CALL
tsrnProxyDeallocate(TSRN::ProxyManager::ProxyInfo* proxyInfo);

}  // extern "C"
