#pragma once
// A serial connection read and written directly on the caller's thread.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "DeviceComm/DeviceComm.h"
#include "SerialPort/LineSettings.h"
#include "SerialPort/SerialPort.h"

class SerialPortDeviceComm : public DeviceComm {
 public:
  SerialPortDeviceComm(std::u16string_view portName, unsigned inQueueSize, unsigned outQueueSize);
  ~SerialPortDeviceComm() override;

  bool open() override;
  bool close() override;
  bool write(const uint8_t* data, unsigned len, unsigned* written, int timeoutMs) override;
  bool read(uint8_t* buf, unsigned len, unsigned* got, int timeoutMs) override;
  bool readInBuff(uint8_t* buf, unsigned len, unsigned* got) override;
  bool readLine(uint8_t* buf, unsigned bufLen, unsigned* got, int timeoutMs) override;
  bool purge(unsigned flags) override;
  bool isPortAvail() override;

  // Codes as the C interface passes them: parity 1 none, 2 odd, 3 even,
  // 4 mark, 5 space; stop bits 0 one, 1 one and a half, 2 two; flow 0 none,
  // 1 hardware, 2 software.
  virtual bool setup(int baud, int byteSize, int parity, int stopBits, int flow);
  // setup and open as one step: concurrent opens of one connection take turns.
  bool setupAndOpen(int baud, int byteSize, int parity, int stopBits, int flow);

  bool isConfigured() const noexcept { return configured_ != 0; }
  const LineSettings& lineSettings() const noexcept { return settings_; }
  SerialPort* port() const noexcept { return port_.get(); }

 protected:
  std::unique_ptr<SerialPort> port_;

 private:
  template <class Op>
  bool onPort(unsigned* count, Op&& op);

  std::mutex openMutex_;
  std::atomic<int32_t> configured_{0};
  LineSettings settings_;
};
