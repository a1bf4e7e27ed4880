// The download manager's quit request and how long the updater waits for
// its answer.
#pragma once

#include <cstdint>

#include "platform/processes.h"

// How long the window may stay hung (the system's "not responding" test)
// before the updater stops waiting; a window that is busy but looks at its
// messages (a dialog asking the user, say) is waited for without limit.
constexpr std::uint64_t kQuitHungLimitMs = 30000;
// How often the wait looks at the window.
constexpr std::uint32_t kQuitPollMs = 250;

// Sends the quit request (WM_USER + 3, wParam 0, lParam 0) to `window` and
// waits for the answer. True when the answer is non-zero. False when it is
// 0, when the window is gone, and when the window has been hung for
// kQuitHungLimitMs on end: before the request was queued (it is then never
// queued) or while it waits.
bool sendQuitRequest(platform::WindowHandle window);
