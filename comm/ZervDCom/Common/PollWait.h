#pragma once
// The one blocking wait of the library: poll() on a device and, optionally, a
// wake-up descriptor; EINTR is retried with the time left recomputed.

#include <poll.h>

enum class PollOutcome {
  Ready,     // the device has what was asked for (POLLIN / POLLOUT)
  TimedOut,  // nothing within the time
  Woken,     // the wake-up descriptor fired (it is not drained here)
  HangUp,    // POLLHUP without data: the peer or the device is gone
  Error,     // POLLERR / POLLNVAL or poll() failed; errno holds the reason
};

// events: POLLIN or POLLOUT. timeoutMs: 0 polls, kInfiniteMs (or negative)
// waits without limit. wakeFd < 0 means none.
PollOutcome pollWait(int fd, short events, int timeoutMs, int wakeFd = -1);
