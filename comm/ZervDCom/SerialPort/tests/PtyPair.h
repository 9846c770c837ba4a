#pragma once
// A pseudo-terminal pair where the test plays the sensor on the master side.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) return;
    slavePath_ = name;
    makeRaw(master_);
    // The slave starts cooked; raw before anyone writes.
    int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s >= 0) {
      makeRaw(s);
      ::close(s);
    }
  }
  ~PtyPair() { closeMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
  const std::string& slavePath() const { return slavePath_; }
  std::u16string slaveName() const { return std::u16string(slavePath_.begin(), slavePath_.end()); }
  int master() const { return master_; }

  void send(const std::string& s) const {
    size_t done = 0;
    while (done < s.size()) {
      ssize_t n = ::write(master_, s.data() + done, s.size() - done);
      if (n > 0)
        done += static_cast<size_t>(n);
      else if (n < 0 && errno != EINTR && errno != EAGAIN)
        return;
    }
  }
  // What the port wrote, waiting up to ms for n bytes.
  std::string receive(size_t n, int ms = 1000) const {
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < n && std::chrono::steady_clock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buf[256];
      ssize_t k = ::read(master_, buf, sizeof buf);
      if (k > 0) out.append(buf, static_cast<size_t>(k));
    }
    return out;
  }
  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  static void makeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return;
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};
