#include <windows.h>

#include "platform/profile.h"

namespace platform {

std::wstring readProfileString(const std::wstring& section,
                               const std::wstring& key,
                               const std::wstring& defaultValue,
                               const std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  // The API always terminates the buffer and returns the number of units
  // copied, so a value of any length is cut off at 259 units.
  const DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(),
                                                defaultValue.c_str(), buffer,
                                                MAX_PATH, path.c_str());
  return std::wstring(buffer, length < MAX_PATH ? length : MAX_PATH - 1);
}

}  // namespace platform
