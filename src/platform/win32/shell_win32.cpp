#include <windows.h>
#include <shellapi.h>

#include "platform/shell.h"
#include "platform/win32/owned.h"

namespace platform {

ShellRunResult shellRunAndWait(const std::wstring& file,
                               const std::wstring& parameters,
                               const std::wstring& directory,
                               const std::function<void()>& started) {
  ShellRunResult result;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = directory.c_str();
  info.nShow = SW_SHOWNORMAL;
  const BOOL executed = ShellExecuteExW(&info);
  const OwnedHandle process(info.hProcess);
  if (!executed || !process) {
    // Not started; or handed to something (a document association) without
    // a process to wait for, which tells nothing of an installation.
    return result;
  }
  result.started = true;
  if (started) started();
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process.get(), &code)) {
    result.exitCodeKnown = true;
    result.exitCode = code;
  }
  return result;
}

}  // namespace platform
