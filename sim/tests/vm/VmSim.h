#pragma once
// tks7730-sim started by a test inside the virtual machine.

#include "CApi.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vmtest {

// tks7730-sim --uhid N; ready once every "uhid: " line arrived.
class Sim {
 public:
  explicit Sim(int n, std::vector<std::string> extra = {}) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::vector<std::string> args = {binDir() + "/tks7730-sim", "--no-pty", "--uhid", std::to_string(n),
                                     "--interval", "100"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    out_ = out[0];
    while (static_cast<int>(nodes.size()) < n) {
      const std::string l = line(20000);
      if (l.empty()) break;
      if (l.rfind("uhid: ", 0) == 0) nodes.push_back(l.substr(6));
    }
  }
  ~Sim() {
    stop();
    if (out_ >= 0) ::close(out_);
  }
  int stop() {
    int st = -1;
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, &st, 0);
      pid_ = -1;
    }
    return st;
  }
  // Next stdout line, empty after ms.
  std::string line(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const auto nl = buf_.find('\n');
      if (nl != std::string::npos) {
        std::string l = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return l;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) return {};
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) return {};
      char b[512];
      const ssize_t k = ::read(out_, b, sizeof b);
      if (k <= 0) return {};
      buf_.append(b, static_cast<size_t>(k));
    }
  }
  std::vector<std::string> nodes;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buf_;
};

}  // namespace vmtest
