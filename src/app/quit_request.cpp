#include "app/quit_request.h"

#include "app/process_control.h"
#include "platform/clock.h"

namespace {

// Measures how long a window has been hung without a break.
class HungTimer {
 public:
  explicit HungTimer(platform::WindowHandle window) : window_(window) {}

  // Whether the window is hung now, remembering since when.
  bool hungNow() {
    if (!platform::isHungWindow(window_)) {
      hung_ = false;
      return false;
    }
    if (!hung_) {
      hung_ = true;
      since_ = platform::monotonicMilliseconds();
    }
    return true;
  }
  // True once it has been hung for the whole limit.
  bool hungTooLong() {
    return hungNow() &&
           platform::monotonicMilliseconds() - since_ >= kQuitHungLimitMs;
  }

 private:
  platform::WindowHandle window_;
  bool hung_ = false;
  std::uint64_t since_ = 0;
};

}  // namespace

bool sendQuitRequest(platform::WindowHandle window) {
  HungTimer timer(window);
  std::shared_ptr<platform::PendingMessage> pending =
      platform::sendMessageAsync(window, kQuitRequest, 0, 0);
  for (;;) {
    std::intptr_t reply = 0;
    switch (platform::waitForReply(*pending, kQuitPollMs, reply)) {
      case platform::MessageOutcome::answered:
        return reply != 0;
      case platform::MessageOutcome::waiting:
        // Once queued, the request is never sent again: a second one would
        // reach a download manager that is still asking its user about the
        // first.
        if (timer.hungTooLong()) return false;
        break;
      case platform::MessageOutcome::notDelivered:
        // Hung at the moment of sending, so nothing was queued: ask again
        // later. Not hung, the window is gone: a refusal.
        if (!timer.hungNow() || timer.hungTooLong()) return false;
        platform::sleepMilliseconds(kQuitPollMs);
        pending = platform::sendMessageAsync(window, kQuitRequest, 0, 0);
        break;
    }
  }
}
