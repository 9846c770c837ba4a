#pragma once
// What a caller is waiting for: a number of bytes or a terminator byte. A
// helper step signals the request when the data buffer satisfies it.

#include <atomic>
#include <cstdint>

#include "Common/Event.h"
#include "Common/WakeFd.h"

class ReadReq {
 public:
  ReadReq();
  virtual ~ReadReq();
  ReadReq(const ReadReq&) = delete;
  ReadReq& operator=(const ReadReq&) = delete;

  virtual void signal();
  virtual void reset();
  virtual bool isPending() const = 0;
  // Signals for good: no later reset or arm clears it (the connection is
  // closing, and a purge in flight must not swallow the wake-up).
  void cancel();

  WaitResult wait(int timeoutMs) { return event_.wait(timeoutMs); }
  bool isSignalled() const { return event_.isSet(); }
  Event& event() noexcept { return event_; }
  // Readable while signalled, so a caller can poll() it with a device.
  int signalFd() const noexcept { return fd_.fd(); }

 private:
  Event event_{true, false};
  WakeFd fd_;
  std::atomic<bool> cancelled_{false};
};

class BytesReadReq : public ReadReq {
 public:
  void reset() override;
  bool isPending() const override;
  virtual void arm(unsigned count);
  unsigned wanted() const noexcept { return count_.load(); }

 private:
  std::atomic<unsigned> count_{0};
};

class CharReadReq : public ReadReq {
 public:
  void reset() override;
  bool isPending() const override;
  virtual void arm(uint8_t terminator);
  uint8_t terminator() const noexcept { return terminator_.load(); }

 private:
  std::atomic<uint8_t> terminator_{0};
  std::atomic<int32_t> pending_{0};
};
