#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/processes.h"
#include "platform/win32/owned.h"

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
  const OwnedHandle process(OpenProcess(
      PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, id));
  if (!process) return false;
  wchar_t buffer[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  // A path that cannot be read stays empty.
  (void)QueryFullProcessImageNameW(process.get(), 0, buffer, &size);
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
  // GetWindowTextLengthW sends WM_GETTEXTLENGTH, also to another process's
  // window, and would block on a hung download manager before the quit
  // request's own wait could notice. GetWindowTextW reads another
  // process's title without a message; the buffer grows until it fits.
  for (int size = 256; size <= 32768; size *= 2) {
    std::wstring title(static_cast<std::size_t>(size), L'\0');
    const int copied = GetWindowTextW(toHwnd(window), &title[0], size);
    if (copied < size - 1) {
      title.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
      return title;
    }
  }
  return std::wstring();
}

bool isWindowEnabled(WindowHandle window) {
  return IsWindowEnabled(toHwnd(window)) != FALSE;
}

struct PendingMessage {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  bool delivered = false;
  std::intptr_t reply = 0;
};

std::shared_ptr<PendingMessage> sendMessageAsync(WindowHandle window,
                                                 unsigned message,
                                                 std::uintptr_t wParam,
                                                 std::intptr_t lParam) {
  auto pending = std::make_shared<PendingMessage>();
  // The sending thread blocks for as long as the window takes; a caller
  // that gives up leaves it blocked until the process ends.
  std::thread([pending, window, message, wParam, lParam] {
    DWORD_PTR reply = 0;
    const LRESULT sent =
        SendMessageTimeoutW(toHwnd(window), message, wParam, lParam,
                            SMTO_ABORTIFHUNG, INFINITE, &reply);
    const std::lock_guard<std::mutex> lock(pending->mutex);
    pending->done = true;
    pending->delivered = sent != 0;
    pending->reply = static_cast<std::intptr_t>(reply);
    pending->ended.notify_all();
  }).detach();
  return pending;
}

MessageOutcome waitForReply(PendingMessage& pending, std::uint32_t milliseconds,
                            std::intptr_t& reply) {
  std::unique_lock<std::mutex> lock(pending.mutex);
  if (!pending.ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [&pending] { return pending.done; })) {
    return MessageOutcome::waiting;
  }
  if (!pending.delivered) return MessageOutcome::notDelivered;
  reply = pending.reply;
  return MessageOutcome::answered;
}

bool isHungWindow(WindowHandle window) {
  return IsHungAppWindow(toHwnd(window)) != FALSE;
}

struct HeldProcess {
  OwnedHandle handle;
};

void HeldProcessCloser::operator()(HeldProcess* process) const {
  delete process;
}

HeldProcessHandle holdProcess(ProcessId id) {
  OwnedHandle handle(OpenProcess(SYNCHRONIZE, FALSE, id));
  if (!handle) return HeldProcessHandle();
  return HeldProcessHandle(new HeldProcess{std::move(handle)});
}

bool waitForProcessEnd(HeldProcess& process, std::uint32_t milliseconds) {
  return WaitForSingleObject(process.handle.get(), milliseconds) ==
         WAIT_OBJECT_0;
}

bool startProgram(const std::wstring& path, const std::wstring& directory) {
  std::wstring commandLine = L"\"" + path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                      nullptr, directory.empty() ? nullptr : directory.c_str(),
                      &startup, &process)) {
    return false;
  }
  // Nothing waits for the program: its handles go at once.
  const OwnedHandle thread(process.hThread);
  const OwnedHandle started(process.hProcess);
  return true;
}

}  // namespace platform
