// Wall-clock time, and a clock for measuring how long something takes.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// The current time converted to local time (time zone and daylight saving
// honoured). Returns false when the conversion fails; `out` is then zeroed.
bool localNow(std::tm& out);

// Seconds since 1970-01-01 00:00 UTC by the system's clock.
std::int64_t utcSecondsNow();

// Milliseconds since an arbitrary start, never going back (GetTickCount64).
std::uint64_t monotonicMilliseconds();

// Blocks the calling thread for about `milliseconds` (Sleep).
void sleepMilliseconds(std::uint32_t milliseconds);

}  // namespace platform
