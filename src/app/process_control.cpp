#include "app/process_control.h"

#include "app/quit_request.h"
#include "common/text.h"
#include "config/logger.h"
#include "platform/files.h"
#include "platform/shell.h"

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

platform::WindowHandle findWindowOfProcess(platform::ProcessId processId) {
  std::vector<platform::WindowHandle> owned;
  for (const platform::WindowHandle window : platform::topLevelWindows()) {
    if (platform::windowProcessId(window) == processId) owned.push_back(window);
  }
  for (const platform::WindowHandle window : owned) {
    if (platform::windowTitle(window).find(L"Tessarin Download Manager") !=
        std::wstring::npos) {
      return window;
    }
  }
  return 0;
}

bool quitDownloadManager(platform::ProcessId processId) {
  const platform::WindowHandle window = findWindowOfProcess(processId);
  if (window == 0) {
    Logger::instance().write("[ERROR] Failed to get running DLM handle!\r\n");
    return false;
  }
  // A disabled main window (a modal dialog is open) is not asked to quit.
  if (!platform::isWindowEnabled(window)) return false;
  // The download manager starts shutting down when it handles the request
  // and answers non-zero; the updater does not wait for it to exit.
  return sendQuitRequest(window);
}

bool launchInstaller(const std::wstring& path,
                     const std::function<void()>& started) {
  // The installer path and its folder must fit buffers of 260 units,
  // terminator included; a longer path is refused as a failed launch.
  constexpr std::size_t kMaxPathUnits = 260;
  if (path.size() >= kMaxPathUnits) return false;
  const std::wstring folder = platform::pathRemoveFileSpec(path);
  Logger::instance().write(tsdlm::narrowLow8(path) + "\r\n");
  const platform::ShellRunResult run =
      platform::shellRunAndWait(path, L"-quiet", folder, started);
  // An exit code that cannot be read is no proof of a successful install.
  return run.started && run.exitCodeKnown && run.exitCode == 0;
}
