#pragma once
// The abstract connection every transport derives from. Operations never
// throw: they store the outcome as the last error and return false on failure.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "Common/Event.h"  // kInfiniteMs
#include "Common/WakeFd.h"

class DeviceComm {
 public:
  DeviceComm() = default;
  DeviceComm(const DeviceComm&) = delete;
  DeviceComm& operator=(const DeviceComm&) = delete;
  virtual ~DeviceComm();

  virtual bool open() = 0;
  virtual bool close() = 0;
  virtual bool write(const uint8_t* data, unsigned len, unsigned* written, int timeoutMs) = 0;
  virtual bool read(uint8_t* buf, unsigned len, unsigned* got, int timeoutMs) = 0;
  virtual bool readInBuff(uint8_t* buf, unsigned len, unsigned* got) = 0;
  virtual bool readLine(uint8_t* buf, unsigned bufLen, unsigned* got, int timeoutMs) = 0;
  virtual bool purge(unsigned flags) = 0;
  virtual bool isPortAvail() = 0;

  virtual int getLastErr() const;
  // Copies the code's message (and, with appendDetail, this connection's last
  // error detail) with its terminator into buf; false when the code has no
  // message or the text does not fit (its length must be below bufLen).
  virtual bool translateLastErr(int code, char16_t* buf, unsigned bufLen, bool appendDetail) const;
  virtual void setLastErr(int code, const char16_t* detail = nullptr);

  void setLastErr(int code, const std::u16string& detail);
  // Inside a catch block: the last-error rule of the exception being handled.
  void setLastErrFromCurrentException() noexcept;
  std::u16string lastErrDetail() const;

  // Calls in flight and the close that outlives them. Every call from
  // outside enters first and leaves when done; shutDown() marks the
  // connection closing, wakes every wait of the calls in flight and waits
  // until the last has left, so close() never frees anything under a call.
  // A call that tries to enter after that is refused.
  bool enterCall();
  void leaveCall();
  void shutDown();
  bool isClosing() const noexcept { return closing_.load(); }
  // Readable from the moment the connection is closing: every wait a caller's
  // thread makes on a device includes it.
  int closingFd() const noexcept { return closingFd_.fd(); }

 protected:
  // Wakes the waits that do not poll closingFd() (request events and the
  // like). Runs once, after the closing mark is set.
  virtual void wakeWaiters();

 private:
  mutable std::mutex errMutex_;
  int lastErr_ = 1;
  std::u16string lastErrDetail_;

  std::mutex callsMutex_;
  std::condition_variable callsDone_;
  unsigned callsInFlight_ = 0;
  std::atomic<bool> closing_{false};
  WakeFd closingFd_;
};

// Holds a connection's call open for a scope (see DeviceComm::enterCall).
class CallScope {
 public:
  explicit CallScope(DeviceComm& dc) : dc_(dc), entered_(dc.enterCall()) {}
  ~CallScope() {
    if (entered_) dc_.leaveCall();
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
  explicit operator bool() const noexcept { return entered_; }

 private:
  DeviceComm& dc_;
  bool entered_;
};

// The largest data buffer or queue a connection accepts; 0 is refused too.
constexpr unsigned kMaxBufferSize = 16u << 20;
inline bool bufferSizeOk(unsigned size) noexcept { return size != 0 && size <= kMaxBufferSize; }

// Purge flags (as the C interface passes them).
namespace PurgeFlag {
constexpr unsigned AbortWrites = 1;
constexpr unsigned AbortReads = 2;
constexpr unsigned ClearOutput = 4;
constexpr unsigned ClearInput = 8;
}  // namespace PurgeFlag
