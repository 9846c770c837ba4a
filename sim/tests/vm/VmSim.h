#pragma once
// tks7730-sim started by a test inside the virtual machine.

#include "CApi.h"
#include "ChildProgram.h"

#include <string>
#include <vector>

namespace vmtest {

// tks7730-sim --uhid N; ready once every "uhid: " line arrived. Ended with
// SIGTERM, so that it destroys its devices itself.
class Sim {
 public:
  explicit Sim(int n, std::vector<std::string> extra = {}) : proc_(arguments(n, std::move(extra))) {
    while (static_cast<int>(nodes.size()) < n) {
      const std::string l = line(20000);
      if (l.empty()) break;
      if (l.rfind("uhid: ", 0) == 0) nodes.push_back(l.substr(6));
    }
  }
  ~Sim() { stop(); }
  int stop() { return proc_.terminate(); }
  // Next stdout line, empty after ms.
  std::string line(int ms) { return proc_.line(ms); }
  std::vector<std::string> nodes;

 private:
  static std::vector<std::string> arguments(int n, std::vector<std::string> extra) {
    std::vector<std::string> args = {binDir() + "/tks7730-sim", "--no-pty",   "--uhid",
                                     std::to_string(n),         "--interval", "100"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  zrq::test::ChildProgram proc_;
};

}  // namespace vmtest
