// The one time limit of a proxy lookup's probes. Time spent waiting for the
// user in the credential dialog does not count.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace TSRN::ProxyManager {

class LookupDeadline {
 public:
  static constexpr std::uint64_t kLimitMs = 60000;

  // Starts now.
  LookupDeadline() : start_(platform::monotonicMilliseconds()) {}

  // Milliseconds left; 0 once the limit has passed.
  [[nodiscard]] std::uint64_t RemainingMs() const {
    const std::uint64_t elapsed = platform::monotonicMilliseconds() - start_;
    return elapsed >= kLimitMs ? 0 : kLimitMs - elapsed;
  }
  [[nodiscard]] bool Expired() const { return RemainingMs() == 0; }

  // Moves the limit back by time that does not count.
  void Exclude(std::uint64_t milliseconds) { start_ += milliseconds; }

 private:
  std::uint64_t start_;
};

}  // namespace TSRN::ProxyManager
