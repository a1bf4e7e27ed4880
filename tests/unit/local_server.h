// tests/servers/update_server.py as a child process, for tests that need real
// HTTP traffic (native builds only).
#pragma once

#include <string>

#include "unit/script_server.h"

namespace testing_support {

class LocalServer {
 public:
  // Serves `root`; with `tlsDir` set, over HTTPS with a test CA made there.
  explicit LocalServer(const std::string& root, const std::string& tlsDir = "");

  int port() const { return server_.port(); }
  std::string url(const std::string& path) const;
  // POST /__control/rules with {path: rule}; `ruleJson` is the rule object.
  void setRule(const std::string& path, const std::string& ruleJson);
  // The JSON request log.
  std::string requests();

 private:
  bool tls_;
  ScriptServer server_;
};

}  // namespace testing_support
