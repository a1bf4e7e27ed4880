#include <stdlib.h>

#include <vector>

#include "platform/environment.h"

namespace platform {

bool isEnvironmentVariableDefined(const char* name) {
  return std::getenv(name) != nullptr;
}

bool readEnvironmentVariable(const std::wstring& name, std::wstring& value,
                             std::size_t maxUnits, bool& tooLong) {
  value.clear();
  tooLong = false;
  std::size_t required = 0;
  // The size query's own result is not used: msvcrt (Wine's at least)
  // answers ERANGE for the missing buffer while still giving the size.
  (void)_wgetenv_s(&required, nullptr, 0, name.c_str());
  if (required == 0) return false;
  if (required > maxUnits) {
    tooLong = true;
    return true;
  }
  std::vector<wchar_t> buffer(maxUnits, L'\0');
  if (_wgetenv_s(&required, buffer.data(), buffer.size(), name.c_str()) != 0) {
    tooLong = true;
    return true;
  }
  value = buffer.data();
  return true;
}

}  // namespace platform
