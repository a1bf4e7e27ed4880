// Starting a program through the shell and waiting for it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

struct ShellRunResult {
  bool started = false;        // ShellExecuteExW gave a process
  bool exitCodeKnown = false;  // GetExitCodeProcess succeeded
  std::uint32_t exitCode = 0;
};

// ShellExecuteExW with verb "open", no owner window, SW_SHOWNORMAL and
// SEE_MASK_NOCLOSEPROCESS; then waits for the process without a time limit
// and reads its exit code. `started` is called once the process exists,
// before the wait; a call that succeeds without giving a process counts as
// not started. The process handle is closed on every path.
ShellRunResult shellRunAndWait(const std::wstring& file,
                               const std::wstring& parameters,
                               const std::wstring& directory,
                               const std::function<void()>& started);

}  // namespace platform
