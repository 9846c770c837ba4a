#include "SerialPort/SerialPortDeviceComm.h"

#include "Common/Assertion.h"
#include "Common/ErrCodes.h"

SerialPortDeviceComm::SerialPortDeviceComm(std::u16string_view portName, unsigned inQueueSize, unsigned outQueueSize) {
  try {
    port_ = std::make_unique<SerialPort>(portName, inQueueSize, outQueueSize);
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
    case 2: settings_.parity = 1; break;
    case 3: settings_.parity = 2; break;
    case 4: settings_.parity = 3; break;
    case 5: settings_.parity = 4; break;
    default: settings_.parity = 0; break;
  }
  settings_.stopBits = (stopBits == 1 || stopBits == 2) ? stopBits : 0;
  settings_.flowControl = (flow == 1 || flow == 2) ? flow : 0;
  configured_ = 1;
  setLastErr(ErrCode::NoError);
  return true;
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
  return purge(PurgeFlag::AbortWrites | PurgeFlag::AbortReads | PurgeFlag::ClearOutput | PurgeFlag::ClearInput);
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

bool SerialPortDeviceComm::write(const uint8_t* data, unsigned len, unsigned* written, int timeoutMs) {
  if (written) *written = 0;
  if (!configured_) {
    setLastErr(ErrCode::NotInitialized);
    return false;
  }
  try {
    if (!port_) {
      setLastErr(ErrCode::NotOpened);
      return false;
    }
    unsigned n = port_->write(data, len, timeoutMs);
    setLastErr(ErrCode::NoError);
    if (written) *written = n;
    return true;
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
}

bool SerialPortDeviceComm::read(uint8_t* buf, unsigned len, unsigned* got, int timeoutMs) {
  if (got) *got = 0;
  if (!configured_) {
    setLastErr(ErrCode::NotInitialized);
    return false;
  }
  try {
    if (!port_) {
      setLastErr(ErrCode::NotOpened);
      return false;
    }
    unsigned n = port_->read(buf, len, timeoutMs);
    setLastErr(ErrCode::NoError);
    if (got) *got = n;
    return true;
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
}

bool SerialPortDeviceComm::readInBuff(uint8_t* buf, unsigned len, unsigned* got) {
  if (got) *got = 0;
  if (!configured_) {
    setLastErr(ErrCode::NotInitialized);
    return false;
  }
  try {
    if (!port_) {
      setLastErr(ErrCode::NotOpened);
      return false;
    }
    unsigned n = port_->readAvailable(buf, len);
    setLastErr(ErrCode::NoError);
    if (got) *got = n;
    return true;
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
}

bool SerialPortDeviceComm::readLine(uint8_t* buf, unsigned bufLen, unsigned* got, int timeoutMs) {
  if (got) *got = 0;
  if (!configured_) {
    setLastErr(ErrCode::NotInitialized);
    return false;
  }
  try {
    if (!port_) {
      setLastErr(ErrCode::NotOpened);
      return false;
    }
    unsigned n = port_->readLine(buf, bufLen, timeoutMs);
    setLastErr(ErrCode::NoError);
    if (got) *got = n;
    return true;
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
}

bool SerialPortDeviceComm::purge(unsigned flags) {
  if (!configured_) {
    setLastErr(ErrCode::NotInitialized);
    return false;
  }
  try {
    if (!port_) {
      setLastErr(ErrCode::NotOpened);
      return false;
    }
    port_->purge(flags);
    setLastErr(ErrCode::NoError);
    return true;
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
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
