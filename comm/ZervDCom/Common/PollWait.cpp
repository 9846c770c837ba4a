#include "Common/PollWait.h"

#include <cerrno>
#include <chrono>

#include "Common/Event.h"

PollOutcome pollWait(int fd, short events, int timeoutMs, int wakeFd) {
  using Clock = std::chrono::steady_clock;
  const bool infinite = timeoutMs < 0 || timeoutMs == kInfiniteMs;
  const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
  for (;;) {
    int wait = -1;
    if (!infinite) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
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
