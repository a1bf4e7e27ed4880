// The frame of a proxy manager: the lookup itself is the implementation's.
#pragma once

#include "proxy/tsrn_proxy_api.h"

namespace TSRN::ProxyManager {

class ProxyManagerImpl {
 public:
  virtual ~ProxyManagerImpl();

  // Answers one request. The strings put into `proxyInfo` are fresh malloc'd
  // copies owned by the caller.
  [[nodiscard]] virtual PMStatus GetProxyInfo(const UserData& userData,
                                              ProxyInfo& proxyInfo) = 0;

  // Clears the answer (ResetOutput), then 4 when `url` is null or empty,
  // else 0.
  [[nodiscard]] virtual PMStatus ValidateInput(const UserData& userData,
                                               ProxyInfo& proxyInfo);

  // Nulls the four strings and zeroes authScheme. Frees nothing: a caller
  // reusing an answer calls tsrnProxyDeallocate first.
  virtual void ResetOutput(ProxyInfo& proxyInfo);

 protected:
  ProxyManagerImpl() = default;
  ProxyManagerImpl(const ProxyManagerImpl&) = default;
  ProxyManagerImpl& operator=(const ProxyManagerImpl&) = default;
};

}  // namespace TSRN::ProxyManager
