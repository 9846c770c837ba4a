// Child processes that hold a file or device until the object goes: what the
// connection doctor must find and name.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace zrq::comm::test {

// A child process named name that runs hold (true: it holds what it should)
// and keeps it until this object goes; as the user nobody when asNobody and
// this process is root.
class HoldingProcess {
 public:
  HoldingProcess(const char* name, const std::function<bool()>& hold, bool asNobody = false) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    EXPECT_EQ(::pipe(release_), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(release_[1]);
      ::close(ready[0]);
      if (asNobody && ::geteuid() == 0) {
        const passwd* pw = ::getpwnam("nobody");
        if (!pw || ::setgroups(0, nullptr) != 0 || ::setgid(pw->pw_gid) != 0 ||
            ::setuid(pw->pw_uid) != 0)
          ::_exit(3);
        ::prctl(PR_SET_DUMPABLE, 1);  // its /proc/PID/fd stays readable to nobody
      }
      ::prctl(PR_SET_NAME, name);
      const char ok = hold() ? 1 : 0;
      [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
      char c;
      n = ::read(release_[0], &c, 1);  // returns when the parent closes its end
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release_[0]);
    char ok = 0;
    EXPECT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 1) << name << " could not take hold";
    ::close(ready[0]);
  }
  ~HoldingProcess() {
    ::close(release_[1]);
    ::waitpid(pid_, nullptr, 0);
  }
  HoldingProcess(const HoldingProcess&) = delete;
  HoldingProcess& operator=(const HoldingProcess&) = delete;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
};

// Holds an exclusive flock on the file or device.
class LockHolderProcess : public HoldingProcess {
 public:
  LockHolderProcess(const std::string& path, const char* name)
      : HoldingProcess(name, [path] {
          const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
          return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        }) {}
};

}  // namespace zrq::comm::test
