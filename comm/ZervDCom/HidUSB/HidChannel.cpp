#include "HidUSB/HidChannel.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "Common/PollWait.h"

namespace HidIo {
namespace {

class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

class HidrawChannel final : public HidChannel {
 public:
  HidrawChannel(int fd, std::vector<uint8_t> desc) : fd_(fd), desc_(std::move(desc)) {}
  ~HidrawChannel() override { ::close(fd_); }
  int fd() const override { return fd_; }
  const std::vector<uint8_t>& reportDescriptor() const override { return desc_; }
  ssize_t readReport(uint8_t* buf, size_t len) override {
    for (;;) {
      ssize_t n = ::read(fd_, buf, len);
      if (n >= 0) return n == 0 ? -ENODEV : n;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return errno == EIO ? -ENODEV : -errno;
    }
  }
  ssize_t writeReport(const uint8_t* buf, size_t len) override {
    for (;;) {
      ssize_t n = ::write(fd_, buf, len);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return -errno;
    }
  }

 private:
  int fd_;
  std::vector<uint8_t> desc_;
};

class SocketChannel final : public HidChannel {
 public:
  SocketChannel(int fd, HidIdentity id, std::vector<uint8_t> desc)
      : fd_(fd), id_(id), desc_(std::move(desc)) {}
  ~SocketChannel() override { ::close(fd_); }
  int fd() const override { return fd_; }
  const std::vector<uint8_t>& reportDescriptor() const override { return desc_; }
  const HidIdentity& identity() const { return id_; }
  ssize_t readReport(uint8_t* buf, size_t len) override {
    for (;;) {
      ssize_t n = ::recv(fd_, buf, len, MSG_DONTWAIT);
      if (n > 0) return n;
      if (n == 0) {
        // End of file or an empty packet read the same: only a peer that
        // went away (the simulator's unplug) also shows as a hang-up.
        pollfd p{fd_, POLLRDHUP, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP))) return -ENODEV;
        return 0;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return (errno == ECONNRESET || errno == EPIPE) ? -ENODEV : -errno;
    }
  }
  ssize_t writeReport(const uint8_t* buf, size_t len) override {
    for (;;) {
      ssize_t n = ::send(fd_, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return (errno == ECONNRESET || errno == EPIPE || errno == ENOTCONN) ? -ENODEV : -errno;
    }
  }

 private:
  int fd_;
  HidIdentity id_;
  std::vector<uint8_t> desc_;
};

std::unique_ptr<HidChannel> openSocket(const std::string& path, int& err, int helloTimeoutMs) {
  sockaddr_un addr{};
  if (path.size() >= sizeof(addr.sun_path)) {
    err = ENAMETOOLONG;
    return nullptr;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  FdGuard fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) {
    err = errno;
    return nullptr;
  }
  int rc;
  do {
    rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    err = errno;
    return nullptr;
  }
  switch (pollWait(fd.get(), POLLIN, helloTimeoutMs)) {
    case PollOutcome::Ready:
    case PollOutcome::HangUp:  // the recv below tells a hello from nothing
      break;
    case PollOutcome::TimedOut:
    case PollOutcome::Woken:
      err = ETIMEDOUT;
      return nullptr;
    case PollOutcome::Error:
      err = errno;
      return nullptr;
  }
  // The hello holds at most the identity and a descriptor of bounded size.
  std::vector<uint8_t> hello(6 + 4096 + 1);
  ssize_t n;
  do {
    n = ::recv(fd.get(), hello.data(), hello.size(), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    err = errno;
    return nullptr;
  }
  if (n < 6 || static_cast<size_t>(n) == hello.size()) {
    err = n == 0 ? ENODEV : EPROTO;
    return nullptr;
  }
  HidIdentity id;
  id.vendorId = static_cast<uint16_t>(hello[0] | hello[1] << 8);
  id.productId = static_cast<uint16_t>(hello[2] | hello[3] << 8);
  id.versionNumber = static_cast<uint16_t>(hello[4] | hello[5] << 8);
  std::vector<uint8_t> desc(hello.begin() + 6, hello.begin() + n);
  return std::make_unique<SocketChannel>(fd.release(), id, std::move(desc));
}

std::unique_ptr<HidChannel> openHidraw(const std::string& path, int& err) {
  FdGuard fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    err = errno;
    return nullptr;
  }
  int size = 0;
  if (::ioctl(fd.get(), HIDIOCGRDESCSIZE, &size) < 0) {
    err = errno;
    return nullptr;
  }
  if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    err = EPROTO;
    return nullptr;
  }
  hidraw_report_descriptor rd{};
  rd.size = static_cast<uint32_t>(size);
  if (::ioctl(fd.get(), HIDIOCGRDESC, &rd) < 0) {
    err = errno;
    return nullptr;
  }
  std::vector<uint8_t> desc(rd.value, rd.value + rd.size);
  return std::make_unique<HidrawChannel>(fd.release(), std::move(desc));
}

}  // namespace

std::unique_ptr<HidChannel> openHidChannel(const std::string& path, int& err, int helloTimeoutMs) {
  err = 0;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
    return openSocket(path, err, helloTimeoutMs);
  return openHidraw(path, err);
}

bool channelIdentity(const HidChannel& ch, HidIdentity& id, int& err) {
  if (auto* s = dynamic_cast<const SocketChannel*>(&ch)) {
    id = s->identity();
    return true;
  }
  hidraw_devinfo info{};
  if (::ioctl(ch.fd(), HIDIOCGRAWINFO, &info) < 0) {
    err = errno;
    return false;
  }
  id.vendorId = static_cast<uint16_t>(info.vendor);
  id.productId = static_cast<uint16_t>(info.product);
  id.versionNumber = 0;  // the version comes from sysfs (bcdDevice)
  return true;
}

}  // namespace HidIo
