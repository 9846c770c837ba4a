#pragma once
// A minimal device end for the HID tests: a listening SOCK_SEQPACKET socket
// that greets every connection with the hello packet, records the reports it
// receives and can send input reports to every open connection.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace HidTestData {

class SimPeer {
 public:
  using Report = std::vector<uint8_t>;
  // onReport runs on the peer's thread for every report received.
  SimPeer(std::string path, uint16_t vid, uint16_t pid, uint16_t version,
          std::vector<uint8_t> descriptor);
  ~SimPeer();
  SimPeer(const SimPeer&) = delete;
  SimPeer& operator=(const SimPeer&) = delete;

  const std::string& path() const { return path_; }
  void setOnReport(std::function<void(const Report&)> f);
  void sendToAll(const Report& r);
  // Waits (bounded) until at least n reports arrived; returns a copy.
  std::vector<Report> waitReports(size_t n, int timeoutMs = 5000);
  size_t connections();
  bool waitConnections(size_t n, int timeoutMs = 5000);
  // Waits (bounded) until at most n connections remain open.
  bool waitConnectionsAtMost(size_t n, int timeoutMs = 5000);
  // Closes every accepted connection (an unplug as the host sees it).
  void dropAll();

 private:
  void run();
  std::string path_;
  std::vector<uint8_t> hello_;
  int listenFd_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<int> conns_;
  std::vector<Report> received_;
  std::function<void(const Report&)> onReport_;
};

}  // namespace HidTestData
