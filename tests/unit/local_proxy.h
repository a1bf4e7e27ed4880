// tests/servers/test_proxy.py as a child process, for transfers through a
// real proxy (native builds only).
#pragma once

#include <string>
#include <vector>

#include "unit/script_server.h"

namespace testing_support {

class LocalProxy {
 public:
  // `arguments` are the proxy's options ("--auth", "basic", ...).
  explicit LocalProxy(const std::vector<std::string>& arguments)
      : server_("test_proxy.py", arguments) {}

  int port() const { return server_.port(); }
  // The JSON request log: method, target and proxy_authorization of each.
  std::string requests() const {
    return server_.request("GET", "http://127.0.0.1:" + std::to_string(port()) +
                                      "/__proxy/requests");
  }

 private:
  ScriptServer server_;
};

}  // namespace testing_support
