#include "win/win_support.h"

// <windows.h> first: the shell headers rely on it.
#include <windows.h>

#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "config/logger.h"
#include "unit/test_support.h"

namespace win_support {

namespace {

using testing_support::kProductFolder;
using testing_support::kX86ProductFolder;

std::wstring moduleFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  PathRemoveFileSpecW(path);
  return path;
}

void putVariable(const std::wstring& name, const wchar_t* value) {
  // "NAME=" removes the variable; the C runtime passes the change on to the
  // process environment (GetTempPathW reads that one).
  const std::wstring assignment =
      name + L"=" + (value != nullptr ? value : L"");
  ASSERT_EQ(_wputenv(assignment.c_str()), 0);
}

}  // namespace

std::wstring fixture(const wchar_t* name) {
  std::wstring folder = moduleFolder();
  const std::size_t slash = folder.find_last_of(L'\\');
  return folder.substr(0, slash) + L"\\fixtures\\" + name + L".exe";
}

ProductFiles::ProductFiles() { clear(); }

ProductFiles::~ProductFiles() { clear(); }

void ProductFiles::clear() {
  for (const std::wstring& folder : {kProductFolder, kX86ProductFolder}) {
    DeleteFileW((folder + L"update.ini").c_str());
    DeleteFileW((folder + L"TSRN.DLM.exe").c_str());
  }
}

void ProductFiles::writeIni(const std::string& content, bool x86) const {
  const std::wstring folder = x86 ? kX86ProductFolder : kProductFolder;
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  std::ofstream file(std::filesystem::path(folder + L"update.ini"),
                     std::ios::binary);
  ASSERT_TRUE(file << content);
}

void ProductFiles::install(const wchar_t* fixtureName, bool x86) const {
  const std::wstring folder = x86 ? kX86ProductFolder : kProductFolder;
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  copyFile(fixture(fixtureName), folder + L"TSRN.DLM.exe");
}

ScopedVariable::ScopedVariable(const std::wstring& name, const wchar_t* value)
    : name_(name) {
  const wchar_t* old = _wgetenv(name.c_str());
  had_ = old != nullptr;
  if (had_) old_ = old;
  putVariable(name, value);
}

ScopedVariable::~ScopedVariable() {
  putVariable(name_, had_ ? old_.c_str() : nullptr);
}

namespace {

std::wstring newScratchFolder() {
  wchar_t base[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, base);
  static int counter = 0;
  for (;;) {
    const std::wstring path = std::wstring(base) + L"tsdlm-win-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++counter);
    if (CreateDirectoryW(path.c_str(), nullptr)) return path + L"\\";
  }
}

}  // namespace

ScratchTemp::ScratchTemp()
    : path_(newScratchFolder()),
      tmp_(L"TMP", path_.c_str()),
      temp_(L"TEMP", path_.c_str()) {}

ScratchTemp::~ScratchTemp() {
  // path() ends in a separator: the folder is its parent path.
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(path_).parent_path(),
                              ignored);
}

bool fileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void copyFile(const std::wstring& from, const std::wstring& to) {
  ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE))
      << "cannot copy the fixture, error " << GetLastError();
}

namespace {

// Binds the logger before any test runs, in a temporary folder of its own,
// and closes it (then removes the folder) after the last one.
class LogEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    scratch_.emplace();
    (void)Logger::start(RunOptions());
    file_ = scratch_->path() + L"TsDLM\\TsDLMUpdater.log";
  }
  void TearDown() override {
    Logger::instance().close();
    scratch_.reset();
  }
  inline static std::wstring file_;
  inline static std::size_t mark_ = 0;

 private:
  std::optional<ScratchTemp> scratch_;
};

[[maybe_unused]] ::testing::Environment* const kLogEnvironment =
    ::testing::AddGlobalTestEnvironment(new LogEnvironment);

std::string readAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

void ProcessLog::mark() {
  LogEnvironment::mark_ = readAll(LogEnvironment::file_).size();
}

std::string ProcessLog::sinceMark() {
  const std::string content = readAll(LogEnvironment::file_);
  return content.size() >= LogEnvironment::mark_
             ? content.substr(LogEnvironment::mark_)
             : content;
}

}  // namespace win_support
