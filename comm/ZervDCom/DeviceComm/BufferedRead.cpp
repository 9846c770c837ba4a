#include "DeviceComm/BufferedRead.h"

#include <chrono>
#include <functional>
#include <thread>

#include "Common/Assertion.h"
#include "Common/Deadline.h"
#include "Common/ErrCodes.h"
#include "DeviceComm/CircDevDataBuf.h"
#include "DeviceComm/DeviceComm.h"
#include "DeviceComm/HelperThread.h"
#include "DeviceComm/ReadReq.h"

namespace {

// The helper thread whose step failed, or nullptr; a hang-up (code 6) wins
// over what the other thread met because of it.
HelperThread* firstFailed(const BufferedReadParts& p) {
  HelperThread* first = nullptr;
  for (HelperThread* t : p.threads) {
    if (!t) continue;
    const int s = t->status();
    if (s == ErrCode::ReadFailed) return t;
    if (s != ErrCode::NoError && !first) first = t;
  }
  return first;
}

// Reports a failed step to the caller and restarts it. A hang-up is final:
// the step stays idle, so every later call gets 6 again at once.
void takeThreadError(DeviceComm& dc, HelperThread& t) {
  int code = t.status();
  std::u16string detail = t.statusDetail();
  if (code != ErrCode::ReadFailed) t.trigger();
  dc.setLastErr(code, detail);
}

// Waits until the request is met or the time is up. A signal that finds it
// unmet (a late signal meant for an earlier request, or a purge meanwhile)
// is cleared by arming again, and the wait goes on for the time left.
template <class Arm>
WaitResult waitUntil(const BufferedReadParts& p, ReadReq& req, Arm arm,
                     const std::function<bool()>& satisfied, int timeoutMs) {
  const Deadline deadline(timeoutMs);
  for (;;) {
    if (satisfied()) return WaitResult::Signalled;
    const int left = deadline.msLeft();
    WaitResult w = p.waiter ? p.waiter(req, satisfied, left) : req.wait(left);
    if (w == WaitResult::TimedOut || satisfied()) return w;
    if (left == 0) return WaitResult::TimedOut;
    arm();
  }
}

}  // namespace

namespace BufferedRead {

bool readInBuff(DeviceComm& dc, const BufferedReadParts& p, uint8_t* buf, unsigned len,
                unsigned* got) {
  try {
    if (!p.threads[0]) {
      if (got) *got = 0;
      dc.setLastErr(ErrCode::ThreadNotStarted);
      return false;
    }
    if (HelperThread* t = firstFailed(p)) {
      if (got) *got = 0;
      takeThreadError(dc, *t);
      return false;
    }
    ZRQ_ASSERT(p.dataBuf != nullptr);
    unsigned n = 0;
    p.dataBuf->read(buf, len, &n);
    dc.setLastErr(ErrCode::NoError);
    if (got) *got = n;
    return true;
  } catch (...) {
    if (got) *got = 0;
    dc.setLastErr(ErrCode::UnhandledException);
    return false;
  }
}

bool read(DeviceComm& dc, const BufferedReadParts& p, uint8_t* buf, unsigned len, unsigned* got,
          int timeoutMs) {
  ZRQ_ASSERT(p.dataBuf != nullptr);
  unsigned n = 0;
  if (!readInBuff(dc, p, buf, len, &n)) {
    if (got) *got = 0;
    return false;
  }
  dc.setLastErr(ErrCode::NoError);
  bool result = true;
  try {
    if (n < len) {
      const unsigned missing = len - n;
      p.bytesReq->arm(missing);
      // Bytes (or a failure) that came between the look above and the arming
      // would otherwise never be signalled: the condition is tested after it.
      std::function<bool()> satisfied = [&] {
        return p.dataBuf->count() >= missing || firstFailed(p) != nullptr || dc.isClosing();
      };
      WaitResult w = waitUntil(
          p, *p.bytesReq, [&] { p.bytesReq->arm(missing); }, satisfied, timeoutMs);
      if (dc.isClosing()) {
        dc.setLastErr(ErrCode::NotOpened);
        result = false;
      } else if (w == WaitResult::TimedOut) {
        unsigned k = 0;
        p.dataBuf->read(buf + n, missing, &k);
        n += k;
        dc.setLastErr(ErrCode::ReadTimeout);
        result = false;
      } else if (HelperThread* t = firstFailed(p)) {
        takeThreadError(dc, *t);
        result = false;
      } else {
        unsigned k = 0;
        p.dataBuf->read(buf + n, missing, &k);
        n += k;
        dc.setLastErr(ErrCode::NoError);
      }
    }
  } catch (...) {
    dc.setLastErr(ErrCode::UnhandledException);
    result = false;
  }
  p.bytesReq->reset();
  if (got) *got = n;
  return result;
}

bool readLine(DeviceComm& dc, const BufferedReadParts& p, uint8_t* buf, unsigned bufLen,
              unsigned* got, int timeoutMs) {
  ZRQ_ASSERT(p.dataBuf != nullptr);
  unsigned copied = 0;
  bool result = false;
  try {
    if (!p.threads[0]) {
      // Nothing would ever fill the buffer: do not wait for it.
      dc.setLastErr(ErrCode::ThreadNotStarted);
      if (got) *got = 0;
      return false;
    }
    unsigned i = p.dataBuf->find('\n', 0, -1);
    if (i == kNotFound) {
      p.charReq->arm('\n');
      std::function<bool()> satisfied = [&] {
        return p.dataBuf->find('\n', 0, -1) != kNotFound || firstFailed(p) != nullptr ||
               dc.isClosing();
      };
      WaitResult w = waitUntil(
          p, *p.charReq, [&] { p.charReq->arm('\n'); }, satisfied, timeoutMs);
      if (dc.isClosing()) {
        dc.setLastErr(ErrCode::NotOpened);
      } else if (w == WaitResult::TimedOut) {
        dc.setLastErr(ErrCode::ReadTimeout);
      } else if (HelperThread* t = firstFailed(p)) {
        takeThreadError(dc, *t);
        i = kNotFound;
      } else {
        i = p.dataBuf->find('\n', 0, -1);
        // Woken but the line is gone (purged meanwhile): still no line.
        if (i == kNotFound) dc.setLastErr(ErrCode::ReadTimeout);
      }
    }
    p.charReq->reset();
    if (i != kNotFound) {
      if (i + 1 < bufLen) {
        p.dataBuf->read(buf, i + 1, &copied);
        dc.setLastErr(ErrCode::NoError);
        result = true;
      } else {
        dc.setLastErr(ErrCode::InvalidDataBuffer);
      }
    }
  } catch (...) {
    dc.setLastErr(ErrCode::UnhandledException);
    result = false;
  }
  if (got) *got = copied;
  return result;
}

bool purge(DeviceComm& dc, const BufferedReadParts& p) {
  try {
    p.bytesReq->reset();
    p.charReq->reset();
    p.dataBuf->clear();
    dc.setLastErr(ErrCode::NoError);
    return true;
  } catch (...) {
    dc.setLastErr(ErrCode::UnhandledException);
    return false;
  }
}

void checkStepConditions(CircDevDataBuf& dataBuf, BytesReadReq& bytesReq, CharReadReq& charReq) {
  unsigned wanted = bytesReq.wanted();
  if (wanted != 0 && dataBuf.count() >= wanted) {
    bytesReq.signal();
    std::this_thread::yield();
  }
  if (charReq.isPending() && dataBuf.find(charReq.terminator(), 0, -1) != kNotFound) {
    charReq.signal();
    std::this_thread::yield();
  }
}

void signalPending(BytesReadReq& bytesReq, CharReadReq& charReq) {
  if (bytesReq.isPending()) bytesReq.signal();
  if (charReq.isPending()) charReq.signal();
}

}  // namespace BufferedRead
