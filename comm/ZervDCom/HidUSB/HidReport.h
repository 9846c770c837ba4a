#pragma once
// One HID report (byte 0 the report ID, then the payload) and a locked list of
// reports that does not own them.

#include <cstdint>
#include <memory>
#include <vector>

#include "Common/CriticalSection.h"

class HidReport {
 public:
  // payloadLength 0xFFFF is refused by the assertion check and cut to 0xFFFE,
  // so the total length still fits its 16 bits.
  HidReport(uint8_t reportId, uint16_t payloadLength);
  virtual ~HidReport();
  HidReport(const HidReport&) = delete;
  HidReport& operator=(const HidReport&) = delete;

  virtual uint16_t dataLength() const;
  // Clears the payload and copies len bytes to its start; more than the
  // payload holds fails the assertion check and is cut.
  virtual void setData(const uint8_t* src, unsigned len);
  // Copies the whole payload; a maximum below the payload length fails the
  // assertion check and copies only that many. Returns the count copied.
  virtual unsigned getData(uint8_t* dst, unsigned max) const;
  virtual void clearData();

  uint8_t* buffer() noexcept { return buf_.get(); }
  const uint8_t* buffer() const noexcept { return buf_.get(); }
  uint16_t totalLength() const noexcept { return totalLength_; }
  uint16_t payloadLength() const noexcept { return payloadLength_; }
  uint8_t reportId() const noexcept { return buf_[0]; }

 private:
  std::unique_ptr<uint8_t[]> buf_;
  uint16_t totalLength_;
  uint16_t payloadLength_;
};

class HidReportList {
 public:
  HidReportList() = default;
  virtual ~HidReportList();
  HidReportList(const HidReportList&) = delete;
  HidReportList& operator=(const HidReportList&) = delete;

  virtual void add(HidReport* report);
  // nullptr when index is outside the list.
  virtual HidReport* get(unsigned index) const;
  // Forgets every entry; the reports themselves live on.
  virtual void clear();
  unsigned size() const;

 private:
  mutable CriticalSection cs_;
  std::vector<HidReport*> reports_;
};
