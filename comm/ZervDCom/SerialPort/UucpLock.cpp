#include "SerialPort/UucpLock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

std::string lockName(const std::string& devicePath) {
  std::string n = devicePath;
  if (n.rfind("/dev/", 0) == 0) n = n.substr(5);
  for (char& c : n)
    if (c == '/') c = '_';
  return "LCK.." + n;
}

// Pid in a lock file (ASCII, HDB style), or -1.
long readLockPid(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  char buf[32] = {};
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return -1;
  const char* p = buf;
  while (*p == ' ') ++p;
  long pid = -1;
  std::from_chars(p, buf + n, pid);
  return pid;
}

}  // namespace

std::string acquireUucpLock(const std::string& devicePath, bool& busy, const char* lockDir) {
  busy = false;
  if (::access(lockDir, W_OK) != 0) return {};
  const std::string path = std::string(lockDir) + "/" + lockName(devicePath);
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) {
      char buf[16];
      int len = std::snprintf(buf, sizeof buf, "%10ld\n", static_cast<long>(::getpid()));
      bool ok = ::write(fd, buf, static_cast<size_t>(len)) == len;
      ::close(fd);
      if (!ok) {
        ::unlink(path.c_str());
        return {};
      }
      return path;
    }
    if (errno != EEXIST) return {};  // cannot lock: proceed without, as when unwritable
    long pid = readLockPid(path);
    if (pid > 0 &&
        (pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) {
      busy = true;
      return {};
    }
    ::unlink(path.c_str());  // stale: its owner is gone
  }
  busy = true;
  return {};
}

void releaseUucpLock(const std::string& lockPath) {
  if (!lockPath.empty()) ::unlink(lockPath.c_str());
}
