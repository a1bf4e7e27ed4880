// Wall-clock time.
#pragma once

#include <ctime>

namespace platform {

// The current time converted to local time (time zone and daylight saving
// honoured). Returns false when the conversion fails; `out` is then zeroed.
bool localNow(std::tm& out);

}  // namespace platform
