#pragma once
// A serial connection whose listener thread drains the port into a data
// buffer; reads are served from the buffer (the buffered read protocol).

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "DeviceComm/BufferedRead.h"
#include "DeviceComm/CircDevDataBuf.h"
#include "DeviceComm/HelperThread.h"
#include "DeviceComm/ReadReq.h"
#include "SerialPort/SerialPortDeviceComm.h"

class SerialPortListenerDeviceComm;

class SerialListenerHelperThProc : public HelperThProc {
 public:
  explicit SerialListenerHelperThProc(SerialPortListenerDeviceComm* conn);
  void run() override;
  void failed() override;

 private:
  SerialPortListenerDeviceComm* conn_;
};

class SerialPortListenerDeviceComm : public SerialPortDeviceComm {
 public:
  static constexpr unsigned kInQueueSize = 4096;
  static constexpr int kStopGraceMs = 150;
  // The kernel's receive queue of a terminal.
  static constexpr unsigned kKernelQueueBytes = 4096;
  static constexpr int kMaxBatchMs = 200;

  // How long the listener lets a running stream gather before it moves it:
  // half the time the kernel's queue takes to fill at the line's rate, at
  // most kMaxBatchMs, at least 1 ms.
  static int batchIntervalMs(const LineSettings& settings);

  SerialPortListenerDeviceComm(std::u16string_view portName, unsigned bufCapacity,
                               unsigned outQueueSize);
  ~SerialPortListenerDeviceComm() override;

  bool open() override;
  bool close() override;
  bool read(uint8_t* buf, unsigned len, unsigned* got, int timeoutMs) override;
  bool readInBuff(uint8_t* buf, unsigned len, unsigned* got) override;
  bool readLine(uint8_t* buf, unsigned bufLen, unsigned* got, int timeoutMs) override;
  bool purge(unsigned flags) override;

  CircDevDataBuf* dataBuf() const noexcept { return dataBuf_.get(); }
  BytesReadReq& bytesReq() noexcept { return bytesReq_; }
  CharReadReq& charReq() noexcept { return charReq_; }
  HelperThread* helperThread() const noexcept { return thread_.get(); }

  // Moves what the port holds into the data buffer; one mover at a time, so
  // the bytes keep their order. Returns the bytes moved.
  unsigned drainPort();
  // The listener's pause after it moved data it had waited for for the
  // given time; only a running stream (the wait was shorter than a quarter of
  // the pause) pauses. A wake-up of the thread (close, purge, line errors a
  // caller met) ends it at once; nothing is raised.
  void batchPause(int wakeFd, std::chrono::steady_clock::duration waited);
  int batchMs() const noexcept { return batchMs_.load(); }
  // For tests: a long pause makes the batching observable. Until the next open.
  void overrideBatchMs(int ms) noexcept { batchMs_.store(ms); }

 protected:
  void wakeWaiters() override;

 private:
  BufferedReadParts parts();
  // A caller's move of what the port holds; false when it failed (the
  // listener, woken, reports the failure).
  bool drainForCaller();
  void wakeListener() noexcept;
  // A caller's wait: it polls the port together with the request and moves
  // arriving data itself, so a line costs one wake-up, not two.
  WaitResult waitDraining(ReadReq& req, const std::function<bool()>& satisfied, int timeoutMs);

  std::mutex drainMutex_;

  const unsigned bufCapacity_;
  std::unique_ptr<CircDevDataBuf> dataBuf_;
  BytesReadReq bytesReq_;
  CharReadReq charReq_;
  std::unique_ptr<HelperThread> thread_;
  std::unique_ptr<SerialListenerHelperThProc> proc_;
  // The running listener, as callers see it (set once it runs).
  std::atomic<HelperThread*> running_{nullptr};
  std::atomic<int> batchMs_{kMaxBatchMs};
};
