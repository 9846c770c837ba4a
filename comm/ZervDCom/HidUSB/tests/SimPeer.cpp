#include "SimPeer.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace HidTestData {

SimPeer::SimPeer(std::string path, uint16_t vid, uint16_t pid, uint16_t version,
                 std::vector<uint8_t> descriptor)
    : path_(std::move(path)) {
  hello_ = {uint8_t(vid),      uint8_t(vid >> 8), uint8_t(pid),
            uint8_t(pid >> 8), uint8_t(version),  uint8_t(version >> 8)};
  hello_.insert(hello_.end(), descriptor.begin(), descriptor.end());
  listenFd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path_.c_str(), sizeof(a.sun_path) - 1);
  ::unlink(path_.c_str());
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) < 0 ||
      ::listen(listenFd_, 8) < 0 || ::pipe2(wake_, O_CLOEXEC) < 0)
    throw std::runtime_error("SimPeer: cannot listen on " + path_);
  thread_ = std::thread([this] { run(); });
}

SimPeer::~SimPeer() {
  char c = 1;
  (void)!::write(wake_[1], &c, 1);
  thread_.join();
  for (int fd : conns_) ::close(fd);
  ::close(listenFd_);
  ::close(wake_[0]);
  ::close(wake_[1]);
  ::unlink(path_.c_str());
}

void SimPeer::setOnReport(std::function<void(const Report&)> f) {
  std::lock_guard<std::mutex> l(m_);
  onReport_ = std::move(f);
}

void SimPeer::sendToAll(const Report& r) {
  std::lock_guard<std::mutex> l(m_);
  for (int fd : conns_) (void)::send(fd, r.data(), r.size(), MSG_NOSIGNAL);
}

std::vector<SimPeer::Report> SimPeer::waitReports(size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> l(m_);
  cv_.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return received_.size() >= n; });
  return received_;
}

size_t SimPeer::connections() {
  std::lock_guard<std::mutex> l(m_);
  return conns_.size();
}

bool SimPeer::waitConnections(size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> l(m_);
  return cv_.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return conns_.size() >= n; });
}

bool SimPeer::waitConnectionsAtMost(size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> l(m_);
  return cv_.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return conns_.size() <= n; });
}

void SimPeer::dropAll() {
  std::lock_guard<std::mutex> l(m_);
  for (int fd : conns_) ::close(fd);
  conns_.clear();
}

void SimPeer::run() {
  for (;;) {
    std::vector<pollfd> p{{wake_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
    {
      std::lock_guard<std::mutex> l(m_);
      for (int fd : conns_) p.push_back({fd, POLLIN, 0});
    }
    if (::poll(p.data(), p.size(), 50) < 0) continue;  // 50 ms: re-reads conns_ after dropAll
    if (p[0].revents) return;
    if (p[1].revents & POLLIN) {
      int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c >= 0) {
        (void)::send(c, hello_.data(), hello_.size(), MSG_NOSIGNAL);
        std::lock_guard<std::mutex> l(m_);
        conns_.push_back(c);
        cv_.notify_all();
      }
    }
    for (size_t i = 2; i < p.size(); ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      uint8_t buf[512];
      std::function<void(const Report&)> cb;
      Report r;
      {
        // Under the lock: dropAll may close the descriptor, and a new one may
        // take its number.
        std::lock_guard<std::mutex> l(m_);
        auto it = std::find(conns_.begin(), conns_.end(), p[i].fd);
        if (it == conns_.end()) continue;  // dropped meanwhile
        const ssize_t n = ::recv(p[i].fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) {
          if (n == 0) {
            ::close(*it);
            conns_.erase(it);
            cv_.notify_all();
          }
          continue;
        }
        r.assign(buf, buf + n);
        received_.push_back(r);
        cb = onReport_;
        cv_.notify_all();
      }
      if (cb) cb(r);
    }
  }
}

}  // namespace HidTestData
