#pragma once
// A connection over a HID device: the report stream becomes the byte stream
// of DeviceComm. The listener thread moves incoming reports into the data
// buffer; the request thread releases waiting readers and drives the device
// (pollDevice). What the reports hold is left to the device class.

#include <atomic>
#include <memory>
#include <mutex>

#include "Common/TurnGate.h"
#include "DeviceComm/BufferedRead.h"
#include "DeviceComm/CircDevDataBuf.h"
#include "DeviceComm/DeviceComm.h"
#include "DeviceComm/HelperThread.h"
#include "DeviceComm/ReadReq.h"
#include "HidUSB/HidReport.h"
#include "HidUSB/HidUSB.h"
#include "HidUSB/HidUSBDevInfo.h"

class HidUSBDeviceComm;

class ListenerHelperThProc : public HelperThProc {
 public:
  explicit ListenerHelperThProc(HidUSBDeviceComm* dc);
  void run() override;
  void failed() override;

 private:
  HidUSBDeviceComm* dc_;
};

class ReadReqHelperThProc : public HelperThProc {
 public:
  explicit ReadReqHelperThProc(HidUSBDeviceComm* dc);
  void run() override;
  void failed() override;

 private:
  HidUSBDeviceComm* dc_;
};

class HidUSBDeviceComm : public DeviceComm {
 public:
  HidUSBDeviceComm(const HidUSBDevInfo& info, unsigned bufCapacity);
  ~HidUSBDeviceComm() override;

  // Opens the device and makes 5 input reports; the threads start later.
  bool open() override;
  bool close() override;
  // Cuts data into reports of the output payload length; timeoutMs bounds
  // the whole call. True when every byte went out; else the count says how
  // many did (whole reports only) and the last error is 9 on a time-out.
  bool write(const uint8_t* data, unsigned len, unsigned* written, int timeoutMs) override;
  bool read(uint8_t* buf, unsigned len, unsigned* got, int timeoutMs) override;
  bool readInBuff(uint8_t* buf, unsigned len, unsigned* got) override;
  bool readLine(uint8_t* buf, unsigned bufLen, unsigned* got, int timeoutMs) override;
  // Flags are ignored: only the data buffer and the requests are reset.
  bool purge(unsigned flags) override;
  // False while this connection is open or another open holds the device.
  bool isPortAvail() override;

  virtual bool startThreads();
  // open and startThreads as one step: concurrent opens take turns.
  bool openAndStart();

  // The device class's part.
  virtual HidReport* outReport() = 0;
  virtual void createInReports(HidReportList& list, unsigned count) = 0;
  virtual void clearInReports(HidReportList& list) = 0;
  virtual void deleteInReports(HidReportList& list) = 0;
  // The request step's action on the device; wakeFd is the request thread's
  // wake-up descriptor, which every wait of the poll must include.
  virtual void pollDevice(int wakeFd) = 0;

  const HidUSBDevInfo& devInfo() const noexcept { return info_; }
  bool isOpen() const noexcept { return openHid_.load() != nullptr; }

 protected:
  HidUSB* hidUSB() const noexcept { return hidUSB_.get(); }
  BufferedReadParts parts();
  void wakeWaiters() override;

 private:
  friend class ListenerHelperThProc;
  friend class ReadReqHelperThProc;
  void stopThreads();

  std::unique_ptr<HidUSB> hidUSB_;
  HidUSBDevInfo info_;
  const unsigned bufCapacity_;
  std::unique_ptr<CircDevDataBuf> dataBuf_;
  BytesReadReq bytesReq_;
  CharReadReq charReq_;
  std::unique_ptr<HelperThread> listenerThread_;
  std::unique_ptr<HelperThread> requestThread_;
  std::unique_ptr<ListenerHelperThProc> listenerProc_;
  std::unique_ptr<ReadReqHelperThProc> requestProc_;
  HidReportList inReports_;
  std::mutex openMutex_;
  TurnGate writers_;  // one caller's write at a time: its reports stay together
  // The open device and the running threads as callers see them: set once
  // ready, cleared before they go.
  std::atomic<HidUSB*> openHid_{nullptr};
  std::atomic<HelperThread*> listenerRunning_{nullptr};
  std::atomic<HelperThread*> requestRunning_{nullptr};
};
