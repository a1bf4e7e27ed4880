#include "fakes/fake_platform.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "common/text.h"
#include "platform/analytics.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace fake {

FilesState& files() {
  static FilesState state;
  return state;
}
ClockState& clock() {
  static ClockState state;
  return state;
}
EnvironmentState& environment() {
  static EnvironmentState state;
  return state;
}
ProcessesState& processes() {
  static ProcessesState state;
  return state;
}
std::vector<AnalyticsCall>& analyticsCalls() {
  static std::vector<AnalyticsCall> calls;
  return calls;
}

void reset() {
  files() = FilesState{};
  clock() = ClockState{};
  environment() = EnvironmentState{};
  processes() = ProcessesState{};
  analyticsCalls().clear();
}

std::string localPath(const std::wstring& path) {
  std::string local = tsdlm::utf16ToUtf8(path);
#if !defined(_WIN32)
  for (char& c : local) {
    if (c == '\\') c = '/';
  }
#endif
  return local;
}

}  // namespace fake

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

#if defined(_WIN32)
std::wstring windowsPath(const std::wstring& path) { return path; }
#endif

}  // namespace

namespace platform {

std::wstring tempPath() { return fake::files().tempPath; }

std::wstring publicDocumentsPath() { return fake::files().publicDocuments; }

std::wstring pathAppend(const std::wstring& base, const std::wstring& more) {
  std::wstring result = base;
  std::size_t start = 0;
  while (start < more.size() && isSeparator(more[start])) ++start;
  if (!result.empty() && !isSeparator(result.back())) result.push_back(L'\\');
  result.append(more, start, std::wstring::npos);
  return result;
}

std::wstring pathRemoveFileSpec(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"\\/");
  if (last == std::wstring::npos) return std::wstring();
  return path.substr(0, last);
}

bool fileExists(const std::wstring& path) {
  struct stat info {};
  return ::stat(fake::localPath(path).c_str(), &info) == 0;
}

bool createDirectory(const std::wstring& path) {
  ++fake::files().createDirectoryCalls;
#if defined(_WIN32)
  return ::_mkdir(fake::localPath(path).c_str()) == 0;
#else
  return ::mkdir(fake::localPath(path).c_str(), 0755) == 0;
#endif
}

bool deleteFile(const std::wstring& path) {
  return std::remove(fake::localPath(path).c_str()) == 0;
}

std::FILE* openFile(const std::wstring& path, const wchar_t* mode) {
#if defined(_WIN32)
  return ::_wfopen(windowsPath(path).c_str(), mode);
#else
  return std::fopen(fake::localPath(path).c_str(),
                    tsdlm::narrowLow8(mode).c_str());
#endif
}

bool localNow(std::tm& out) {
  const fake::ClockState& state = fake::clock();
  if (state.fails) {
    std::memset(&out, 0, sizeof out);
    return false;
  }
  if (state.fixed) {
    out = state.value;
    return true;
  }
  const std::time_t now = std::time(nullptr);
#if defined(_WIN32)
  return localtime_s(&out, &now) == 0;
#else
  return localtime_r(&now, &out) != nullptr;
#endif
}

bool isEnvironmentVariableDefined(const char* name) {
  return fake::environment().variables.count(name) != 0;
}

bool readEnvironmentVariable(const std::wstring& name, std::wstring& value,
                             std::size_t maxUnits, bool& tooLong) {
  value.clear();
  tooLong = false;
  const auto& variables = fake::environment().variables;
  const auto found = variables.find(tsdlm::narrowLow8(name));
  if (found == variables.end() || found->second.empty()) return false;
  if (found->second.size() + 1 > maxUnits) {
    tooLong = true;
    return true;
  }
  value = found->second;
  return true;
}

bool enumerateProcesses(std::vector<ProcessId>& ids) {
  ids.clear();
  const fake::ProcessesState& state = fake::processes();
  if (state.enumerationFails) return false;
  for (const auto& process : state.processes) {
    if (ids.size() == 1024) break;
    ids.push_back(process.id);
  }
  return true;
}

ProcessId currentProcessId() { return fake::processes().self; }

bool processImagePath(ProcessId id, std::wstring& path) {
  path.clear();
  for (const auto& process : fake::processes().processes) {
    if (process.id != id) continue;
    if (!process.canOpen) return false;
    path = process.imagePath.substr(0, 259);
    return true;
  }
  return false;
}

std::vector<WindowHandle> topLevelWindows() {
  std::vector<WindowHandle> handles;
  const fake::ProcessesState& state = fake::processes();
  if (state.windowEnumerationFails) return handles;
  for (const auto& window : state.windows) handles.push_back(window.handle);
  return handles;
}

namespace {

const fake::FakeWindow* findWindow(WindowHandle handle) {
  for (const auto& window : fake::processes().windows) {
    if (window.handle == handle) return &window;
  }
  return nullptr;
}

}  // namespace

ProcessId windowProcessId(WindowHandle window) {
  const fake::FakeWindow* found = findWindow(window);
  return found != nullptr ? found->owner : 0;
}

std::wstring windowTitle(WindowHandle window) {
  const fake::FakeWindow* found = findWindow(window);
  return found != nullptr ? found->title : std::wstring();
}

bool isWindowEnabled(WindowHandle window) {
  const fake::FakeWindow* found = findWindow(window);
  return found != nullptr && found->enabled;
}

std::intptr_t sendMessage(WindowHandle window, unsigned message,
                          std::uintptr_t wParam, std::intptr_t lParam) {
  fake::processes().sent.push_back({window, message, wParam, lParam});
  const fake::FakeWindow* found = findWindow(window);
  return found != nullptr ? found->reply : 0;
}

}  // namespace platform

namespace platform::analytics {

namespace {
std::wstring text(const wchar_t* value) {
  return value != nullptr ? value : L"";
}
}  // namespace

bool initialize(const wchar_t* product, bool flag) {
  fake::AnalyticsCall call{"initialize", text(product), L"", L"", flag};
  fake::analyticsCalls().push_back(call);
  return true;
}

void addCommonAttribute(const wchar_t* name, const wchar_t* value) {
  fake::analyticsCalls().push_back(
      {"addCommonAttribute", text(name), text(value), L"", false});
}

void track(const wchar_t* event, const wchar_t* key, const wchar_t* value) {
  fake::analyticsCalls().push_back(
      {"track", text(event), text(key), text(value), false});
}

bool unInitialize() {
  fake::analyticsCalls().push_back({"unInitialize", L"", L"", L"", false});
  return true;
}

}  // namespace platform::analytics
