#include "unit/test_support.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

#if defined(_WIN32)
#include <direct.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "common/text.h"
#include "fakes/fake_platform.h"
#include "proxy/rejected_credentials.h"
#include "unit/process_log.h"

namespace testing_support {

namespace {

void removeTree(const std::string& path) {
#if defined(_WIN32)
  std::string command = "rmdir /s /q \"" + path + "\" >nul 2>nul";
#else
  std::string command = "rm -rf '" + path + "'";
#endif
  (void)std::system(command.c_str());
}

}  // namespace

void PlatformTest::SetUp() {
  fake::reset();
  TSRN::ProxyManager::RejectedCredentials::OfThisProcess().Clear();
  fake::clock().fixed = true;
  std::istringstream("2026-12-07 06:00:37") >>
      std::get_time(&fake::clock().value, "%Y-%m-%d %H:%M:%S");
  ASSERT_TRUE(ProcessLog::bind()) << "the log was bound before this test";
  ProcessLog::mark();
}

TempDir::TempDir() {
#if defined(_WIN32)
  const char* base = std::getenv("TEMP");
  static int counter = 0;
  for (;;) {
    path_ = std::string(base != nullptr ? base : ".") + "\\tsdlm-test-" +
            std::to_string(_getpid()) + "-" + std::to_string(++counter);
    if (_mkdir(path_.c_str()) == 0) break;
  }
#else
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr ? base : "/tmp") + "/tsdlm-test-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
#endif
}

TempDir::~TempDir() { removeTree(path_); }

std::wstring TempDir::wpath() const {
  std::wstring out;
  (void)tsdlm::utf8ToUtf16(path_, out);
  return out;
}

std::string TempDir::file(const std::string& name) const {
  return path_ + "/" + name;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace testing_support
