// A child process that holds an exclusive flock on a file or device until the
// object goes: what the connection doctor must find and name.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace zrq::comm::test {

class LockHolderProcess {
 public:
  // name: the child's process name, which the doctor's texts show.
  LockHolderProcess(const std::string& path, const char* name) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    EXPECT_EQ(::pipe(release_), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(release_[1]);
      ::close(ready[0]);
      ::prctl(PR_SET_NAME, name);
      const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
      const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
      [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
      char c;
      n = ::read(release_[0], &c, 1);  // returns when the parent closes its end
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release_[0]);
    char ok = 0;
    EXPECT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 1) << name << " could not lock " << path;
    ::close(ready[0]);
  }
  ~LockHolderProcess() {
    ::close(release_[1]);
    ::waitpid(pid_, nullptr, 0);
  }
  LockHolderProcess(const LockHolderProcess&) = delete;
  LockHolderProcess& operator=(const LockHolderProcess&) = delete;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
};

}  // namespace zrq::comm::test
