#include "unit/local_proxy.h"

#include <curl/curl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace testing_support {

namespace {

std::size_t appendToString(char* data, std::size_t size, std::size_t count,
                           void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

}  // namespace

LocalProxy::LocalProxy(const std::vector<std::string>& arguments) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    const char* python = std::getenv("TSDLM_PYTHON");
    std::string interpreter = python != nullptr ? python : "/usr/bin/python3";
    std::string script =
        std::string(TSDLM_SOURCE_DIR) + "/tests/servers/test_proxy.py";
    std::vector<char*> argv{interpreter.data(), script.data()};
    std::vector<std::string> copies(arguments);
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(interpreter.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  std::FILE* stream = fdopen(out[0], "r");
  char line[64] = {};
  if (stream == nullptr || std::fgets(line, sizeof line, stream) == nullptr) {
    throw std::runtime_error("the test proxy did not start");
  }
  std::fclose(stream);
  port_ = std::atoi(line);
}

LocalProxy::~LocalProxy() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

std::string LocalProxy::requests() const {
  CURL* curl = curl_easy_init();
  std::string response;
  const std::string url =
      "http://127.0.0.1:" + std::to_string(port_) + "/__proxy/requests";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendToString);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  const CURLcode code = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) throw std::runtime_error("proxy log request failed");
  return response;
}

}  // namespace testing_support
