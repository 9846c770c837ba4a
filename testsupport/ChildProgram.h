// A program a test runs with its standard output on a pipe, read line by line
// with a time limit. The program is killed and reaped when the object goes,
// unless it ended before.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zrq::test {

class ChildProgram {
 public:
  // argv[0] is the program's path; the environment is the test's own.
  explicit ChildProgram(std::vector<std::string> argv);
  ~ChildProgram();
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The next line of its standard output without the line feed; "" when none
  // came within timeoutMs or the output ended.
  std::string line(int timeoutMs);
  // Whether its standard output has ended (it closed it or exited).
  bool outputEnded() const { return ended_; }
  // SIGTERM, then wait().
  int terminate();
  // Waits for it to end: its exit code, -1 when a signal ended it or it was
  // not running.
  int wait();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buf_;
  bool ended_ = false;
};

}  // namespace zrq::test
