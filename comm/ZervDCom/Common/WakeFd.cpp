#include "Common/WakeFd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "Common/ErrCodes.h"
#include "Common/Exc.h"

WakeFd::WakeFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (fd_ < 0) throw CommErrInfo::CommSTDCExc(ErrCode::ThreadStartFailed, "eventfd()", errno, ZRQ_HERE);
}

WakeFd::~WakeFd() {
  if (fd_ >= 0) ::close(fd_);
}

void WakeFd::wake() noexcept {
  uint64_t one = 1;
  // EAGAIN only when the counter is saturated, i.e. already signalled.
  [[maybe_unused]] ssize_t r = ::write(fd_, &one, sizeof one);
}

bool WakeFd::drain() noexcept {
  uint64_t v = 0;
  return ::read(fd_, &v, sizeof v) == static_cast<ssize_t>(sizeof v) && v != 0;
}
