// Runs tests/servers/test_proxy.py as a child process for transfers through
// a real proxy (native builds only).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class LocalProxy {
 public:
  // `arguments` are the proxy's options ("--auth", "basic", ...).
  explicit LocalProxy(const std::vector<std::string>& arguments);
  ~LocalProxy();
  LocalProxy(const LocalProxy&) = delete;
  LocalProxy& operator=(const LocalProxy&) = delete;

  int port() const { return port_; }
  // The JSON request log: method, target and proxy_authorization of each.
  std::string requests() const;

 private:
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace testing_support
