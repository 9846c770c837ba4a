#pragma once
// What a caller is waiting for: a number of bytes or a terminator byte. A
// helper step signals the request when the data buffer satisfies it.

#include <atomic>
#include <cstdint>

#include "Common/Event.h"

class ReadReq {
public:
  ReadReq();
  virtual ~ReadReq();
  ReadReq(const ReadReq&) = delete;
  ReadReq& operator=(const ReadReq&) = delete;

  virtual void signal();
  virtual void reset();
  virtual bool isPending() const = 0;

  WaitResult wait(int timeoutMs) { return event_.wait(timeoutMs); }
  Event& event() noexcept { return event_; }

private:
  Event event_{true, false};
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
