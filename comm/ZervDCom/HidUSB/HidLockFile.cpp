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
  ensureLogDir();
  return logDirPath();
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
  return dir + "/" + name;
}

HidLockFile::Result HidLockFile::acquire(const std::string& devicePath, int& err) {
  release();
  std::string path = lockFilePath(devicePath);
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
  fd_ = fd;
  return Result::Locked;
}

void HidLockFile::release() {
  if (fd_ >= 0) {
    ::close(fd_);  // drops the flock
    fd_ = -1;
  }
}

}  // namespace HidIo
