// Reading INI files (the Windows profile API).
#pragma once

#include <string>

namespace platform {

// GetPrivateProfileStringW(section, key, defaultValue, buffer, 260, path)
// into a zeroed buffer of 260 units. The result is at most 259 units long:
// longer values (and defaults) are cut off by the API.
std::wstring readProfileString(const std::wstring& section,
                               const std::wstring& key,
                               const std::wstring& defaultValue,
                               const std::wstring& path);

}  // namespace platform
