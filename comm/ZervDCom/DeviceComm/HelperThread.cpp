#include "DeviceComm/HelperThread.h"

#include <pthread.h>

#include <system_error>

#include "Common/Assertion.h"
#include "Common/DiagLog.h"
#include "Common/ErrCodes.h"
#include "Common/Exc.h"
#include "Common/Platform.h"

HelperThProc::~HelperThProc() = default;
void HelperThProc::failed() {}

HelperThread::HelperThread(HelperThProc* proc) : proc_(proc) { ZRQ_ASSERT(proc_ != nullptr); }

HelperThread::~HelperThread() {
  if (thread_.joinable()) stop(2000);
}

void HelperThread::start() {
  if (thread_.joinable()) throw CommErrInfo::CommExc(ErrCode::ThreadStartFailed, ZRQ_HERE);
  ZRQ_ASSERT(proc_ != nullptr);
  stoppedEvent_.reset();
  setStopFlag(false);
  setStatus(ErrCode::NoError);
  workEvent_.reset();
  wake_.drain();
  try {
    thread_ = std::thread(&HelperThread::threadProc, this);
  } catch (const std::system_error& e) {
    setStopFlag(true);
    throw CommErrInfo::CommSTDCExc(ErrCode::ThreadStartFailed, "_beginthreadex()", e.code().value(),
                                   ZRQ_HERE);
  }
}

void HelperThread::stop(int graceMs) {
  ZRQ_ASSERT(graceMs != kInfiniteMs);
  if (!thread_.joinable()) return;
  // The flag first: a thread woken by the trigger must see it before it
  // could run (and park in) another step.
  setStopFlag(true);
  trigger();
  wake_.wake();
  if (stoppedEvent_.wait(graceMs < 0 ? 0 : graceMs) != WaitResult::Signalled) {
    // The step ignored its wake-up: a bug. Joining still beats leaving a
    // thread that would outlive the objects it uses.
    ZRQ_ASSERT(false);
  }
  thread_.join();
  threadId_.store(0);
  stoppedEvent_.reset();
}

void HelperThread::trigger() {
  setStatus(ErrCode::NoError);
  workEvent_.set();
}

bool HelperThread::setStopFlag(bool stop) { return stopFlag_.exchange(stop ? 1 : 0) != 0; }

bool HelperThread::isStopRequested() const { return stopFlag_.load() != 0; }

void HelperThread::setStatus(int code, const char16_t* detail) {
  CsLock lk(cs_);
  statusDetail_ = detail ? detail : u"";
  status_.store(code);
}

void HelperThread::setStatus(int code, const std::u16string& detail) {
  CsLock lk(cs_);
  statusDetail_ = detail;
  status_.store(code);
}

std::u16string HelperThread::statusDetail() const {
  CsLock lk(cs_);
  return statusDetail_;
}

void HelperThread::threadProc() {
  // Named for top -H and the profilers.
  pthread_setname_np(pthread_self(), "zervdcom io");
  const int id = currentThreadId();
  threadId_.store(id);
  diagLog().write(LogKind::COMM, 3, "TH(%d)--> Started\n", id);
  diagLog().flush();
  while (!isStopRequested()) {
    keepSystemAwake();
    if (status_.load() == ErrCode::NoError) {
      bool failed = false;
      try {
        proc_->run();
        // A step may end its wait when woken and return: the wake-up is
        // used up like the time-out's below.
        wake_.drain();
        setStatus(ErrCode::NoError);
      } catch (const CommErrInfo::CommExc& e) {
        if (e.code() == ErrCode::ReadTimeout) {
          // A time-out, or the wait was woken on purpose: not an error.
          wake_.drain();
          setStatus(ErrCode::NoError);
        } else {
          setStatus(e.code(), e.detailText());
          failed = true;
        }
      } catch (const Exc& e) {
        setStatus(ErrCode::UnknownError, e.detailText());
        failed = true;
      } catch (...) {
        setStatus(ErrCode::UnhandledException);
        failed = true;
      }
      if (failed) proc_->failed();
    } else if (workEvent_.wait(1000) == WaitResult::Signalled) {
      workEvent_.reset();
    }
  }
  diagLog().write(LogKind::COMM, 3, "TH(%d)--> Stopped gracefully.\n", id);
  diagLog().flush();
  stoppedEvent_.set();
}
