#pragma once
// A worker thread that runs one work step over and over. A failing step
// leaves its error in the status and the thread idle until trigger().
// Stopping wakes the step's device wait (wakeFd) and joins; nothing is killed.

#include <atomic>
#include <string>
#include <thread>

#include "Common/CriticalSection.h"
#include "Common/Event.h"
#include "Common/WakeFd.h"

class DeviceComm;

class HelperThProc {
 public:
  explicit HelperThProc(DeviceComm* owner) : owner_(owner) {}
  virtual ~HelperThProc();
  // One work step. Its blocking waits must include the thread's wake-up
  // descriptor and end the step when woken: by returning (the usual way, no
  // exception) or by raising a CommExc with code 8.
  virtual void run() = 0;
  // Called on the thread right after a step failed and its error was stored,
  // so the step can wake callers waiting on its requests. Default: nothing.
  virtual void failed();

  DeviceComm* owner() const noexcept { return owner_; }

 private:
  DeviceComm* owner_;
};

class HelperThread {
 public:
  explicit HelperThread(HelperThProc* proc);
  virtual ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  // Raises CommErrInfo::CommExc 12 when already started, CommSTDCExc 12 when
  // the thread cannot be created.
  virtual void start();
  // Wakes the step, waits up to graceMs for it to end, then joins (a thread
  // still running after the grace time fails the assertion check).
  virtual void stop(int graceMs);
  // Clears the status (1) and wakes the idle thread.
  virtual void trigger();
  virtual bool setStopFlag(bool stop);
  virtual bool isStopRequested() const;
  virtual void setStatus(int code, const char16_t* detail = nullptr);

  void setStatus(int code, const std::u16string& detail);
  int status() const noexcept { return status_.load(); }
  std::u16string statusDetail() const;
  bool isRunning() const noexcept { return thread_.joinable(); }
  int threadId() const noexcept { return threadId_.load(); }
  // The descriptor the step's blocking waits poll besides the device.
  int wakeFd() const noexcept { return wake_.fd(); }
  // Interrupts the step's current device wait (the step then starts over).
  void wakeStep() noexcept { wake_.wake(); }

 private:
  void threadProc();

  std::thread thread_;
  std::atomic<int> threadId_{0};
  std::atomic<int32_t> stopFlag_{1};
  mutable CriticalSection cs_;
  std::atomic<int> status_{1};
  std::u16string statusDetail_;
  Event workEvent_{true, false};
  Event stoppedEvent_{true, false};
  WakeFd wake_;
  HelperThProc* proc_;
};
