#include "unit/local_server.h"

#include <curl/curl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace testing_support {

namespace {

std::string serverScript() {
  return std::string(TSDLM_SOURCE_DIR) + "/tests/servers/update_server.py";
}

std::size_t appendToString(char* data, std::size_t size, std::size_t count,
                           void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

}  // namespace

LocalServer::LocalServer(const std::string& root, const std::string& tlsDir)
    : tls_(!tlsDir.empty()) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    const char* python = std::getenv("TSDLM_PYTHON");
    const std::string interpreter = python != nullptr ? python : "/usr/bin/python3";
    const std::string script = serverScript();
    if (tlsDir.empty()) {
      execl(interpreter.c_str(), interpreter.c_str(), script.c_str(), "--root",
            root.c_str(), static_cast<char*>(nullptr));
    } else {
      execl(interpreter.c_str(), interpreter.c_str(), script.c_str(), "--root",
            root.c_str(), "--tls-dir", tlsDir.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  close(out[1]);
  std::FILE* stream = fdopen(out[0], "r");
  char line[64] = {};
  if (stream == nullptr || std::fgets(line, sizeof line, stream) == nullptr) {
    throw std::runtime_error("the update server did not start");
  }
  std::fclose(stream);
  port_ = std::atoi(line);
}

LocalServer::~LocalServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

std::string LocalServer::url(const std::string& path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" +
         std::to_string(port_) + path;
}

std::string LocalServer::control(const std::string& method,
                                 const std::string& what,
                                 const std::string& body) {
  CURL* curl = curl_easy_init();
  std::string response;
  curl_easy_setopt(curl, CURLOPT_URL, url("/__control/" + what).c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendToString);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  if (!body.empty()) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  const CURLcode code = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) throw std::runtime_error("control request failed");
  return response;
}

void LocalServer::setRule(const std::string& path, const std::string& ruleJson) {
  control("POST", "rules", "{\"" + path + "\": " + ruleJson + "}");
}

std::string LocalServer::requests() { return control("GET", "requests", ""); }

}  // namespace testing_support
