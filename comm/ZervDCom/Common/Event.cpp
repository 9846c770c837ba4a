#include "Common/Event.h"

#include <chrono>

Event::Event(bool manualReset, bool initiallySet) : set_(initiallySet), manual_(manualReset) {}

void Event::set() {
  {
    std::lock_guard<std::mutex> lk(mutex_);
    set_ = true;
  }
  if (manual_)
    cv_.notify_all();
  else
    cv_.notify_one();
}

void Event::reset() {
  std::lock_guard<std::mutex> lk(mutex_);
  set_ = false;
}

bool Event::isSet() const {
  std::lock_guard<std::mutex> lk(mutex_);
  return set_;
}

WaitResult Event::wait(int ms) {
  std::unique_lock<std::mutex> lk(mutex_);
  auto ready = [this] { return set_; };
  bool ok;
  if (ms < 0 || ms == kInfiniteMs) {
    cv_.wait(lk, ready);
    ok = true;
  } else {
    ok = cv_.wait_for(lk, std::chrono::milliseconds(ms), ready);
  }
  if (!ok) return WaitResult::TimedOut;
  if (!manual_) set_ = false;
  return WaitResult::Signalled;
}
