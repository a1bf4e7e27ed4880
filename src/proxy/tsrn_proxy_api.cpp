// The exported functions: check the pointers, run one proxy manager, answer.
// Nothing may throw across them.
#include "proxy/tsrn_proxy_api.h"

#include <cstdlib>

#include "proxy/proxy_manager_impl_win.h"

using TSRN::ProxyManager::ProxyInfo;
using TSRN::ProxyManager::ProxyManagerImplWin;
using TSRN::ProxyManager::UserData;

namespace {

void ReleaseText(char*& text) noexcept {
  std::free(text);
  text = nullptr;
}

}  // namespace

extern "C" {

int TSRN_PROXY_CALL tsrnGetProxyInfo(const UserData* userData,
                                     ProxyInfo* proxyInfo) {
  if (userData == nullptr || proxyInfo == nullptr) {
    return TSRN::ProxyManager::PM_STATUS_INVALID_INPUT;
  }
  try {
    ProxyManagerImplWin manager;
    return manager.GetProxyInfo(*userData, *proxyInfo);
  } catch (...) {
    // Out of memory inside the lookup; the answer holds nothing allocated,
    // since it is filled only at the end.
    return TSRN::ProxyManager::PM_STATUS_FAILURE;
  }
}

void TSRN_PROXY_CALL tsrnProxyDeallocate(ProxyInfo* proxyInfo) {
  if (proxyInfo == nullptr) return;
  ReleaseText(proxyInfo->server);
  ReleaseText(proxyInfo->serverPort);
  ReleaseText(proxyInfo->user);
  ReleaseText(proxyInfo->password);
  proxyInfo->authScheme = 0;
}

}  // extern "C"
