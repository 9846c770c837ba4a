#include "HidUSB/ZervUSBReports.h"

#include <cstring>

#include "Common/Assertion.h"

namespace ZervUSB {

TKSHidReport::TKSHidReport(uint8_t reportId) : HidReport(reportId, kPayloadLength) { clearData(); }
TKSHidReport::~TKSHidReport() = default;

uint16_t TKSHidReport::dataLength() const { return used_; }

void TKSHidReport::setData(const uint8_t* src, unsigned len) {
  ZRQ_ASSERT(src != nullptr);
  ZRQ_ASSERT(buffer() != nullptr);
  ZRQ_ASSERT(len <= kPayloadLength);
  clearData();
  used_ = 0;
  if (!src) return;
  const unsigned n = len < kPayloadLength ? len : kPayloadLength;
  uint8_t* payload = buffer() + 1;
  for (unsigned i = 0; i < n; ++i) {
    if (src[i] != kFiller) payload[used_++] = src[i];
  }
}

unsigned TKSHidReport::getData(uint8_t* dst, unsigned max) const {
  ZRQ_ASSERT(dst != nullptr);
  if (!dst) return 0;
  const uint8_t* payload = buffer() + 1;
  unsigned copied = 0;
  for (unsigned i = 0; i < kPayloadLength && copied < max; ++i) {
    if (payload[i] != kFiller) dst[copied++] = payload[i];
  }
  return copied;
}

void TKSHidReport::clearData() { std::memset(buffer() + 1, kFiller, kPayloadLength); }

TKS7730OutReport::TKS7730OutReport(const uint8_t* data, unsigned len) : TKSHidReport(kOutReportId) {
  if (data) setData(data, len);
}

TKS7730CmdReport::TKS7730CmdReport(uint8_t code) : TKSHidReport(kCmdReportId) {
  clearData();
  buffer()[1] = code;
}

}  // namespace ZervUSB
