#include "HidUSB/TKS7730HidUSBDeviceComm.h"

#include "Common/Assertion.h"
#include "Common/ErrCodes.h"
#include "Common/Exc.h"
#include "Common/PollWait.h"

TKS7730HidUSBDeviceComm::TKS7730HidUSBDeviceComm(const HidUSBDevInfo& info, unsigned bufCapacity)
    : HidUSBDeviceComm(info, bufCapacity) {}

TKS7730HidUSBDeviceComm::~TKS7730HidUSBDeviceComm() { close(); }

bool TKS7730HidUSBDeviceComm::startThreads() {
  try {
    ZRQ_ASSERT(hidUSB() != nullptr);
    if (!hidUSB()) throw CommErrInfo::CommExc(ErrCode::NotOpened, ZRQ_HERE);
    ZervUSB::TKS7730CmdReport start(ZervUSB::kCmdStart);
    hidUSB()->writeReport(start, kStartWriteTimeoutMs, closingFd());
    setLastErr(ErrCode::NoError);
    return HidUSBDeviceComm::startThreads();
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
}

void TKS7730HidUSBDeviceComm::createInReports(HidReportList& list, unsigned count) {
  for (unsigned i = 0; i < count; ++i) list.add(new ZervUSB::TKS7730InReport());
}

void TKS7730HidUSBDeviceComm::clearInReports(HidReportList& list) {
  for (unsigned i = 0; HidReport* r = list.get(i); ++i) r->clearData();
}

void TKS7730HidUSBDeviceComm::deleteInReports(HidReportList& list) {
  for (unsigned i = 0; HidReport* r = list.get(i); ++i) delete r;
  list.clear();
}

void TKS7730HidUSBDeviceComm::pollDevice(int wakeFd) {
  HidUSB* hid = hidUSB();
  ZRQ_ASSERT(hid != nullptr);
  if (!hid) throw CommErrInfo::CommExc(ErrCode::NotOpened, ZRQ_HERE);
  ZervUSB::TKS7730CmdReport poll(ZervUSB::kCmdPoll);
  try {
    hid->writeReport(poll, kPollWriteTimeoutMs, wakeFd);
  } catch (const Exc& e) {
    throw CommErrInfo::CommExc(ErrCode::CommandFailed, e.detailText(), ZRQ_HERE);
  }
  // The pause between polls; a stop ends it at once.
  if (wakeFd >= 0) {
    if (pollWait(wakeFd, POLLIN, kPollPauseMs) == PollOutcome::Ready)
      throw CommErrInfo::CommExc(ErrCode::ReadTimeout, ZRQ_HERE);
  }
}
