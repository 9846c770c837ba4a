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

// A library call that may block for seconds (a reply's time-out) goes through
// callResponsive. On the thread that installed a wait function, the call runs
// on a helper thread while the wait function keeps the windows alive and
// returns once finished() is true; on any other thread, or with no wait
// function, the call runs directly. An exception of the call reaches the caller.
using WaitFunction = std::function<void(const std::function<bool()>& finished)>;
void setWaitFunction(WaitFunction fn);  // for the calling thread; empty: none
void callResponsive(const std::function<void()>& call);

// Told when a responsive call has been waiting long enough to say so, and when
// it ends. Called on the thread that installed the wait function.
using WaitIndicator = std::function<void(bool waiting)>;
void setWaitIndicator(WaitIndicator fn);
void indicateWait(bool waiting);

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
