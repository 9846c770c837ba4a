#include "SerialPort/SerialPortDeviceComm.h"

#include "Common/Assertion.h"
#include "Common/ErrCodes.h"

SerialPortDeviceComm::SerialPortDeviceComm(std::u16string_view portName, unsigned inQueueSize,
                                           unsigned outQueueSize) {
  try {
    port_ = std::make_unique<SerialPort>(portName, inQueueSize, outQueueSize);
    port_->setCancelFd(closingFd());
  } catch (...) {
    port_.reset();
  }
}

SerialPortDeviceComm::~SerialPortDeviceComm() = default;

bool SerialPortDeviceComm::setup(int baud, int byteSize, int parity, int stopBits, int flow) {
  ZRQ_ASSERT(port_ != nullptr);
  settings_.baudRate = baud;
  settings_.byteSize = byteSize;
  switch (parity) {
    case 2:
      settings_.parity = 1;
      break;
    case 3:
      settings_.parity = 2;
      break;
    case 4:
      settings_.parity = 3;
      break;
    case 5:
      settings_.parity = 4;
      break;
    default:
      settings_.parity = 0;
      break;
  }
  settings_.stopBits = (stopBits == 1 || stopBits == 2) ? stopBits : 0;
  settings_.flowControl = (flow == 1 || flow == 2) ? flow : 0;
  configured_ = 1;
  setLastErr(ErrCode::NoError);
  return true;
}

bool SerialPortDeviceComm::setupAndOpen(int baud, int byteSize, int parity, int stopBits,
                                        int flow) {
  std::lock_guard<std::mutex> lk(openMutex_);
  return setup(baud, byteSize, parity, stopBits, flow) && open();
}

bool SerialPortDeviceComm::open() {
  if (!configured_) {
    setLastErr(ErrCode::NotInitialized);
    return false;
  }
  if (!port_) {  // closed for good
    setLastErr(ErrCode::OpenFailed);
    return false;
  }
  try {
    port_->open(settings_);
    setLastErr(ErrCode::NoError);
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
  return purge(PurgeFlag::AbortWrites | PurgeFlag::AbortReads | PurgeFlag::ClearOutput |
               PurgeFlag::ClearInput);
}

bool SerialPortDeviceComm::close() {
  if (!port_) {
    setLastErr(ErrCode::NoError);
    return true;
  }
  port_->close();
  port_.reset();
  setLastErr(ErrCode::NoError);
  return true;
}

// The checks and error bookkeeping every port operation shares: the count
// (when asked for) is zeroed first and holds op's result only on success, set
// after the last error.
template <class Op>
bool SerialPortDeviceComm::onPort(unsigned* count, Op&& op) {
  if (count) *count = 0;
  if (!configured_) {
    setLastErr(ErrCode::NotInitialized);
    return false;
  }
  try {
    if (!port_) {
      setLastErr(ErrCode::NotOpened);
      return false;
    }
    unsigned n = op(*port_);
    setLastErr(ErrCode::NoError);
    if (count) *count = n;
    return true;
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
}

bool SerialPortDeviceComm::write(const uint8_t* data, unsigned len, unsigned* written,
                                 int timeoutMs) {
  return onPort(written, [&](SerialPort& p) { return p.write(data, len, timeoutMs); });
}

bool SerialPortDeviceComm::read(uint8_t* buf, unsigned len, unsigned* got, int timeoutMs) {
  return onPort(got, [&](SerialPort& p) { return p.read(buf, len, timeoutMs); });
}

bool SerialPortDeviceComm::readInBuff(uint8_t* buf, unsigned len, unsigned* got) {
  return onPort(got, [&](SerialPort& p) { return p.readAvailable(buf, len); });
}

bool SerialPortDeviceComm::readLine(uint8_t* buf, unsigned bufLen, unsigned* got, int timeoutMs) {
  return onPort(got, [&](SerialPort& p) { return p.readLine(buf, bufLen, timeoutMs); });
}

bool SerialPortDeviceComm::purge(unsigned flags) {
  return onPort(nullptr, [&](SerialPort& p) {
    p.purge(flags);
    return 0u;
  });
}

bool SerialPortDeviceComm::isPortAvail() {
  // Probing an open connection would close it under its user.
  if (!port_ || port_->isOpen()) return false;
  bool ok = false;
  try {
    port_->open(LineSettings{9600, 8, 0, 0, 0});
    ok = true;
  } catch (...) {
    ok = false;
  }
  port_->close();
  return ok;
}
