// Runs tests/servers/update_server.py as a child process for tests that need
// real HTTP traffic (native builds only).
#pragma once

#include <string>

namespace testing_support {

class LocalServer {
 public:
  // Serves `root`; with `tlsDir` set, over HTTPS with a test CA made there.
  explicit LocalServer(const std::string& root, const std::string& tlsDir = "");
  ~LocalServer();
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path) const;
  // POST /__control/rules with {path: rule}; `ruleJson` is the rule object.
  void setRule(const std::string& path, const std::string& ruleJson);
  // The JSON request log.
  std::string requests();

 private:
  std::string control(const std::string& method, const std::string& what,
                      const std::string& body);
  int pid_ = -1;
  int port_ = 0;
  bool tls_ = false;
};

}  // namespace testing_support
