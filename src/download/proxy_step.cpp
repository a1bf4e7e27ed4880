#include "download/proxy_step.h"

ProxyStepResult runProxyStep(void*, const std::string&) {
  return ProxyStepResult::kDirect;
}
