#include "HidUSB/HidLockFile.h"

#include "Common/LogDir.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace HidIo {
namespace {

std::string lockFolder() {
  if (const char* d = std::getenv("XDG_RUNTIME_DIR"); d && *d) return d;
  return ensureLogDir() ? logDirPath() : std::string();
}

}  // namespace

std::string HidLockFile::lockFilePath(const std::string& devicePath) {
  std::string name;
  for (char c : devicePath) {
    if (c != '/') name += c;
    if (name.size() == 259) break;
  }
  if (name.empty()) name = "hid";
  std::string dir = lockFolder();
  return dir.empty() ? std::string() : dir + "/" + name;
}

HidLockFile::Result HidLockFile::acquire(const std::string& devicePath, int& err) {
  release();
  std::string path = lockFilePath(devicePath);
  if (path.empty()) {
    err = EACCES;
    return Result::Failed;
  }
  // The holder before us removes the file while still holding it: a lock
  // taken on the file it removed is worth nothing, so try the new one.
  for (int attempt = 0; attempt < 16; ++attempt) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      err = errno;
      return Result::Failed;
    }
    int rc;
    do {
      rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
      err = errno;
      ::close(fd);
      return err == EWOULDBLOCK ? Result::Busy : Result::Failed;
    }
    struct stat mine {
    }, named{};
    if (::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &named) == 0 &&
        mine.st_ino == named.st_ino && mine.st_dev == named.st_dev) {
      fd_ = fd;
      path_ = path;
      return Result::Locked;
    }
    ::close(fd);
  }
  err = EAGAIN;
  return Result::Failed;
}

void HidLockFile::release() {
  if (fd_ >= 0) {
    ::unlink(path_.c_str());  // still locked: nobody holds the old file after us
    ::close(fd_);             // drops the flock
    fd_ = -1;
    path_.clear();
  }
}

}  // namespace HidIo
