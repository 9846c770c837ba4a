// A non-blocking TCP server for the SCPI engine (raw socket, one program
// message per line). It owns the listening socket and its clients and shows
// the host ONE pollable descriptor (an epoll set): poll fd() for POLLIN, or
// watch it with a QSocketNotifier, and call service() when it is readable.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "scpi/Engine.h"

namespace zrq::scpi {

class TcpServer {
 public:
  static constexpr std::size_t kMaxClients = 16;
  static constexpr std::size_t kMaxPendingOutput = 1 << 20;   // then the client is dropped
  static constexpr std::size_t kMaxQueuedInput = 256 * 1024;  // then reading pauses

  explicit TcpServer(Engine& engine);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // addr: an IPv4 address ("127.0.0.1", "0.0.0.0"); port 0 picks a free one.
  bool listen(const std::string& addr, int port, std::string* why);
  void close();
  int port() const { return port_; }
  int fd() const { return epoll_; }
  // Accepts, reads, runs and writes what is ready; never blocks.
  void service();
  std::size_t clientCount() const { return clients_.size(); }
  void setClientCountChanged(std::function<void(std::size_t)> cb) { onCount_ = std::move(cb); }

 private:
  struct Conn {
    int fd = -1;
    std::unique_ptr<Client> client;
    bool peerClosed = false, hungUp = false;
    std::uint32_t events = 0;
  };
  void acceptAll();
  void readFrom(Conn& c);
  bool flush(Conn& c);  // false: drop it
  void drop(int fd);
  void updateEvents(Conn& c);

  Engine& engine_;
  int epoll_ = -1, listen_ = -1, wake_ = -1;
  int port_ = 0;
  std::map<int, Conn> clients_;
  std::function<void(std::size_t)> onCount_;
};

}  // namespace zrq::scpi
