#include "HidUSB/HidUSBDeviceComm.h"

#include <cstring>

#include "Common/Deadline.h"

#include "Common/Assertion.h"
#include "Common/ErrCodes.h"
#include "Common/Exc.h"

namespace {
constexpr unsigned kInReports = 5;
constexpr unsigned kReportsPerRead = 5;
constexpr int kListenerWaitMs = 200;  // a stop is seen this fast even without the wake-up
constexpr int kStopGraceMs = 2000;
}  // namespace

ListenerHelperThProc::ListenerHelperThProc(HidUSBDeviceComm* dc) : HelperThProc(dc), dc_(dc) {}

void ListenerHelperThProc::run() {
  if (!dc_) return;
  ZRQ_ASSERT(dc_->dataBuf_ != nullptr);
  HidUSB* hid = dc_->hidUSB_.get();
  if (!hid || !dc_->dataBuf_) throw CommErrInfo::CommExc(ErrCode::NotOpened, ZRQ_HERE);
  dc_->clearInReports(dc_->inReports_);
  const int wake = dc_->listenerThread_ ? dc_->listenerThread_->wakeFd() : -1;
  unsigned n = hid->readReports(dc_->inReports_, kReportsPerRead, kListenerWaitMs, wake);
  for (unsigned i = 0; i < n; ++i) {
    HidReport* r = dc_->inReports_.get(i);
    if (!r) break;
    uint8_t bytes[64] = {};
    unsigned got = r->getData(bytes, sizeof bytes);
    if (got) dc_->dataBuf_->write(bytes, got);
  }
}

void ListenerHelperThProc::failed() {
  if (dc_) BufferedRead::signalPending(dc_->bytesReq_, dc_->charReq_);
}

ReadReqHelperThProc::ReadReqHelperThProc(HidUSBDeviceComm* dc) : HelperThProc(dc), dc_(dc) {}

void ReadReqHelperThProc::run() {
  if (!dc_) return;
  ZRQ_ASSERT(dc_->dataBuf_ != nullptr);
  if (!dc_->hidUSB_ || !dc_->dataBuf_) throw CommErrInfo::CommExc(ErrCode::NotOpened, ZRQ_HERE);
  BufferedRead::checkStepConditions(*dc_->dataBuf_, dc_->bytesReq_, dc_->charReq_);
  dc_->pollDevice(dc_->requestThread_ ? dc_->requestThread_->wakeFd() : -1);
}

void ReadReqHelperThProc::failed() {
  if (dc_) BufferedRead::signalPending(dc_->bytesReq_, dc_->charReq_);
}

HidUSBDeviceComm::HidUSBDeviceComm(const HidUSBDevInfo& info, unsigned bufCapacity)
    : info_(info),
      bufCapacity_(bufCapacity),
      // A size refused at open costs nothing before.
      dataBuf_(std::make_unique<CircDevDataBuf>(bufferSizeOk(bufCapacity) ? bufCapacity : 1)) {}

HidUSBDeviceComm::~HidUSBDeviceComm() {
  // close() calls deleteInReports, which is the derived class's: a derived
  // destructor closes first, so here only the threads and device remain.
  stopThreads();
  hidUSB_.reset();
}

BufferedReadParts HidUSBDeviceComm::parts() {
  BufferedReadParts p;
  p.dataBuf = dataBuf_.get();
  p.bytesReq = &bytesReq_;
  p.charReq = &charReq_;
  p.threads[0] = listenerRunning_.load();
  p.threads[1] = requestRunning_.load();
  return p;
}

void HidUSBDeviceComm::wakeWaiters() {
  bytesReq_.cancel();
  charReq_.cancel();
}

bool HidUSBDeviceComm::openAndStart() {
  std::lock_guard<std::mutex> lk(openMutex_);
  return open() && startThreads();
}

void HidUSBDeviceComm::stopThreads() {
  listenerRunning_.store(nullptr);
  requestRunning_.store(nullptr);
  if (listenerThread_) listenerThread_->stop(kStopGraceMs);
  listenerThread_.reset();
  if (requestThread_) requestThread_->stop(kStopGraceMs);
  requestThread_.reset();
  listenerProc_.reset();
  requestProc_.reset();
}

bool HidUSBDeviceComm::open() {
  try {
    if (hidUSB_) throw CommErrInfo::CommExc(ErrCode::AlreadyOpened, ZRQ_HERE);
    if (!bufferSizeOk(bufCapacity_))
      throw CommErrInfo::CommExc(ErrCode::InvalidDataBuffer, ZRQ_HERE);
    auto hid = std::make_unique<HidUSB>(info_);
    if (inReports_.size() != 0) deleteInReports(inReports_);
    createInReports(inReports_, kInReports);
    hidUSB_ = std::move(hid);
    openHid_.store(hidUSB_.get());
    setLastErr(ErrCode::NoError);
    return true;
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
}

bool HidUSBDeviceComm::close() {
  try {
    stopThreads();
    openHid_.store(nullptr);
    hidUSB_.reset();
    if (inReports_.size() != 0) deleteInReports(inReports_);
    setLastErr(ErrCode::NoError);
    return true;
  } catch (...) {
    setLastErr(ErrCode::UnhandledException);
    return false;
  }
}

bool HidUSBDeviceComm::write(const uint8_t* data, unsigned len, unsigned* written, int timeoutMs) {
  unsigned total = 0;
  bool ok = false;
  try {
    HidUSB* hid = openHid_.load();
    if (!hid) throw CommErrInfo::CommExc(ErrCode::NotOpened, ZRQ_HERE);
    HidReport* r = outReport();
    ZRQ_ASSERT(r != nullptr);
    if (!r || r->payloadLength() == 0)
      throw CommErrInfo::CommExc(ErrCode::InvalidDataBuffer, ZRQ_HERE);
    if (!data) throw CommErrInfo::CommExc(ErrCode::InvalidDataBuffer, ZRQ_HERE);
    const unsigned p = r->payloadLength();
    const unsigned chunks = len / p + (len % p ? 1 : 0);
    const Deadline deadline(timeoutMs);
    if (!writers_.enter(deadline.infinite() ? -1 : deadline.msLeft()))
      throw CommErrInfo::CommExc(ErrCode::WriteTimeout, ZRQ_HERE);
    struct Leave {
      TurnGate& g;
      ~Leave() { g.leave(); }
    } leave{writers_};
    for (unsigned c = 0; c < chunks; ++c) {
      const unsigned off = c * p;
      const unsigned n = len - off < p ? len - off : p;
      r->setData(data + off, n);
      // Every report waits only for what is left of the call's time.
      const unsigned sent = hid->writeReport(*r, deadline.msLeft(), closingFd());
      // Only a report that went out whole counts, and nothing is sent after
      // one that did not: the device would see the text with a hole in it.
      if (sent != r->totalLength()) break;
      total += r->dataLength();
    }
    setLastErr(ErrCode::NoError);
    ok = total == len;
    if (!ok) setLastErr(ErrCode::WriteTimeout);
  } catch (...) {
    setLastErrFromCurrentException();
    ok = false;
  }
  if (written) *written = total;
  return ok;
}

bool HidUSBDeviceComm::read(uint8_t* buf, unsigned len, unsigned* got, int timeoutMs) {
  return BufferedRead::read(*this, parts(), buf, len, got, timeoutMs);
}

bool HidUSBDeviceComm::readInBuff(uint8_t* buf, unsigned len, unsigned* got) {
  return BufferedRead::readInBuff(*this, parts(), buf, len, got);
}

bool HidUSBDeviceComm::readLine(uint8_t* buf, unsigned bufLen, unsigned* got, int timeoutMs) {
  return BufferedRead::readLine(*this, parts(), buf, bufLen, got, timeoutMs);
}

bool HidUSBDeviceComm::purge(unsigned) { return BufferedRead::purge(*this, parts()); }

bool HidUSBDeviceComm::isPortAvail() {
  if (isOpen()) return false;
  try {
    HidUSB probe(info_);
    return true;
  } catch (...) {
    return false;
  }
}

bool HidUSBDeviceComm::startThreads() {
  try {
    if (!purge(0)) return false;
    if (listenerThread_ || requestThread_)
      throw CommErrInfo::CommExc(ErrCode::ThreadAlreadyStarted, ZRQ_HERE);
    if (!hidUSB_) throw CommErrInfo::CommExc(ErrCode::NotOpened, ZRQ_HERE);
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
  try {
    listenerProc_ = std::make_unique<ListenerHelperThProc>(this);
    requestProc_ = std::make_unique<ReadReqHelperThProc>(this);
    listenerThread_ = std::make_unique<HelperThread>(listenerProc_.get());
    requestThread_ = std::make_unique<HelperThread>(requestProc_.get());
    listenerThread_->start();
    requestThread_->start();
    listenerRunning_.store(listenerThread_.get());
    requestRunning_.store(requestThread_.get());
    setLastErr(ErrCode::NoError);
    return true;
  } catch (...) {
    setLastErrFromCurrentException();
    stopThreads();
    return false;
  }
}
