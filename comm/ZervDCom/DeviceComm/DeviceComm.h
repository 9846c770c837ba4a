#pragma once
// The abstract connection every transport derives from. Operations never
// throw: they store the outcome as the last error and return false on failure.

#include <cstdint>
#include <string>

#include "Common/Event.h"  // kInfiniteMs

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
  const std::u16string& lastErrDetail() const noexcept { return lastErrDetail_; }

private:
  int lastErr_ = 1;
  std::u16string lastErrDetail_;
};

// Purge flags (as the C interface passes them).
namespace PurgeFlag {
constexpr unsigned AbortWrites = 1;
constexpr unsigned AbortReads = 2;
constexpr unsigned ClearOutput = 4;
constexpr unsigned ClearInput = 8;
}  // namespace PurgeFlag
