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
  // Counted before the write: whoever sees the descriptor readable also sees
  // the count, so a drain never skips a wake-up it was woken by.
  woken_.fetch_add(1);
  uint64_t one = 1;
  // EAGAIN only when the counter is saturated, i.e. already signalled.
  if (::write(fd_, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) woken_.fetch_sub(1);
}

bool WakeFd::drain() noexcept {
  if (woken_.load() == drained_.load()) return false;
  uint64_t v = 0;
  // EAGAIN: a wake is between its count and its write; the next drain takes it.
  if (::read(fd_, &v, sizeof v) != static_cast<ssize_t>(sizeof v) || v == 0) return false;
  drained_.fetch_add(v);
  return true;
}
