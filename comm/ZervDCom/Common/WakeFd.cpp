#include "Common/WakeFd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "Common/ErrCodes.h"
#include "Common/Exc.h"

WakeFd::WakeFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (fd_ < 0)
    throw CommErrInfo::CommSTDCExc(ErrCode::ThreadStartFailed, "eventfd()", errno, ZRQ_HERE);
}

WakeFd::~WakeFd() {
  if (fd_ >= 0) ::close(fd_);
}

void WakeFd::wake() noexcept {
  uint64_t one = 1;
  // EAGAIN only when the counter is saturated, i.e. already signalled.
  [[maybe_unused]] ssize_t r = ::write(fd_, &one, sizeof one);
  // After the write: a drain that misses the flag leaves the descriptor
  // readable and the flag set, so the next drain consumes it.
  written_.store(true);
}

bool WakeFd::drain() noexcept {
  if (!written_.exchange(false)) return false;
  uint64_t v = 0;
  return ::read(fd_, &v, sizeof v) == static_cast<ssize_t>(sizeof v) && v != 0;
}
