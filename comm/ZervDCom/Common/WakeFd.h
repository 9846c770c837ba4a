#pragma once
// A wake-up descriptor (eventfd) that a blocking poll() includes so that
// another thread can interrupt it.

#include <atomic>
#include <cstdint>

class WakeFd {
 public:
  WakeFd();  // raises CommErrInfo::CommSTDCExc (code 12) when no eventfd can be made
  ~WakeFd();
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;

  int fd() const noexcept { return fd_; }
  void wake() noexcept;
  // Consumes pending wake-ups; true if there were any.
  bool drain() noexcept;

 private:
  int fd_;
  // Wake-ups counted and taken, so a drain with nothing written costs no
  // system call (requests are reset once per line read).
  std::atomic<std::uint64_t> woken_{0};
  std::atomic<std::uint64_t> drained_{0};
};
