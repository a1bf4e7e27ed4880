#include <windows.h>

#include "platform/debug_output.h"
#include "platform/win32/owned.h"

namespace platform {

void outputDebugStringW(const std::wstring& text) {
  OutputDebugStringW(text.c_str());
}

void outputDebugStringA(const std::string& text) {
  OutputDebugStringA(text.c_str());
}

std::uint32_t lastError() { return GetLastError(); }

void setLastError(std::uint32_t code) { SetLastError(code); }

std::wstring systemErrorText(std::uint32_t code) {
  OwnedLocal buffer;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, LANG_USER_DEFAULT,
      reinterpret_cast<LPWSTR>(buffer.receive()), 0, nullptr);
  return length != 0 && buffer
             ? std::wstring(static_cast<const wchar_t*>(buffer.get()), length)
             : std::wstring();
}

}  // namespace platform
