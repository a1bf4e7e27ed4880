#include <windows.h>
#include <psapi.h>

#include "platform/processes.h"

namespace platform {

bool enumerateProcesses(std::vector<ProcessId>& ids) {
  ids.clear();
  DWORD buffer[1024] = {};
  DWORD bytes = 0;
  if (!K32EnumProcesses(buffer, sizeof buffer, &bytes)) return false;
  ids.assign(buffer, buffer + bytes / sizeof(DWORD));
  return true;
}

ProcessId currentProcessId() { return GetCurrentProcessId(); }

bool processImagePath(ProcessId id, std::wstring& path) {
  path.clear();
  HANDLE process = OpenProcess(
      PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, id);
  if (process == nullptr) return false;
  wchar_t buffer[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  // A path that cannot be read stays empty.
  (void)QueryFullProcessImageNameW(process, 0, buffer, &size);
  CloseHandle(process);
  path = buffer;
  return true;
}

namespace {

BOOL CALLBACK collectWindow(HWND window, LPARAM context) {
  reinterpret_cast<std::vector<WindowHandle>*>(context)->push_back(
      reinterpret_cast<WindowHandle>(window));
  return TRUE;
}

HWND toHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

}  // namespace

std::vector<WindowHandle> topLevelWindows() {
  std::vector<WindowHandle> windows;
  if (!EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&windows))) {
    windows.clear();
  }
  return windows;
}

ProcessId windowProcessId(WindowHandle window) {
  DWORD id = 0;
  GetWindowThreadProcessId(toHwnd(window), &id);
  return id;
}

std::wstring windowTitle(WindowHandle window) {
  const int length = GetWindowTextLengthW(toHwnd(window));
  if (length <= 0) return std::wstring();
  std::wstring title(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(toHwnd(window), &title[0], length + 1);
  title.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return title;
}

bool isWindowEnabled(WindowHandle window) {
  return IsWindowEnabled(toHwnd(window)) != FALSE;
}

std::intptr_t sendMessage(WindowHandle window, unsigned message,
                          std::uintptr_t wParam, std::intptr_t lParam) {
  return SendMessageW(toHwnd(window), message, wParam, lParam);
}

}  // namespace platform
