#include "SerialPort/SerialPortListenerDeviceComm.h"

#include "Common/Assertion.h"
#include "Common/ErrCodes.h"
#include "SerialPort/SerialPortExc.h"

SerialListenerHelperThProc::SerialListenerHelperThProc(SerialPortListenerDeviceComm* conn)
    : HelperThProc(conn), conn_(conn) {}

void SerialListenerHelperThProc::run() {
  if (!conn_) return;
  CircDevDataBuf* db = conn_->dataBuf();
  SerialPort* port = conn_->port();
  HelperThread* th = conn_->helperThread();
  ZRQ_ASSERT(db != nullptr);
  ZRQ_ASSERT(port != nullptr);
  if (!db || !port || !th) throw SerialPortExc(ErrCode::NotOpened, ZRQ_HERE);
  BufferedRead::checkStepConditions(*db, conn_->bytesReq(), conn_->charReq());
  // Everything that waits moves in one step; the order and the buffer's
  // overflow rule are those of byte-by-byte moving.
  uint8_t chunk[4096];
  unsigned n = port->readSome(chunk, sizeof chunk, kInfiniteMs, th->wakeFd());
  db->write(chunk, n);
  BufferedRead::checkStepConditions(*db, conn_->bytesReq(), conn_->charReq());
  port->checkLineErrors();
}

void SerialListenerHelperThProc::failed() {
  if (conn_) BufferedRead::signalPending(conn_->bytesReq(), conn_->charReq());
}

SerialPortListenerDeviceComm::SerialPortListenerDeviceComm(std::u16string_view portName, unsigned bufCapacity,
                                                           unsigned outQueueSize)
    : SerialPortDeviceComm(portName, kInQueueSize, outQueueSize),
      dataBuf_(std::make_unique<CircDevDataBuf>(bufCapacity)) {}

SerialPortListenerDeviceComm::~SerialPortListenerDeviceComm() { close(); }

BufferedReadParts SerialPortListenerDeviceComm::parts() {
  BufferedReadParts p;
  p.dataBuf = dataBuf_.get();
  p.bytesReq = &bytesReq_;
  p.charReq = &charReq_;
  p.threads[0] = thread_.get();
  return p;
}

bool SerialPortListenerDeviceComm::open() {
  if (!SerialPortDeviceComm::open()) return false;
  try {
    if (!proc_) proc_ = std::make_unique<SerialListenerHelperThProc>(this);
    if (!thread_) thread_ = std::make_unique<HelperThread>(proc_.get());
    thread_->start();
  } catch (...) {
    setLastErrFromCurrentException();
    // All or nothing: no listener, no open port.
    if (port_) port_->close();
    return false;
  }
  setLastErr(ErrCode::NoError);
  return true;
}

bool SerialPortListenerDeviceComm::close() {
  if (thread_) {
    try {
      thread_->stop(kStopGraceMs);
      thread_.reset();
      proc_.reset();
    } catch (...) {
      // The step stays; the port is closed all the same.
    }
  }
  return SerialPortDeviceComm::close();
}

bool SerialPortListenerDeviceComm::read(uint8_t* buf, unsigned len, unsigned* got, int timeoutMs) {
  return BufferedRead::read(*this, parts(), buf, len, got, timeoutMs);
}

bool SerialPortListenerDeviceComm::readInBuff(uint8_t* buf, unsigned len, unsigned* got) {
  return BufferedRead::readInBuff(*this, parts(), buf, len, got);
}

bool SerialPortListenerDeviceComm::readLine(uint8_t* buf, unsigned bufLen, unsigned* got, int timeoutMs) {
  return BufferedRead::readLine(*this, parts(), buf, bufLen, got, timeoutMs);
}

bool SerialPortListenerDeviceComm::purge(unsigned flags) {
  if (!BufferedRead::purge(*this, parts())) return false;
  if ((flags & PurgeFlag::AbortReads) && thread_) thread_->wakeStep();
  return SerialPortDeviceComm::purge(flags);
}
