#include "app/process_control.h"

#include "common/text.h"

bool isUpdaterInstance(const std::wstring& path) {
  return path.find(L"tsdlmupdater.exe") != std::wstring::npos &&
         path.find(L"tessarin shared") != std::wstring::npos;
}

bool isDownloadManager(const std::wstring& path) {
  return path.find(L"tsdlmgr.exe") != std::wstring::npos &&
         path.find(L"tessarin shared") != std::wstring::npos;
}

platform::ProcessId findProcess(const ImagePathPredicate& predicate) {
  std::vector<platform::ProcessId> ids;
  if (!platform::enumerateProcesses(ids)) return 0;
  const platform::ProcessId self = platform::currentProcessId();
  for (const platform::ProcessId id : ids) {
    if (id == self) continue;
    std::wstring path;
    if (!platform::processImagePath(id, path)) continue;
    if (predicate(tsdlm::lowerAsciiLetters(path))) return id;
  }
  return 0;
}

platform::WindowHandle findWindowOfProcess(platform::ProcessId) { return 0; }

bool quitDownloadManager(platform::ProcessId) { return false; }

bool launchInstaller(const std::wstring&) { return false; }
