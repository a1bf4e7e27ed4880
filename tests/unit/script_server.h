// Runs one of the python test servers in tests/servers/ as a child process
// and reads the port it prints on its first line (native builds only).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class ScriptServer {
 public:
  // `script` is a file name in tests/servers/; `arguments` its options.
  ScriptServer(const std::string& script,
               const std::vector<std::string>& arguments);
  ~ScriptServer();
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  int port() const { return port_; }

  // Sends one request straight to the server (never through a proxy) and
  // returns the body; throws when the request fails.
  std::string request(const std::string& method, const std::string& url,
                      const std::string& body = "") const;

 private:
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace testing_support
