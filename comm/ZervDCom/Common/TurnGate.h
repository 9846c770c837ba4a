#pragma once
// Writers take turns: a flag under a mutex, waited for with a time limit.
// (std::timed_mutex would do, but ThreadSanitizer cannot follow its
// pthread_mutex_clocklock and reports every unlock.)

#include <chrono>
#include <condition_variable>
#include <mutex>

class TurnGate {
 public:
  // Negative: no limit. False when the turn did not come in time.
  bool enter(int timeoutMs) {
    std::unique_lock<std::mutex> lk(m_);
    if (timeoutMs < 0)
      cv_.wait(lk, [&] { return !busy_; });
    else if (!cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return !busy_; }))
      return false;
    busy_ = true;
    return true;
  }
  void leave() {
    {
      std::lock_guard<std::mutex> lk(m_);
      busy_ = false;
    }
    cv_.notify_one();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool busy_ = false;
};
