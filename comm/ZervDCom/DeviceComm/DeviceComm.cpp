#include "DeviceComm/DeviceComm.h"

#include <algorithm>

#include "Common/ErrCodes.h"
#include "Common/Exc.h"

DeviceComm::~DeviceComm() = default;

int DeviceComm::getLastErr() const { return lastErr_; }

bool DeviceComm::translateLastErr(int code, char16_t* buf, unsigned bufLen, bool appendDetail) const {
  if (code > ErrCode::Last || !buf || bufLen == 0) return false;
  std::u16string text;
  try {
    text = loadErrMessage(code);
  } catch (const Exc&) {
    return false;
  }
  if (text.empty()) return false;
  if (appendDetail) text += lastErrDetail_;
  if (text.size() >= bufLen) return false;
  std::copy(text.begin(), text.end(), buf);
  buf[text.size()] = u'\0';
  return true;
}

void DeviceComm::setLastErr(int code, const char16_t* detail) {
  lastErr_ = code;
  lastErrDetail_ = detail ? detail : u"";
}

void DeviceComm::setLastErr(int code, const std::u16string& detail) {
  lastErr_ = code;
  lastErrDetail_ = detail;
}

void DeviceComm::setLastErrFromCurrentException() noexcept {
  ErrInfo e = errInfoFromCurrentException();
  lastErr_ = e.code;
  try {
    lastErrDetail_ = std::move(e.detail);
  } catch (...) {
    lastErrDetail_.clear();
  }
}
