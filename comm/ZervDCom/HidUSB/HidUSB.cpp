#include "HidUSB/HidUSB.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <vector>

#include "Common/Assertion.h"
#include "Common/Deadline.h"
#include "Common/PollWait.h"
#include "Common/DiagLog.h"
#include "Common/ErrCodes.h"
#include "Common/Event.h"
#include "HidUSB/HidReportDescriptor.h"
#include "HidUSB/HidUSBExc.h"
#include "Common/WideText.h"

namespace {

// The kernel keeps this many input reports per open descriptor; it cannot be
// changed, so the 200 asked for is only logged.
constexpr int kKernelInputBuffers = 64;
constexpr int kWantedInputBuffers = 200;

// After a failed wait: a device that hung up is gone (as an unplugged hidraw
// node reports it); a poll() failure keeps its own reason.
int deviceErrno() { return errno == EIO ? ENODEV : errno; }

}  // namespace

namespace {
std::unique_ptr<HidIo::HidChannel> openChannel(const std::string& path) {
  int err = 0;
  auto ch = HidIo::openHidChannel(path, err);
  if (!ch) throw HidUSBWin32Exc(ErrCode::OpenFailed, "::CreateFile()", err, ZRQ_HERE);
  return ch;
}
}  // namespace

HidUSB::HidUSB(const HidUSBDevInfo& info) : HidUSB(info, openChannel(info.devicePath)) {}

HidUSB::HidUSB(const HidUSBDevInfo& info, std::unique_ptr<HidIo::HidChannel> channel)
    : hDevice_(std::move(channel)), info_(info) {
  if (!hDevice_) throw HidUSBWin32Exc(ErrCode::OpenFailed, "::CreateFile()", EBADF, ZRQ_HERE);
  getCaps();  // on a raise hDevice_ closes with this half-built object
  diagLog().write(LogKind::USB, 1, "HidD_SetNumInputBuffers(%d): the kernel keeps %d\n",
                  kWantedInputBuffers, kKernelInputBuffers);
  diagLog().write(LogKind::USB, 1, "Number of input buffers for hRdRptDevice_: %d\n",
                  kKernelInputBuffers);
  diagLog().write(LogKind::USB, 1, "Number of input buffers for hDevice_: %d\n",
                  kKernelInputBuffers);
  if (!lock()) throw CommErrInfo::CommExc(ErrCode::OpenInOtherProcess, ZRQ_HERE);
}

HidUSB::~HidUSB() {
  hDevice_.reset();
  unlock();
}

void HidUSB::getCaps() {
  ZRQ_ASSERT(hDevice_ != nullptr);
  if (!hDevice_) throw HidUSBExc(ErrCode::NoCapabilities, ZRQ_HERE);
  const auto& desc = hDevice_->reportDescriptor();
  if (desc.empty()) throw HidUSBExc(ErrCode::NoCapabilities, u"empty report descriptor", ZRQ_HERE);
  std::string why;
  auto info = HidDesc::parseReportDescriptor(desc, &why);
  if (!info) throw HidUSBExc(ErrCode::InvalidCapabilities, toU16(why), ZRQ_HERE);
  if (info->maxInputLength > 0xFFFF || info->maxOutputLength > 0xFFFF ||
      info->maxFeatureLength > 0xFFFF)
    throw HidUSBExc(ErrCode::InvalidCapabilities, u"report too long", ZRQ_HERE);
  caps_.inputReportByteLength = static_cast<uint16_t>(info->maxInputLength);
  caps_.outputReportByteLength = static_cast<uint16_t>(info->maxOutputLength);
  caps_.featureReportByteLength = static_cast<uint16_t>(info->maxFeatureLength);
  caps_.usesReportIds = info->usesReportIds;
}

void HidUSB::checkReport(const HidReport* report, uint8_t reportId, unsigned totalLength) {
  ZRQ_ASSERT(report != nullptr);
  if (!report) throw HidUSBExc(ErrCode::InvalidReportId, ZRQ_HERE);
  ZRQ_ASSERT(report->buffer() != nullptr);
  if (report->buffer()[0] != reportId) throw HidUSBExc(ErrCode::InvalidReportId, ZRQ_HERE);
  if (report->totalLength() != totalLength) throw HidUSBExc(ErrCode::InvalidReportLength, ZRQ_HERE);
}

bool HidUSB::lock() {
  ZRQ_ASSERT(!mutex_.held());
  int err = 0;
  switch (mutex_.acquire(info_.devicePath, err)) {
    case HidIo::HidLockFile::Result::Locked:
      diagLog().write(LogKind::COMM, 3, "Device locked OK.\n");
      diagLog().flush();
      return true;
    case HidIo::HidLockFile::Result::Busy:
      diagLog().write(LogKind::COMM, 3, "Device still locked!\n");
      diagLog().flush();
      return false;
    case HidIo::HidLockFile::Result::Failed:
      break;
  }
  throw CommErrInfo::CommWin32Exc(ErrCode::SyncFailed, "::CreateMutex()", err, ZRQ_HERE);
}

void HidUSB::unlock() {
  if (!mutex_.held()) return;
  mutex_.release();
  diagLog().write(LogKind::COMM, 3, "Mutex ownership released (device unlocked).\n");
  diagLog().flush();
  diagLog().write(LogKind::COMM, 3, "Mutex handle closed.\n");
  diagLog().flush();
}

unsigned HidUSB::writeReport(HidReport& report, int timeoutMs, int wakeFd) {
  ZRQ_ASSERT(hDevice_ != nullptr);
  if (!hDevice_) throw HidUSBExc(ErrCode::WriteFailed, ZRQ_HERE);
  if (report.totalLength() != caps_.outputReportByteLength)
    throw HidUSBExc(ErrCode::InvalidReportLength, ZRQ_HERE);

  const Deadline deadline(timeoutMs);
  if (!writeLock_.enter(deadline.infinite() ? -1 : deadline.msLeft()))
    return 0;  // the other writer held it all the time
  struct Leave {
    TurnGate& g;
    ~Leave() { g.leave(); }
  } leave{writeLock_};

  // A device nearly always takes a report at once: the wait, a system call
  // more on every poll, is for one that is full (or failing, said below).
  if (const ssize_t n = hDevice_->writeReport(report.buffer(), report.totalLength()); n > 0)
    return static_cast<unsigned>(n);
  switch (pollWait(hDevice_->fd(), POLLOUT, deadline.msLeft(), wakeFd)) {
    case PollOutcome::Ready:
      break;
    case PollOutcome::TimedOut:
    case PollOutcome::Woken:
      return 0;
    case PollOutcome::HangUp:
    case PollOutcome::Error:
      throw HidUSBWin32Exc(ErrCode::WriteFailed, "::WriteFile()", deviceErrno(), ZRQ_HERE);
  }
  ssize_t n = hDevice_->writeReport(report.buffer(), report.totalLength());
  if (n < 0)
    throw HidUSBWin32Exc(ErrCode::WriteFailed, "::WriteFile()", static_cast<int>(-n), ZRQ_HERE);
  return static_cast<unsigned>(n);
}

unsigned HidUSB::readReports(HidReportList& list, unsigned max, int timeoutMs, int wakeFd) {
  ZRQ_ASSERT(hDevice_ != nullptr);
  if (!hDevice_) throw HidUSBExc(ErrCode::ReadFailed, ZRQ_HERE);
  HidReport* first = list.get(0);
  if (!first || max == 0) return 0;
  const unsigned len = first->totalLength();
  if (len != caps_.inputReportByteLength) throw HidUSBExc(ErrCode::InvalidReportLength, ZRQ_HERE);

  switch (pollWait(hDevice_->fd(), POLLIN, timeoutMs, wakeFd)) {
    case PollOutcome::Ready:
      break;
    case PollOutcome::TimedOut:
      diagLog().write(LogKind::USB, 1, "(h=%d) --> Read timeout at line %d\n", hDevice_->fd(),
                      __LINE__);
      return 0;
    case PollOutcome::Woken:
      throw CommErrInfo::CommExc(ErrCode::ReadTimeout, ZRQ_HERE);
    case PollOutcome::HangUp:
    case PollOutcome::Error:
      throw HidUSBWin32Exc(ErrCode::ReadFailed, "::ReadFile()", deviceErrno(), ZRQ_HERE);
  }

  // Without report IDs the device sends no ID byte; the reports here always
  // carry one, so it is put in front as 0.
  const unsigned skip = caps_.usesReportIds ? 0 : 1;
  const uint8_t wantedId = caps_.usesReportIds ? first->reportId() : 0;
  std::vector<uint8_t>& tmp = readScratch_;
  tmp.resize(len + 1);
  unsigned filled = 0;
  while (filled < max) {
    HidReport* r = list.get(filled);
    if (!r) break;
    tmp[0] = 0;
    ssize_t n = hDevice_->readReport(tmp.data() + skip, len + 1 - skip);
    if (n == 0) break;
    if (n < 0) {
      if (filled > 0) break;  // hand over what arrived; the failure shows on the next call
      throw HidUSBWin32Exc(ErrCode::ReadFailed, "::ReadFile()", static_cast<int>(-n), ZRQ_HERE);
    }
    // Another length or another report's ID is no data of ours.
    if (static_cast<unsigned>(n) + skip != len || r->totalLength() != len || tmp[0] != wantedId) {
      ++dropped_;
      diagLog().write(LogKind::USB, 1, "(h=%d) --> Report of %d bytes dropped\n", hDevice_->fd(),
                      static_cast<int>(n));
      continue;
    }
    std::memcpy(r->buffer(), tmp.data(), len);
    ++filled;
  }
  return filled;
}
