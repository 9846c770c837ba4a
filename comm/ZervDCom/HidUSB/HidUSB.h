#pragma once
// One open HID device: its report lengths, the per-device lock that keeps
// every other open of the same path (in any process) out, and whole-report
// reads and writes with time-outs.
//
// The listener thread reads and the caller's write and the poll write; the
// device descriptor is shared (reads and writes do not interfere on hidraw or
// on a socket), while writers take turns under writeLock_ so each report goes
// out whole and in one piece.

#include <atomic>
#include <cstdint>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "Common/TurnGate.h"
#include "HidUSB/HidChannel.h"
#include "HidUSB/HidLockFile.h"
#include "HidUSB/HidReport.h"
#include "HidUSB/HidUSBDevInfo.h"

struct HidCaps {
  uint16_t inputReportByteLength = 0;  // report ID byte included
  uint16_t outputReportByteLength = 0;
  uint16_t featureReportByteLength = 0;
  bool usesReportIds = false;
};

class HidUSB {
 public:
  // Opens the device, reads its capabilities and takes the device lock.
  // Raises HidUSBWin32Exc 2 when it cannot be opened, HidUSBExc 21/22 for an
  // unreadable or malformed report descriptor, CommExc 15 when the device is
  // locked by another open, CommWin32Exc 16 when the lock cannot be made.
  explicit HidUSB(const HidUSBDevInfo& info);
  // The same on a channel already open (tests use an instrumented one).
  HidUSB(const HidUSBDevInfo& info, std::unique_ptr<HidIo::HidChannel> channel);
  virtual ~HidUSB();
  HidUSB(const HidUSB&) = delete;
  HidUSB& operator=(const HidUSB&) = delete;

  // Writes the whole report (ID first). Returns the bytes written: the total
  // length, or 0 when the device did not take it within timeoutMs (or wakeFd
  // fired); a time-out raises nothing. Raises HidUSBExc 23 for a report whose
  // length is not the device's output length, HidUSBWin32Exc 7 on failure.
  virtual unsigned writeReport(HidReport& report, int timeoutMs, int wakeFd = -1);
  // Waits up to timeoutMs for input, then fills up to max reports of the list
  // in order, one device report each. Returns the number filled (0 on a
  // time-out). wakeFd firing raises CommExc 8 (the helper thread's "no
  // error"). Raises HidUSBExc 23 when the list's reports are not the device's
  // input length, HidUSBWin32Exc 6 on failure or unplug.
  virtual unsigned readReports(HidReportList& list, unsigned max, int timeoutMs, int wakeFd = -1);
  virtual void getCaps();
  // Raises HidUSBExc 24 for another report ID, 23 for another total length.
  virtual void checkReport(const HidReport* report, uint8_t reportId, unsigned totalLength);
  virtual bool lock();
  virtual void unlock();

  const HidCaps& caps() const noexcept { return caps_; }
  const HidUSBDevInfo& devInfo() const noexcept { return info_; }
  // Reports of the wrong length dropped by readReports (a misbehaving device).
  unsigned droppedReports() const noexcept { return dropped_; }

 private:
  std::unique_ptr<HidIo::HidChannel> hDevice_;
  TurnGate writeLock_;
  HidCaps caps_;
  HidUSBDevInfo info_;
  HidIo::HidLockFile mutex_;
  std::atomic<unsigned> dropped_{0};
  std::vector<uint8_t> readScratch_;  // readReports' buffer: it has one caller, the listener
};
