// The proxy step of a transfer: asks the proxy manager how to reach the URL
// and sets libcurl's proxy options accordingly.
#pragma once

#include <string>

enum class ProxyStepResult {
  kDirect,    // no proxy configured: nothing was set
  kProxySet,  // the proxy options are set on the handle
  kFailed,    // the transfer must not go ahead; the log entry is written
};

// `curl` is the transfer's CURL easy handle.
ProxyStepResult runProxyStep(void* curl, const std::string& url);
