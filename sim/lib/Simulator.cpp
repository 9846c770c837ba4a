#include "Simulator.h"

#include "UhidSensor.h"
#include "UsbReports.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace tks7730sim {

using Clock = Engine::Clock;
using TimePoint = Engine::TimePoint;
using Ms = Engine::Ms;

namespace {

constexpr size_t kMaxPending = 64 * 1024;

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool makeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

std::string nthSerialNumber(const std::string& base, int index) {
  size_t digits = base.size();
  while (digits > 0 && base[digits - 1] >= '0' && base[digits - 1] <= '9') --digits;
  const std::string tail = base.substr(digits);
  if (tail.empty() || tail.size() > 15) return base + "-" + std::to_string(index + 1);
  std::string n = std::to_string(std::stoull(tail) + static_cast<unsigned long long>(index) + 1);
  while (n.size() < tail.size()) n.insert(n.begin(), '0');
  return base.substr(0, digits) + n;
}

// One sensor on a pseudo-terminal. We hold a slave descriptor of our own so the
// master never sees a hang-up (and never spins) while no client has it open.
class PtySensor {
 public:
  PtySensor(const SimOptions& opt, Trace* trace, TimePoint now)
      : engine(opt.sensor, opt.faults, "serial", true, trace, now),
        link_(opt.ptyLink),
        trace_(trace),
        byteTime_(opt.baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / opt.baud)
                               : std::chrono::nanoseconds(0)) {}
  ~PtySensor() { close(); }

  bool open(std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) return error = errnoText("posix_openpt"), false;
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      error = errnoText("pseudo-terminal set-up");
      close();
      return false;
    }
    slavePath = name;
    // Raw on both sides before any client can write: no echo, no CR/LF mapping.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0 || !makeRaw(slave_) || !makeRaw(master_)) {
      error = errnoText("raw mode on " + slavePath);
      close();
      return false;
    }
    if (!link_.empty() && !placeLink(error)) {
      close();
      return false;
    }
    return true;
  }

  void close() {
    closeFd(master_);
    closeFd(slave_);
    pending_.clear();
    if (!link_.empty()) {
      char target[PATH_MAX];
      const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
      if (n > 0 && std::string(target, static_cast<size_t>(n)) == slavePath) unlink(link_.c_str());
    }
  }

  bool up() const { return master_ >= 0; }
  std::string line() const { return "serial: " + slavePath; }

  void addPoll(std::vector<pollfd>& fds) {
    first_ = fds.size();
    const bool sendNow =
        !pending_.empty() && (byteTime_.count() == 0 || blocked_ || Clock::now() >= nextByte_);
    if (up()) fds.push_back({master_, static_cast<short>(POLLIN | (sendNow ? POLLOUT : 0)), 0});
  }

  void handle(const std::vector<pollfd>& fds, TimePoint now) {
    if (!up() || first_ >= fds.size()) return;
    const short re = fds[first_].revents;
    if (re & POLLIN) {
      char buf[4096];
      for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
          engine.receive(std::string_view(buf, static_cast<size_t>(n)), now);
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
      }
    }
  }

  // With --baud: when the next byte may leave.
  std::optional<TimePoint> nextByteDue() const {
    // A full pty waits for POLLOUT, not for the clock.
    if (!up() || byteTime_.count() == 0 || pending_.empty() || blocked_) return std::nullopt;
    return nextByte_;
  }

  void flush(TimePoint now) {
    if (!up()) return;
    const bool wasIdle = pending_.empty();
    pending_ += engine.takeOutput();
    size_t allowed = pending_.size();
    if (byteTime_.count() > 0) {
      // An idle line saves up no bytes: sending restarts now. A busy one
      // catches up on late wake-ups, so the rate holds.
      if (wasIdle && nextByte_ < now) nextByte_ = now;
      allowed = now < nextByte_
                    ? 0
                    : std::min<size_t>(pending_.size(),
                                       1 + static_cast<size_t>((now - nextByte_) / byteTime_));
    }
    blocked_ = false;
    while (allowed > 0 && !pending_.empty()) {
      const ssize_t n = ::write(master_, pending_.data(), std::min(allowed, pending_.size()));
      if (n < 0 && errno == EAGAIN) blocked_ = true;
      if (n > 0) {
        pending_.erase(0, static_cast<size_t>(n));
        allowed -= static_cast<size_t>(n);
        nextByte_ += byteTime_ * n;
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
    // Nobody reads: drop the oldest, as a line with no listener loses it.
    if (pending_.size() > kMaxPending) {
      if (trace_) trace_->log(now, "serial", "output dropped: nobody reads");
      pending_.erase(0, pending_.size() - kMaxPending / 2);
    }
    engine.setLineBusy(byteTime_.count() > 0 && !pending_.empty());
  }

  Engine engine;
  std::string slavePath;
  std::optional<TimePoint> returnAt;

 private:
  bool placeLink(std::string& error) {
    struct stat st {};
    if (lstat(link_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
      error = link_ + " exists and is not a symbolic link; not replacing it";
      return false;
    }
    const std::string tmp = link_ + ".tmp" + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(slavePath.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), link_.c_str()) != 0) {
      error = errnoText("link " + link_);
      unlink(tmp.c_str());
      return false;
    }
    return true;
  }

  std::string link_;
  Trace* trace_;
  int master_ = -1;
  int slave_ = -1;
  std::string pending_;
  size_t first_ = 0;
  std::chrono::nanoseconds byteTime_;  // 0: no pacing
  TimePoint nextByte_{};
  bool blocked_ = false;
};

// One USB sensor: a listening socket and the connections of its readers.
class UsbSensor {
 public:
  UsbSensor(const SimOptions& opt, int index, Trace* trace, TimePoint now)
      : engine(withSerial(opt.sensor, index), opt.faults, "usb" + std::to_string(index), false,
               trace, now),
        path(opt.usbDir + "/tks7730-sim-" + std::to_string(index)),
        version_(opt.usbVersion),
        trace_(trace) {}
  ~UsbSensor() { close(); }

  bool open(std::string& error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return error = "socket path too long: " + path, false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    listen_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_ < 0) return error = errnoText("socket"), false;
    auto* sa = reinterpret_cast<sockaddr*>(&addr);
    if (bind(listen_, sa, sizeof addr) != 0) {
      if (errno != EADDRINUSE) {
        error = errnoText("bind " + path);
        closeFd(listen_);
        return false;
      }
      // A socket file left by a simulator that died: take it over; a live one: refuse.
      int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
      const bool live = probe >= 0 && connect(probe, sa, sizeof addr) == 0;
      closeFd(probe);
      struct stat st {};
      if (live || lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
        error = path + " is in use";
        closeFd(listen_);
        return false;
      }
      unlink(path.c_str());
      if (bind(listen_, sa, sizeof addr) != 0) {
        error = errnoText("bind " + path);
        closeFd(listen_);
        return false;
      }
    }
    owned_ = true;
    if (::listen(listen_, 8) != 0) {
      error = errnoText("listen " + path);
      close();
      return false;
    }
    return true;
  }

  void close() {
    for (int& c : conns_) closeFd(c);
    conns_.clear();
    closeFd(listen_);
    if (owned_) unlink(path.c_str());
    owned_ = false;
  }

  bool up() const { return listen_ >= 0; }
  std::string line() const { return "usb: " + path; }

  void addPoll(std::vector<pollfd>& fds) {
    first_ = fds.size();
    if (!up()) return;
    fds.push_back({listen_, POLLIN, 0});
    for (int c : conns_) fds.push_back({c, POLLIN, 0});
  }

  void handle(const std::vector<pollfd>& fds, TimePoint now) {
    if (!up() || first_ >= fds.size()) return;
    const size_t known = conns_.size();
    for (size_t i = 0; i < known; ++i) {
      const short re = fds[first_ + 1 + i].revents;
      if (re & POLLIN)
        receive(conns_[i], now);
      else if (re & (POLLHUP | POLLERR | POLLNVAL))
        drop(conns_[i], now);
    }
    conns_.erase(std::remove(conns_.begin(), conns_.end(), -1), conns_.end());
    if (fds[first_].revents & POLLIN) accept(now);
  }

  void flush(TimePoint now) {
    if (!up()) return;
    const std::string text = engine.takeOutput();
    if (text.empty()) return;
    for (const auto& r : usb::packInput(text)) {
      for (int& c : conns_) {
        if (c < 0) continue;
        if (send(c, r.data(), r.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
            static_cast<ssize_t>(r.size()))
          continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          // A reader that does not keep up loses reports, as with a full hidraw queue.
          ++dropped_;
        } else {
          drop(c, now);
        }
      }
    }
    conns_.erase(std::remove(conns_.begin(), conns_.end(), -1), conns_.end());
  }

  Engine engine;
  std::string path;
  std::optional<TimePoint> returnAt;

 private:
  static SensorConfig withSerial(SensorConfig c, int index) {
    c.serialNumber = nthSerialNumber(c.serialNumber, index);
    c.seed += static_cast<uint64_t>(index) + 1;
    return c;
  }

  void log(TimePoint now, const std::string& e) {
    if (trace_) trace_->log(now, engine.name(), e);
  }

  void accept(TimePoint now) {
    for (;;) {
      int c = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (c < 0) {
        if (errno == EINTR) continue;
        return;
      }
      const auto hello = usb::helloPacket(version_);
      if (send(c, hello.data(), hello.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(hello.size())) {
        ::close(c);
        continue;
      }
      conns_.push_back(c);
      log(now, "usb connection opened (" + std::to_string(conns_.size()) + " open)");
    }
  }

  void drop(int& c, TimePoint now) {
    closeFd(c);
    log(now, "usb connection closed; polls so far " + std::to_string(polls_) +
                 ", reports dropped " + std::to_string(dropped_));
  }

  void receive(int& c, TimePoint now) {
    uint8_t buf[256];
    for (;;) {
      const ssize_t n = recv(c, buf, sizeof buf, MSG_DONTWAIT);
      if (n == 0) return drop(c, now);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) drop(c, now);
        return;
      }
      engine.usbHostReport(buf, static_cast<size_t>(n), polls_, now);
    }
  }

  uint16_t version_;
  Trace* trace_;
  int listen_ = -1;
  bool owned_ = false;
  std::vector<int> conns_;
  size_t first_ = 0;
  uint64_t polls_ = 0, dropped_ = 0;
};

Simulator::Simulator(const SimOptions& opt, Trace* trace) : opt_(opt), trace_(trace) {}

Simulator::~Simulator() = default;

bool Simulator::start(std::string& error) {
  const TimePoint now = Clock::now();
  if (opt_.pty) {
    pty_ = std::make_unique<PtySensor>(opt_, trace_, now);
    if (!pty_->open(error)) return false;
  }
  // A missing socket folder is made private to the user; an existing one is used as it is.
  if (opt_.usbCount > 0 && mkdir(opt_.usbDir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = errnoText("folder " + opt_.usbDir);
    return false;
  }
  for (int i = 0; i < opt_.usbCount; ++i) {
    usb_.push_back(std::make_unique<UsbSensor>(opt_, i, trace_, now));
    if (!usb_.back()->open(error)) return false;
  }
  for (int i = 0; i < opt_.uhidCount; ++i) {
    uhid_.push_back(std::make_unique<UhidSensor>(opt_, i, opt_.usbCount + i, trace_, now));
    if (!uhid_.back()->open(error)) return false;
  }
  return true;
}

std::vector<std::string> Simulator::readyLines() const {
  std::vector<std::string> lines;
  if (pty_ && pty_->up()) lines.push_back(pty_->line());
  for (const auto& u : usb_)
    if (u->up()) lines.push_back(u->line());
  for (const auto& u : uhid_)
    if (u->up()) lines.push_back(u->line());
  return lines;
}

namespace {

// Shared by both transports: run the engine's clock, tear the transport down
// for a hang-up and bring it back when its time has come.
template <class Sensor>
void service(Sensor& s, TimePoint now, Trace* trace,
             const std::function<void(const std::string&)>& announce) {
  if (s.returnAt && now >= *s.returnAt) {
    std::string error;
    if (s.open(error)) {
      s.returnAt.reset();
      s.engine.powerUp(now);
      announce(s.line());
    } else {
      if (trace) trace->log(now, s.engine.name(), "return failed: " + error);
      s.returnAt = now + Ms(1000);
    }
  }
  if (!s.up()) return;
  s.engine.advance(now);
  if (auto h = s.engine.takeHangup()) {
    if (trace)
      trace->log(now, s.engine.name(), "hang-up for " + std::to_string(h->count()) + " ms");
    s.close();
    s.engine.powerDown();
    s.returnAt = now + *h;
    return;
  }
  s.flush(now);
}

template <class Sensor>
void deadline(const Sensor& s, std::optional<TimePoint>& d) {
  auto take = [&](std::optional<TimePoint> t) {
    if (t && (!d || *t < *d)) d = t;
  };
  take(s.returnAt);
  if (s.up()) take(s.engine.nextDeadline());
}

}  // namespace

int Simulator::run(int stopFd, const std::function<void(const std::string&)>& announce) {
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    fds.push_back({stopFd, POLLIN, 0});
    if (pty_) pty_->addPoll(fds);
    for (auto& u : usb_) u->addPoll(fds);
    for (auto& u : uhid_) u->addPoll(fds);

    std::optional<TimePoint> next;
    if (pty_) deadline(*pty_, next);
    if (pty_) {
      const auto due = pty_->nextByteDue();
      if (due && (!next || *due < *next)) next = due;
    }
    for (auto& u : usb_) deadline(*u, next);
    for (auto& u : uhid_) deadline(*u, next);
    int timeout = -1;
    if (next) {
      const auto wait = *next - Clock::now();
      // Round up: waking a little early would only loop back into poll().
      const auto ms = std::chrono::ceil<Ms>(wait).count();
      timeout = ms <= 0 ? 0 : static_cast<int>(std::min<int64_t>(ms, INT_MAX));
    }
    const int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (fds[0].revents) return 0;
    const TimePoint now = Clock::now();
    if (pty_) pty_->handle(fds, now);
    for (auto& u : usb_) u->handle(fds, now);
    for (auto& u : uhid_) u->handle(fds, now);
    if (pty_) service(*pty_, now, trace_, announce);
    for (auto& u : usb_) service(*u, now, trace_, announce);
    for (auto& u : uhid_) service(*u, now, trace_, announce);
  }
}

}  // namespace tks7730sim
