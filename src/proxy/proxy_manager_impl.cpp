#include "proxy/proxy_manager_impl.h"

namespace TSRN::ProxyManager {

ProxyManagerImpl::~ProxyManagerImpl() = default;

PMStatus ProxyManagerImpl::ValidateInput(const UserData& userData,
                                         ProxyInfo& proxyInfo) {
  ResetOutput(proxyInfo);
  if (userData.url == nullptr || userData.url[0] == '\0') {
    return PM_STATUS_INVALID_INPUT;
  }
  return PM_STATUS_SUCCESS;
}

void ProxyManagerImpl::ResetOutput(ProxyInfo& proxyInfo) {
  proxyInfo = ProxyInfo{};
}

}  // namespace TSRN::ProxyManager
