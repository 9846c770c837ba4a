#include "SerialPort/SerialPortListenerDeviceComm.h"

#include <chrono>

#include "Common/Assertion.h"
#include "Common/Deadline.h"
#include "Common/PollWait.h"
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
  port->checkLineErrors();  // marks a caller's move brought in
  const auto waitStart = std::chrono::steady_clock::now();
  // Woken (a purge, a close): the step starts over.
  if (!port->waitForInput(kInfiniteMs, th->wakeFd())) return;
  const auto waited = std::chrono::steady_clock::now() - waitStart;
  // Everything that waits moves in one step (a waiting caller may have moved
  // it already); the order and the buffer's overflow rule are those of
  // byte-by-byte moving.
  conn_->drainPort();
  BufferedRead::checkStepConditions(*db, conn_->bytesReq(), conn_->charReq());
  port->checkLineErrors();
  // A running stream gathers for a while instead of waking the thread per
  // line. Callers lose nothing by it: a waiting caller moves the data itself,
  // a look without waiting takes what the port holds first, and a hang-up
  // ends the pause.
  conn_->batchPause(th->wakeFd(), waited);
}

void SerialListenerHelperThProc::failed() {
  if (conn_) BufferedRead::signalPending(conn_->bytesReq(), conn_->charReq());
}

SerialPortListenerDeviceComm::SerialPortListenerDeviceComm(std::u16string_view portName,
                                                           unsigned bufCapacity,
                                                           unsigned outQueueSize)
    : SerialPortDeviceComm(portName, kInQueueSize, outQueueSize),
      bufCapacity_(bufCapacity),
      // A size refused at open costs nothing before.
      dataBuf_(std::make_unique<CircDevDataBuf>(bufferSizeOk(bufCapacity) ? bufCapacity : 1)) {}

SerialPortListenerDeviceComm::~SerialPortListenerDeviceComm() { close(); }

BufferedReadParts SerialPortListenerDeviceComm::parts() {
  BufferedReadParts p;
  p.dataBuf = dataBuf_.get();
  p.bytesReq = &bytesReq_;
  p.charReq = &charReq_;
  p.threads[0] = running_.load();
  p.waiter = [this](ReadReq& req, const std::function<bool()>& satisfied, int timeoutMs) {
    return waitDraining(req, satisfied, timeoutMs);
  };
  return p;
}

unsigned SerialPortListenerDeviceComm::drainPort() {
  std::lock_guard<std::mutex> lk(drainMutex_);
  uint8_t chunk[4096];
  const unsigned n = port_ ? port_->readAvailable(chunk, sizeof chunk) : 0;
  dataBuf_->write(chunk, n);
  return n;
}

void SerialPortListenerDeviceComm::wakeListener() noexcept {
  if (HelperThread* t = running_.load()) t->wakeStep();
}

int SerialPortListenerDeviceComm::batchIntervalMs(const LineSettings& settings) {
  if (settings.baudRate <= 0) return 1;
  const int dataBits = settings.byteSize < 5 ? 5 : settings.byteSize > 8 ? 8 : settings.byteSize;
  // The shortest frame the settings allow: one and a half stop bits count as one.
  const int frameBits =
      1 + dataBits + (settings.parity != 0 ? 1 : 0) + (settings.stopBits == 2 ? 2 : 1);
  const double fillMs = 1000.0 * kKernelQueueBytes * frameBits / settings.baudRate;
  const double half = fillMs / 2;
  if (half >= kMaxBatchMs) return kMaxBatchMs;
  return half < 1 ? 1 : static_cast<int>(half);
}

void SerialPortListenerDeviceComm::batchPause(int wakeFd,
                                              std::chrono::steady_clock::duration waited) {
  const int ms = batchMs_.load();
  // Data that came after a silence is no running stream: little would
  // gather, and the pause would only cost a second wake-up.
  if (ms <= 0 || waited >= std::chrono::milliseconds(ms) / 4) return;
  // No wake-up for data, but one for a hang-up or a port failure (poll
  // reports those whatever is asked for): the next step meets it at once.
  const int portFd = port_ ? port_->fd() : -1;
  // Woken or not, the step ends here and starts over (or the thread stops):
  // a pause that ends is no error.
  pollWait(portFd, 0, ms, wakeFd);
}

WaitResult SerialPortListenerDeviceComm::waitDraining(ReadReq& req,
                                                      const std::function<bool()>& satisfied,
                                                      int timeoutMs) {
  const Deadline deadline(timeoutMs);
  auto left = [&] { return deadline.msLeft(); };
  if (!port_ || !port_->isOpen()) return req.wait(timeoutMs);
  // Even a call that does not wait looks once at what the port holds: the
  // listener may be letting it gather.
  bool looked = false;
  for (;;) {
    if (req.isSignalled() || satisfied()) return WaitResult::Signalled;
    const int ms = left();
    if (ms == 0 && looked) return WaitResult::TimedOut;
    looked = true;
    switch (pollWait(port_->fd(), POLLIN, ms, req.signalFd())) {
      case PollOutcome::Woken:
        return WaitResult::Signalled;
      case PollOutcome::TimedOut:
        continue;
      case PollOutcome::Ready:
        if (drainForCaller()) continue;
        break;
      default:
        break;  // hang-up or error: the listener reports it
    }
    wakeListener();
    return req.wait(left());
  }
}

bool SerialPortListenerDeviceComm::drainForCaller() {
  try {
    // Line errors are the listener's to report: wake it (out of its pause too).
    if (drainPort() && port_->hasPendingLineErrors()) wakeListener();
    return true;
  } catch (...) {
    wakeListener();  // it meets the same failure and reports it
    return false;
  }
}

void SerialPortListenerDeviceComm::wakeWaiters() {
  bytesReq_.cancel();
  charReq_.cancel();
}

bool SerialPortListenerDeviceComm::open() {
  if (!bufferSizeOk(bufCapacity_)) {
    setLastErr(ErrCode::InvalidDataBuffer);
    return false;
  }
  if (!SerialPortDeviceComm::open()) return false;
  try {
    if (!proc_) proc_ = std::make_unique<SerialListenerHelperThProc>(this);
    if (!thread_) thread_ = std::make_unique<HelperThread>(proc_.get());
    batchMs_.store(batchIntervalMs(lineSettings()));
    thread_->start();
    running_.store(thread_.get());
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
  running_.store(nullptr);
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
  // What the port holds counts as received even while the listener lets it
  // gather; the port is read only when the buffer cannot serve the call, and
  // not while the listener holds an error the call is about to report.
  HelperThread* t = running_.load();
  if (t && t->status() == ErrCode::NoError && dataBuf_->count() < len && port_ && port_->isOpen())
    drainForCaller();
  return BufferedRead::readInBuff(*this, parts(), buf, len, got);
}

bool SerialPortListenerDeviceComm::readLine(uint8_t* buf, unsigned bufLen, unsigned* got,
                                            int timeoutMs) {
  return BufferedRead::readLine(*this, parts(), buf, bufLen, got, timeoutMs);
}

bool SerialPortListenerDeviceComm::purge(unsigned flags) {
  if (!BufferedRead::purge(*this, parts())) return false;
  if (HelperThread* t = running_.load(); t && (flags & PurgeFlag::AbortReads)) t->wakeStep();
  return SerialPortDeviceComm::purge(flags);
}
