#include "DeviceComm/DeviceComm.h"

#include <algorithm>

#include "Common/ErrCodes.h"
#include "Common/Exc.h"

DeviceComm::~DeviceComm() = default;

int DeviceComm::getLastErr() const {
  std::lock_guard<std::mutex> lk(errMutex_);
  return lastErr_;
}

std::u16string DeviceComm::lastErrDetail() const {
  std::lock_guard<std::mutex> lk(errMutex_);
  return lastErrDetail_;
}

bool DeviceComm::translateLastErr(int code, char16_t* buf, unsigned bufLen,
                                  bool appendDetail) const {
  if (code > ErrCode::Last || !buf || bufLen == 0) return false;
  std::u16string text;
  try {
    text = loadErrMessage(code);
  } catch (const Exc&) {
    return false;
  }
  if (text.empty()) return false;
  if (appendDetail) text += lastErrDetail();
  if (text.size() >= bufLen) return false;
  std::copy(text.begin(), text.end(), buf);
  buf[text.size()] = u'\0';
  return true;
}

void DeviceComm::setLastErr(int code, const char16_t* detail) {
  std::lock_guard<std::mutex> lk(errMutex_);
  lastErr_ = code;
  lastErrDetail_ = detail ? detail : u"";
}

void DeviceComm::setLastErr(int code, const std::u16string& detail) {
  std::lock_guard<std::mutex> lk(errMutex_);
  lastErr_ = code;
  lastErrDetail_ = detail;
}

void DeviceComm::setLastErrFromCurrentException() noexcept {
  ErrInfo e = errInfoFromCurrentException();
  std::lock_guard<std::mutex> lk(errMutex_);
  lastErr_ = e.code;
  try {
    lastErrDetail_ = std::move(e.detail);
  } catch (...) {
    lastErrDetail_.clear();
  }
}

bool DeviceComm::enterCall() {
  std::lock_guard<std::mutex> lk(callsMutex_);
  if (closing_.load()) return false;
  ++callsInFlight_;
  return true;
}

void DeviceComm::leaveCall() {
  std::lock_guard<std::mutex> lk(callsMutex_);
  if (--callsInFlight_ == 0) callsDone_.notify_all();
}

void DeviceComm::shutDown() {
  bool first;
  {
    std::lock_guard<std::mutex> lk(callsMutex_);
    first = !closing_.exchange(true);
  }
  if (first) {
    closingFd_.wake();  // never drained: every later wait ends at once too
    wakeWaiters();
  }
  std::unique_lock<std::mutex> lk(callsMutex_);
  callsDone_.wait(lk, [&] { return callsInFlight_ == 0; });
}

void DeviceComm::wakeWaiters() {}
