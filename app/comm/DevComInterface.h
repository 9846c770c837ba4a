// One sensor port (a serial port or an attached USB sensor) as the rest of the
// application uses it: open/close on a library handle, purge, writes, the read
// modes, command exchange with the banner retries, the sensor commands, and a
// continuous-read test thread.
//
// Every library call is guarded: a binding exception becomes one status line
// and the operation ends as failed. Status lines go to the AppStatus sink
// prefixed with the port name; per-port state goes to the statistics row.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <thread>

#include "ZervDComDLL.h"

namespace zrq::comm {

class AppStatus;
class TKS7730Stats;
class ZervDComExc;

enum class PortType : std::uint8_t { Serial = 0, USB = 1 };

// The connection window's side of the commands: it judges the replies and
// knows the settings the G command carries. Called on the thread that runs
// the command (the interface thread in normal use).
class SensorReplyHandler {
 public:
  virtual ~SensorReplyHandler() = default;
  virtual bool pktInterrogateResponse(const std::string& reply) = 0;
  virtual bool pktConfigResponse(const std::string& reply) = 0;
  virtual bool pktTypeResponse(const std::string& reply) = 0;
  virtual bool pktZeroCalResponse(const std::string& reply) = 0;
  // The 44-byte G command built from the current settings.
  virtual std::string settingsCommand() = 0;
  // A serial number was read on this port.
  virtual void serialNumberRead(const std::string& serialNumber) = 0;
};

class DevComInterface {
 public:
  using DeviceHandle = ZervDComDLL::DeviceHandle;
  static constexpr int kDataLineAttempts = 128;
  // The continuous test read asks for one line per sensor line period, not
  // as fast as the link answers.
  static constexpr int kContReadPeriodMs = 100;

  // stats and appStatus must outlive the interface (both must not be null).
  DevComInterface(PortType type, const std::string& portName, int statsRow, TKS7730Stats* stats,
                  AppStatus* appStatus, int usbDevIndex);
  virtual ~DevComInterface();
  DevComInterface(const DevComInterface&) = delete;
  DevComInterface& operator=(const DevComInterface&) = delete;

  // h: a handle created for this port. The interface owns it from here on:
  // it is closed by close(), or at once when the open fails.
  virtual void open(DeviceHandle h);
  virtual void close();
  virtual void purge();
  virtual bool isOpen() const;
  virtual void init();
  virtual bool interrogate();
  virtual bool zeroCalibrate();
  virtual bool assertCalibration();
  virtual bool setFilterAndType();
  virtual void startDataStream();
  // The first complete data line of what has arrived (empty when none).
  virtual std::string readDataLine();
  // Every whole data line that has arrived (each as readDataLine gives one),
  // in order, without waiting and without purging: a line still arriving is
  // kept for the next call. False when the library call failed.
  bool readDataLines(std::vector<std::string>& lines);
  virtual void sendZero();
  virtual std::string readZeroResult();
  virtual bool readSerialNumber();
  virtual void contReadStep();
  virtual bool stopDataStream();

  // The shared machinery.
  void write(const char* cmd, unsigned len);
  bool readLine(char* buf, unsigned bufSize, unsigned* bytesRead);
  // Drops data-line text ahead of a reply; returns the length left.
  static unsigned dropStreamTail(char* buf, unsigned n);
  bool readOverlongLine(char* buf, unsigned bufSize, unsigned* bytesRead);
  // count > 0: exactly count bytes; count 0: one data line (see readDataLine).
  bool readData(char* buf, unsigned bufSize, unsigned* bytesRead, unsigned count);
  bool sendCommand(const char* cmd, unsigned len, int respLen, const char* label);
  std::string sendCommandText(const char* cmd, unsigned len, int respLen, const char* label);
  void status(const std::string& text);
  void reportLibError(const char* label);
  void reportException(const ZervDComExc& exc);

  void setContRd(bool v);
  void setInitPassed(bool v);
  void setCommErr(bool v);
  void setLogRd(bool v) { logRd_.store(v ? 1 : 0); }
  bool contRd() const { return contRd_.load() != 0; }
  bool initPassed() const { return initPassed_.load() != 0; }
  bool commErr() const { return commErr_.load() != 0; }
  bool logRd() const { return logRd_.load() != 0; }

  void setReplyHandler(SensorReplyHandler* handler) { handler_ = handler; }
  PortType portType() const { return portType_; }
  const std::string& portName() const { return portName_; }
  int statsRow() const { return statsRow_; }
  int usbDevIndex() const { return usbDevIndex_; }
  DeviceHandle handle() const { return hDev_.load(); }
  std::string serialNumber() const;
  std::uint32_t totalReads() const { return totalReads_.load(); }
  std::uint32_t totalFails() const { return totalFails_.load(); }
  // The library calls (comm_readInBuff) the last data-line fetch made.
  int lastFetchCalls() const { return lastFetchCalls_.load(); }
  bool threadRunning() const { return thread_.joinable(); }

 private:
  // Auto-reset events of the continuous-read thread; one mutex and condition
  // variable serve all three so that the stop wakes any wait.
  enum Evt { EvtCont = 0, EvtInitPassed = 1, EvtCommErrClear = 2 };
  void setEvent(Evt e);
  bool waitEvent(Evt e);  // false when woken by the stop
  void startThread();
  void stopThread();
  void threadMain();
  // Runs fn; a binding exception is reported and gives false.
  bool guarded(const std::function<bool()>& fn);
  std::string exchangeLine(const char* cmd, unsigned len, bool* ok, unsigned* got);
  // The command and its reply, sent again while the reply is the banner (at
  // most three tries in all). nullopt: no reply (readFailed: the read failed).
  std::optional<std::string> exchangePastBanner(const char* cmd, unsigned len, const char* label,
                                                bool* readFailed);

  std::string lineCarry_;  // readDataLines' unfinished line
  std::atomic<DeviceHandle> hDev_{ZervDComDLL::INVALID_DEV_COMM_HANDLE};
  std::atomic<std::uint32_t> totalReads_{0};
  std::atomic<std::uint32_t> totalFails_{0};
  std::atomic<int> lastFetchCalls_{0};
  const PortType portType_;
  const std::string portName_;
  const std::u16string widePortName_;
  const int statsRow_;
  TKS7730Stats* const p_stats_;
  AppStatus* const p_appStatus_;
  const int usbDevIndex_;
  std::atomic<int> contRd_{0};
  std::atomic<int> initPassed_{0};
  std::atomic<int> commErr_{0};
  std::atomic<int> logRd_{0};
  mutable std::mutex snMutex_;
  std::string serialNumber_;
  SensorReplyHandler* handler_ = nullptr;

  std::mutex evtMutex_;
  std::condition_variable evtCv_;
  bool evtSet_[3] = {false, false, false};
  bool contEvtExists_ = false;
  std::atomic<int> stop_{1};
  std::thread thread_;
};

}  // namespace zrq::comm
