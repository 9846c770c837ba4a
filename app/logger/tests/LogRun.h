// Runs bin/zrq-log or bin/ZRQUSB as a child process for the end-to-end
// tests, and reads CSV logs back with Python's csv module.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zrq::logger::test {

class Child {
 public:
  // Starts bin/<program> with the arguments and extra environment entries
  // ("NAME=value"); standard error (and output) go to a file.
  Child(const std::string& program, const std::vector<std::string>& args,
        const std::vector<std::string>& env = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  void signal(int sig) const;
  // The exit status once it ended within the time, -1 on time-out (then
  // killed), 128+N when a signal N ended it.
  int wait(int timeoutMs);
  std::string errors() const;

 private:
  pid_t pid_ = -1;
  std::string errPath_;
  int status_ = -2;
};

// The records of a log, each its 21 fields; ok false (and why) when Python's
// csv module finds the file malformed. headers: the file must start with them.
struct ReadBack {
  bool ok = false;
  std::string why;
  std::vector<std::vector<std::string>> records;
};
ReadBack readLog(const std::string& path, bool headers);

// Whole CR LF lines in the file (0 when it cannot be read).
int lineCount(const std::string& path);

// Seconds since midnight of a record's "HH:MM:SS" time field.
int secondsOfDay(const std::string& time);

}  // namespace zrq::logger::test
