#pragma once
// The end of a bounded wait, from a time-out in milliseconds, so that a wait
// interrupted and resumed (EINTR, a stale signal) only waits for the time left.

#include <algorithm>
#include <chrono>

#include "Common/Event.h"

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  // A negative time-out or kInfiniteMs never ends.
  explicit Deadline(int timeoutMs)
      : infinite_(timeoutMs < 0 || timeoutMs == kInfiniteMs),
        end_(Clock::now() + std::chrono::milliseconds(infinite_ ? 0 : timeoutMs)) {}

  bool infinite() const noexcept { return infinite_; }

  // Milliseconds left, rounded up; 0 once passed; kInfiniteMs when it never ends.
  int msLeft() const {
    if (infinite_) return kInfiniteMs;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, kInfiniteMs - 1)) : 0;
  }

 private:
  bool infinite_;
  Clock::time_point end_;
};
