// UsageUtil.dll: the Windows binding of the event store.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>
#include <ctime>
#include <random>

#include "analytics/usage_store.h"
#include "analytics/usage_util.h"
#include "platform/win32/owned.h"

namespace {

std::wstring eventsFilePath() {
  platform::Owned<platform::TaskMemoryKind> base;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr,
                                  base.receive())) ||
      !base || *base.get() == L'\0') {
    return std::wstring();
  }
  std::wstring folder = std::wstring(base.get()) + L"\\Tessarin";
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += L"\\UsageUtil";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\events.jsonl";
}

std::string utcNow() {
  const __time64_t now = _time64(nullptr);
  std::tm utc{};
  if (_gmtime64_s(&utc, &now) != 0) return "1970-01-01T00:00:00Z";
  char buffer[32] = {};
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buffer;
}

std::string newSessionId() {
  std::random_device device;
  std::mt19937_64 generator((static_cast<unsigned long long>(device()) << 32) ^
                            device() ^ GetTickCount64() ^
                            GetCurrentProcessId());
  std::uniform_int_distribution<int> digit(0, 15);
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 32; ++i) id.push_back(kHex[digit(generator)]);
  return id;
}

UsageStore& store() {
  // Never destroyed: a worker thread may still track during process exit.
  static UsageStore* const instance =
      new UsageStore(eventsFilePath, utcNow, newSessionId);
  return *instance;
}

std::wstring text(const wchar_t* value) {
  return value != nullptr ? std::wstring(value) : std::wstring();
}

}  // namespace

bool UsageUtil::initialize(const wchar_t* product, bool flag) {
  return store().initialize(text(product), flag);
}

void UsageUtil::addCommonAttribute(const wchar_t* name, const wchar_t* value) {
  store().addCommonAttribute(text(name), text(value));
}

void UsageUtil::track(const wchar_t* event, const wchar_t* key,
                      const wchar_t* value) {
  store().track(text(event), text(key), text(value));
}

bool UsageUtil::unInitialize() { return store().unInitialize(); }
