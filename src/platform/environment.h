// Process environment.
#pragma once

#include <string>

namespace platform {

// True when the variable is defined at all, whatever its value (getenv).
bool isEnvironmentVariableDefined(const char* name);

// The value of a variable as UTF-16 text. Returns false when it is not set.
// Values longer than `maxUnits` - 1 units are reported as `tooLong`.
bool readEnvironmentVariable(const std::wstring& name, std::wstring& value,
                             std::size_t maxUnits, bool& tooLong);

}  // namespace platform
