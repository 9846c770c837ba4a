#pragma once
// Manual- or auto-reset event with a bounded wait.

#include <condition_variable>
#include <mutex>

// Time-outs in milliseconds; this value means waiting without limit.
constexpr int kInfiniteMs = 0x7FFFFFFF;

enum class WaitResult { Signalled, TimedOut };

class Event {
 public:
  explicit Event(bool manualReset = true, bool initiallySet = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  bool isSet() const;
  // ms: 0 polls, kInfiniteMs (or any negative) waits without limit.
  WaitResult wait(int ms);

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool set_;
  const bool manual_;
};
