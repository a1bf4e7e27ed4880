#include "unit/script_server.h"

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

ScriptServer::ScriptServer(const std::string& script,
                           const std::vector<std::string>& arguments) {
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
    std::string path =
        std::string(TSDLM_SOURCE_DIR) + "/tests/servers/" + script;
    std::vector<std::string> copies(arguments);
    std::vector<char*> argv{&interpreter[0], &path[0]};
    for (std::string& argument : copies) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    execv(interpreter.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  std::FILE* stream = fdopen(out[0], "r");
  char line[64] = {};
  const bool started =
      stream != nullptr && std::fgets(line, sizeof line, stream) != nullptr;
  if (stream != nullptr) std::fclose(stream);
  if (!started) throw std::runtime_error(script + " did not start");
  port_ = std::atoi(line);
}

ScriptServer::~ScriptServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

std::string ScriptServer::request(const std::string& method,
                                  const std::string& url,
                                  const std::string& body) const {
  CURL* curl = curl_easy_init();
  std::string response;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendToString);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  if (!body.empty()) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  const CURLcode code = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK)
    throw std::runtime_error("request to " + url + " failed");
  return response;
}

}  // namespace testing_support
