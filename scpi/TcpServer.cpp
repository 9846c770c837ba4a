#include "scpi/TcpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace zrq::scpi {

TcpServer::TcpServer(Engine& engine) : engine_(engine) {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  // Written when a wait ends outside service(), so the host's poll wakes.
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epoll_ >= 0 && wake_ >= 0) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = wake_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
  }
}

TcpServer::~TcpServer() {
  close();
  if (wake_ >= 0) ::close(wake_);
  if (epoll_ >= 0) ::close(epoll_);
}

void TcpServer::close() {
  const bool had = !clients_.empty();
  for (auto& [fd, c] : clients_) ::close(fd);
  clients_.clear();
  if (listen_ >= 0) ::close(listen_);
  listen_ = -1;
  port_ = 0;
  if (had && onCount_) onCount_(0);
}

bool TcpServer::listen(const std::string& addr, int port, std::string* why) {
  auto fail = [&](const std::string& what) {
    if (why) *why = what + ": " + std::strerror(errno);
    if (listen_ >= 0) ::close(listen_);
    listen_ = -1;
    return false;
  };
  close();
  if (epoll_ < 0 || wake_ < 0) return fail("epoll");
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  if (port < 0 || port > 65535 || inet_pton(AF_INET, addr.c_str(), &sa.sin_addr) != 1) {
    errno = EINVAL;
    return fail("address " + addr);
  }
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listen_ < 0) return fail("socket");
  int one = 1;
  setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
    return fail("bind " + addr + ":" + std::to_string(port));
  if (::listen(listen_, 16) != 0) return fail("listen");
  socklen_t len = sizeof sa;
  getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = listen_;
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &ev) != 0) return fail("epoll_ctl");
  return true;
}

void TcpServer::service() {
  epoll_event events[32];
  int n;
  do n = epoll_wait(epoll_, events, 32, 0);
  while (n < 0 && errno == EINTR);
  for (int i = 0; i < n; ++i) {
    const int fd = events[i].data.fd;
    if (fd == wake_) {
      std::uint64_t v;
      while (read(wake_, &v, sizeof v) > 0) {
      }
    } else if (fd == listen_) {
      acceptAll();
    } else if (auto it = clients_.find(fd); it != clients_.end()) {
      if (events[i].events & EPOLLIN) readFrom(it->second);
      // Hung up both ways or failed: nothing can be sent; HUP would repeat.
      if (events[i].events & (EPOLLHUP | EPOLLERR)) it->second.hungUp = true;
    }
  }
  // Write what is pending everywhere (waits end outside service too).
  std::vector<int> dead;
  for (auto& [fd, c] : clients_) {
    if (c.hungUp || !flush(c) ||
        (c.peerClosed && !c.client->waiting() && c.client->output().empty()))
      dead.push_back(fd);
    else
      updateEvents(c);
  }
  for (int fd : dead) drop(fd);
}

void TcpServer::acceptAll() {
  const std::size_t before = clients_.size();
  for (;;) {
    int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;  // EAGAIN, or out of descriptors: try again at the next service
    }
    if (clients_.size() >= kMaxClients) {
      ::close(fd);  // refused: the client sees the connection closed at once
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Conn& c = clients_[fd];
    c.fd = fd;
    c.client = std::make_unique<Client>(engine_);
    c.client->setOutputCallback([this] {
      const std::uint64_t one64 = 1;
      [[maybe_unused]] ssize_t r = write(wake_, &one64, sizeof one64);
    });
    epoll_event ev{};
    ev.events = c.events = EPOLLIN;
    ev.data.fd = fd;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
  }
  if (clients_.size() != before && onCount_) onCount_(clients_.size());
}

void TcpServer::readFrom(Conn& c) {
  char buf[16384];
  // At most 64 KiB per call, so one busy client cannot starve the others.
  for (int round = 0; round < 4 && !c.peerClosed; ++round) {
    if (c.client->queuedInput() > kMaxQueuedInput) return;
    const ssize_t r = recv(c.fd, buf, sizeof buf, 0);
    if (r > 0) {
      c.client->feed(std::string_view(buf, static_cast<std::size_t>(r)));
      // A short read drained the socket: the level-triggered epoll reports
      // what comes later, so no recv just to see EAGAIN (one per query).
      if (static_cast<std::size_t>(r) < sizeof buf) return;
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    c.peerClosed = true;  // EOF or a reset: finish what it asked, then close
  }
}

bool TcpServer::flush(Conn& c) {
  std::string& out = c.client->output();
  while (!out.empty()) {
    const ssize_t w = send(c.fd, out.data(), out.size(), MSG_NOSIGNAL);
    if (w > 0) {
      out.erase(0, static_cast<std::size_t>(w));
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;  // EPIPE, ECONNRESET
  }
  return out.size() <= kMaxPendingOutput;
}

void TcpServer::updateEvents(Conn& c) {
  std::uint32_t want = 0;
  if (!c.peerClosed && c.client->queuedInput() <= kMaxQueuedInput) want |= EPOLLIN;
  if (!c.client->output().empty()) want |= EPOLLOUT;
  if (want == c.events) return;
  epoll_event ev{};
  ev.events = c.events = want;
  ev.data.fd = c.fd;
  epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
}

void TcpServer::drop(int fd) {
  epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
  ::close(fd);
  clients_.erase(fd);
  if (onCount_) onCount_(clients_.size());
}

}  // namespace zrq::scpi
