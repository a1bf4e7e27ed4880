#include <windows.h>

#include "platform/console.h"
#include "platform/win32/owned.h"

namespace platform {

void writeToConsole(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  OwnedHandle opened;
  // A GUI program started from a console gets no standard handles unless
  // they were redirected; it can still write to its parent's console.
  if (out == nullptr || out == INVALID_HANDLE_VALUE ||
      GetFileType(out) == FILE_TYPE_UNKNOWN) {
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    opened.reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    if (!opened) return;
    out = opened.get();
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const std::size_t left = text.size() - done;
    const DWORD chunk = static_cast<DWORD>(left < 65536 ? left : 65536);
    DWORD written = 0;
    if (!WriteFile(out, text.data() + done, chunk, &written, nullptr) ||
        written == 0) {
      break;
    }
    done += written;
  }
}

}  // namespace platform
