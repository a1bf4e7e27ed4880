#include "unit/test_support.h"

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "common/text.h"
#include "fakes/fake_platform.h"
#include "proxy/rejected_credentials.h"
#include "unit/process_log.h"

namespace testing_support {

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
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  // Test processes run side by side: each starts at a random name and passes
  // over one that is taken (or being removed).
  unsigned name = std::random_device{}();
  for (int tries = 0; tries < 100; ++tries, ++name) {
    path_ = (base / ("tsdlm-test-" + std::to_string(name))).string();
    std::error_code taken;
    if (std::filesystem::create_directory(path_, taken)) return;
  }
  throw std::runtime_error("cannot make a folder in " + base.string());
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

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
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

}  // namespace testing_support
