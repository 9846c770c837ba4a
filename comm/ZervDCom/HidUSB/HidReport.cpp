#include "HidUSB/HidReport.h"

#include <algorithm>
#include <cstring>

#include "Common/Assertion.h"
#include "HidUSB/HidUSBExc.h"

HidUSBExc::~HidUSBExc() = default;
HidUSBWin32Exc::~HidUSBWin32Exc() = default;

HidReport::HidReport(uint8_t reportId, uint16_t payloadLength) {
  ZRQ_ASSERT(payloadLength != 0xFFFF);
  payloadLength_ = std::min<uint16_t>(payloadLength, 0xFFFE);
  totalLength_ = static_cast<uint16_t>(payloadLength_ + 1);
  buf_ = std::make_unique<uint8_t[]>(totalLength_);
  buf_[0] = reportId;
  std::memset(buf_.get() + 1, 0, payloadLength_);
}

HidReport::~HidReport() = default;

uint16_t HidReport::dataLength() const { return payloadLength_; }

void HidReport::setData(const uint8_t* src, unsigned len) {
  ZRQ_ASSERT(len <= payloadLength_);
  clearData();
  if (!src) return;
  std::memcpy(buf_.get() + 1, src, std::min<unsigned>(len, payloadLength_));
}

unsigned HidReport::getData(uint8_t* dst, unsigned max) const {
  ZRQ_ASSERT(max >= payloadLength_);
  if (!dst) return 0;
  unsigned n = std::min<unsigned>(max, payloadLength_);
  std::memcpy(dst, buf_.get() + 1, n);
  return n;
}

void HidReport::clearData() { std::memset(buf_.get() + 1, 0, payloadLength_); }

HidReportList::~HidReportList() { clear(); }

void HidReportList::add(HidReport* report) {
  CsLock lk(cs_);
  reports_.push_back(report);
}

HidReport* HidReportList::get(unsigned index) const {
  CsLock lk(cs_);
  return index < reports_.size() ? reports_[index] : nullptr;
}

void HidReportList::clear() {
  CsLock lk(cs_);
  reports_.clear();
}

unsigned HidReportList::size() const {
  CsLock lk(cs_);
  return static_cast<unsigned>(reports_.size());
}
