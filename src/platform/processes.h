// Processes and their top-level windows.
#pragma once

#include <cstdint>
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

// The window title (GetWindowTextLengthW, then GetWindowTextW).
std::wstring windowTitle(WindowHandle window);

bool isWindowEnabled(WindowHandle window);

// SendMessageW without time limit; returns the reply.
std::intptr_t sendMessage(WindowHandle window, unsigned message,
                          std::uintptr_t wParam, std::intptr_t lParam);

}  // namespace platform
