#pragma once
// The locked byte store between a connection's helper threads and its callers.

#include <atomic>
#include <memory>

#include "Common/CriticalSection.h"
#include "DeviceComm/CircBuf.h"
#include "DeviceComm/DevDataBuf.h"

class CircDevDataBuf : public DevDataBuf {
 public:
  explicit CircDevDataBuf(unsigned capacity);
  ~CircDevDataBuf() override;

  void clear() override;
  // An overflowing write keeps the newest bytes.
  void write(const uint8_t* data, unsigned len) override;
  void read(uint8_t* dst, unsigned max, unsigned* got) override;
  unsigned find(uint8_t value, unsigned start, int end) override;
  // Read without the lock.
  unsigned count() const override;

  unsigned capacity() const;

 private:
  std::unique_ptr<CircBuf> buf_;
  mutable CriticalSection cs_;
  std::atomic<unsigned> count_{0};
};
