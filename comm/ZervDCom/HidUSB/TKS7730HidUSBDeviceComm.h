#pragma once
// The sensor's USB connection: its 49-byte reports, the start command 0x50
// and the poll command 0x53 sent every 45 ms while the connection runs.

#include "HidUSB/HidUSBDeviceComm.h"
#include "HidUSB/ZervUSBReports.h"

class TKS7730HidUSBDeviceComm : public HidUSBDeviceComm {
 public:
  static constexpr uint16_t kVendorId = 0x3A61;
  static constexpr uint16_t kProductId = 0x7730;
  static constexpr int kStartWriteTimeoutMs = 2000;
  static constexpr int kPollWriteTimeoutMs = 1500;
  static constexpr int kPollPauseMs = 45;

  TKS7730HidUSBDeviceComm(const HidUSBDevInfo& info, unsigned bufCapacity);
  ~TKS7730HidUSBDeviceComm() override;

  // The sensor start-up after open: the command 0x50, then the threads.
  bool startThreads() override;

  HidReport* outReport() override { return &outReport_; }
  void createInReports(HidReportList& list, unsigned count) override;
  void clearInReports(HidReportList& list) override;
  void deleteInReports(HidReportList& list) override;
  // Sends 0x53 and pauses 45 ms (woken early by wakeFd, raising CommExc 8).
  // A failed send raises CommExc 32 with the failure's detail.
  void pollDevice(int wakeFd) override;

 private:
  ZervUSB::TKS7730OutReport outReport_;
};
