#pragma once
// One serial port over termios. Every failure raises SerialPortExc or
// SerialPortWin32Exc with the library's code; open is all-or-nothing and close
// restores the line settings the port had.

#include <termios.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "SerialPort/LineSettings.h"
#include "SerialPort/ParmrkDecoder.h"

class SerialPort {
 public:
  SerialPort(std::u16string_view portName, unsigned inQueueSize, unsigned outQueueSize);
  virtual ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  virtual void open(LineSettings settings);
  virtual void close() noexcept;
  virtual unsigned write(const uint8_t* data, unsigned len, int timeoutMs);
  // Returns only when len bytes are read (or raises: 8 when a wait for more
  // data times out; the bytes read so far are left at the start of buf).
  virtual unsigned read(uint8_t* buf, unsigned len, int timeoutMs);
  // What is there now, up to len bytes; never waits.
  virtual unsigned readAvailable(uint8_t* buf, unsigned len);
  // Waits for a line feed, then returns everything there up to len bytes.
  virtual unsigned readLine(uint8_t* buf, unsigned len, int timeoutMs);
  virtual void purge(unsigned flags);
  virtual void setReadTimeouts(bool blocking);
  // Raises 28 (line errors, their texts in the description) or 29 (break)
  // when any were detected since the last check; else the bytes waiting.
  virtual unsigned checkCommErrors(unsigned eventMask);

  // Waits (up to timeoutMs, interruptible through wakeFd) until data is
  // there, then moves what is there, up to len bytes. Woken: raises 8.
  unsigned readSome(uint8_t* buf, unsigned len, int timeoutMs, int wakeFd);
  // True when input waits (already decoded or in the driver); false on
  // time-out or when woken (the wake-up is not drained); raises 6 on a
  // hang-up and the read failure on a port error.
  bool waitForInput(int timeoutMs, int wakeFd);
  // Whether decoded input carried error marks not yet raised.
  bool hasPendingLineErrors();
  // The error part of checkCommErrors alone (no byte count).
  void checkLineErrors(unsigned eventMask = 0);

  bool isOpen() const noexcept { return fd_.load() >= 0; }
  int fd() const noexcept { return fd_.load(); }
  // A descriptor every wait on a caller's thread includes besides the port:
  // once readable, those waits end (the connection is closing).
  void setCancelFd(int fd) noexcept { cancelFd_ = fd; }
  // Bytes the receive side holds in memory (decoded or not yet handed out).
  size_t rxFootprint();
  const std::string& devicePath() const noexcept { return path_; }
  const std::u16string& portName() const noexcept { return name_; }

  // "/..." as given; "COMn" (n >= 1) -> /dev/ttyS<n-1>; "" for COM0 and
  // names that denote nothing.
  static std::string devicePathFor(std::u16string_view portName);

  static constexpr unsigned kEventMaskBytes = 0xC1;  // received char, break, line error
  static constexpr unsigned kEventMaskLine = 0xC2;   // event char, break, line error

 private:
  // One non-blocking read of up to maxBytes into rx_ (decoded); returns the
  // raw bytes read (0 when nothing waits); a hang-up raises 6. Caller holds
  // rxMutex_.
  size_t fillRx(size_t maxBytes);
  unsigned takeRx(uint8_t* buf, unsigned len);
  // Forgets every received byte and the decoder's state. Caller holds rxMutex_.
  void dropRx();
  void closeLocked() noexcept;
  void waitReadable(int timeoutMs, int wakeFd, const char* what);
  void requireOpen() const;

  std::atomic<int> fd_{-1};
  int cancelFd_ = -1;
  std::mutex lifeMutex_;  // open and close take turns
  std::string path_;
  std::u16string name_;
  unsigned inQueue_;
  unsigned outQueue_;
  std::atomic<unsigned> eventMask_{kEventMaskBytes};
  termios saved_{};
  bool haveSaved_ = false;
  std::string uucpLock_;  // lock file we created, to remove on close

  // Receive side, shared by the listener thread and purge.
  std::mutex rxMutex_;
  std::vector<uint8_t> rx_;  // decoded bytes not yet handed out
  ParmrkDecoder decoder_;
  struct Counters {
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
  } counters_;
  bool haveCounters_ = false;  // counters_ and this under rxMutex_
  std::atomic<bool> parityOn_{false};
  size_t rxPos_ = 0;
};
