// The blocking waits of the connection sequences (50 ms to 1000 ms) all go
// through delayMs, so the windowed application can keep its event loop running
// while it waits and tests can make the waits instant.
#pragma once

#include <functional>

namespace zrq::ui {

using DelayFunction = std::function<void(int ms)>;

void delayMs(int ms);
// An empty function restores the default (a plain sleep of the calling thread).
void setDelayFunction(DelayFunction fn);

// For tests: every delay returns at once; the total asked for is kept.
class ScopedInstantDelay {
 public:
  ScopedInstantDelay();
  ~ScopedInstantDelay();
  ScopedInstantDelay(const ScopedInstantDelay&) = delete;
  ScopedInstantDelay& operator=(const ScopedInstantDelay&) = delete;
  long long totalMs() const { return total_; }

 private:
  long long total_ = 0;
};

}  // namespace zrq::ui
