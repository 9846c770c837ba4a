#pragma once
// The sensor's 49-byte reports: ID 1 input, 2 output data, 3 command. Every
// payload position without data holds 0xFF, so 0xFF is never data: senders
// drop it and receivers skip it.

#include "HidUSB/HidReport.h"

namespace ZervUSB {

constexpr uint16_t kPayloadLength = 48;
constexpr uint8_t kInReportId = 1;
constexpr uint8_t kOutReportId = 2;
constexpr uint8_t kCmdReportId = 3;
constexpr uint8_t kCmdStart = 0x50;  // 'P', once when a connection starts
constexpr uint8_t kCmdPoll = 0x53;   // 'S', at every poll
constexpr uint8_t kFiller = 0xFF;

class TKSHidReport : public HidReport {
 public:
  explicit TKSHidReport(uint8_t reportId);
  ~TKSHidReport() override;

  // The number of data bytes the last setData placed (not the payload length).
  uint16_t dataLength() const override;
  // Places the bytes of src that are not 0xFF from position 0 on; the rest is 0xFF.
  void setData(const uint8_t* src, unsigned len) override;
  // Copies the payload bytes that are not 0xFF, in order, at most max of them.
  unsigned getData(uint8_t* dst, unsigned max) const override;
  // Every payload byte 0xFF; the used count stays.
  void clearData() override;

 protected:
  uint16_t used_ = 0;
};

class TKS7730InReport : public TKSHidReport {
 public:
  TKS7730InReport() : TKSHidReport(kInReportId) {}
};

class TKS7730OutReport : public TKSHidReport {
 public:
  TKS7730OutReport(const uint8_t* data = nullptr, unsigned len = 0);
};

class TKS7730CmdReport : public TKSHidReport {
 public:
  explicit TKS7730CmdReport(uint8_t code);
};

}  // namespace ZervUSB
