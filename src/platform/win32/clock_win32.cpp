#include <windows.h>
#include <time.h>

#include <cstring>

#include "platform/clock.h"

namespace platform {

bool localNow(std::tm& out) {
  const __time64_t now = _time64(nullptr);
  // _localtime64 honours the time zone and daylight saving.
  const std::tm* local = _localtime64(&now);
  if (local == nullptr) {
    std::memset(&out, 0, sizeof out);
    return false;
  }
  out = *local;
  return true;
}

std::int64_t utcSecondsNow() {
  return static_cast<std::int64_t>(_time64(nullptr));
}

std::uint64_t monotonicMilliseconds() { return GetTickCount64(); }

void sleepMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
