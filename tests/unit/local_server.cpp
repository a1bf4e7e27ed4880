#include "unit/local_server.h"

#include <vector>

namespace testing_support {

namespace {

std::vector<std::string> serverArguments(const std::string& root,
                                         const std::string& tlsDir) {
  std::vector<std::string> arguments{"--root", root};
  if (!tlsDir.empty()) {
    arguments.push_back("--tls-dir");
    arguments.push_back(tlsDir);
  }
  return arguments;
}

}  // namespace

LocalServer::LocalServer(const std::string& root, const std::string& tlsDir)
    : tls_(!tlsDir.empty()),
      server_("update_server.py", serverArguments(root, tlsDir)) {}

std::string LocalServer::url(const std::string& path) const {
  return std::string(tls_ ? "https" : "http") +
         "://127.0.0.1:" + std::to_string(port()) + path;
}

void LocalServer::setRule(const std::string& path,
                          const std::string& ruleJson) {
  server_.request("POST", url("/__control/rules"),
                  "{\"" + path + "\": " + ruleJson + "}");
}

std::string LocalServer::requests() {
  return server_.request("GET", url("/__control/requests"));
}

}  // namespace testing_support
