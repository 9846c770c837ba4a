#include "Common/PollWait.h"

#include <cerrno>
#include <chrono>

#include "Common/Deadline.h"
#include "Common/Event.h"

PollOutcome pollWait(int fd, short events, int timeoutMs, int wakeFd) {
  const Deadline deadline(timeoutMs);
  for (;;) {
    const int wait = deadline.infinite() ? -1 : deadline.msLeft();
    pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    int r = ::poll(fds, wakeFd >= 0 ? 2 : 1, wait);
    if (r < 0) {
      if (errno == EINTR) continue;
      return PollOutcome::Error;
    }
    if (r == 0) return PollOutcome::TimedOut;
    if (wakeFd >= 0 && (fds[1].revents & POLLIN)) return PollOutcome::Woken;
    const short re = fds[0].revents;
    if (re & POLLNVAL) {
      errno = EBADF;
      return PollOutcome::Error;
    }
    // Data still waiting is delivered before a hang-up is reported.
    if (re & events) return PollOutcome::Ready;
    if (re & POLLHUP) {
      errno = EIO;
      return PollOutcome::HangUp;
    }
    if (re & POLLERR) {
      errno = EIO;
      return PollOutcome::Error;
    }
  }
}
