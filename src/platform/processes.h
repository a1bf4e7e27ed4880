// Processes and their top-level windows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

using ProcessId = std::uint32_t;
// An opaque top-level window handle; 0 is no window.
using WindowHandle = std::uintptr_t;

// K32EnumProcesses into an array of 1024 ids. False when the call fails.
[[nodiscard]] bool enumerateProcesses(std::vector<ProcessId>& ids);

ProcessId currentProcessId();

// Opens the process with PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ
// and reads its full Win32 image path (up to 260 units). Returns false when
// the process cannot be opened; a path that cannot be read is empty.
[[nodiscard]] bool processImagePath(ProcessId id, std::wstring& path);

// Top-level windows in enumeration order (EnumWindows). Empty when the
// enumeration fails.
std::vector<WindowHandle> topLevelWindows();

// The id of the process that owns the window.
ProcessId windowProcessId(WindowHandle window);

// The window title (GetWindowTextW into a buffer that grows until the title
// fits). Sends no message to another process's window, so a hung one
// cannot block it.
std::wstring windowTitle(WindowHandle window);

bool isWindowEnabled(WindowHandle window);

// A message on its way to a window; defined by each implementation.
struct PendingMessage;

enum class MessageOutcome {
  waiting,       // sent, not answered yet
  answered,      // the window's procedure returned; the reply is set
  notDelivered,  // not queued: the window was hung at that moment, or gone
};

// Sends the message without waiting for it (SendMessageTimeoutW with
// SMTO_ABORTIFHUNG and no other limit, on a thread of its own). A window
// that is hung when the message would be queued does not get it at all.
std::shared_ptr<PendingMessage> sendMessageAsync(WindowHandle window,
                                                 unsigned message,
                                                 std::uintptr_t wParam,
                                                 std::intptr_t lParam);

// Waits up to `milliseconds` for the send to end.
MessageOutcome waitForReply(PendingMessage& pending, std::uint32_t milliseconds,
                            std::intptr_t& reply);

// The system's "not responding" test (IsHungAppWindow): the window's thread
// has not looked at its messages for several seconds and is not waiting
// for any. False for a window that does not exist.
bool isHungWindow(WindowHandle window);

// A process held open so that its end can be awaited: its id cannot name
// another process while it is held.
struct HeldProcess;
struct HeldProcessCloser {
  void operator()(HeldProcess* process) const;
};
using HeldProcessHandle = std::unique_ptr<HeldProcess, HeldProcessCloser>;

// Opens the process with SYNCHRONIZE. Null when it cannot be opened (it has
// ended, or it is not ours to watch).
HeldProcessHandle holdProcess(ProcessId id);

// Waits up to `milliseconds` for the held process to end; true once it has.
[[nodiscard]] bool waitForProcessEnd(HeldProcess& process,
                                     std::uint32_t milliseconds);

// Starts the program at `path` with no arguments (CreateProcessW, the
// command line being the quoted path alone) in `directory`, and lets it
// run. False when it cannot be started.
[[nodiscard]] bool startProgram(const std::wstring& path,
                                const std::wstring& directory);

}  // namespace platform
