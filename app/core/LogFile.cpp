#include "core/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/LogRecord.h"

namespace zrq::core {
namespace {

std::string errnoText(int err) {
  char buf[256];
  // The GNU variant returns the text, which need not be in buf.
  const char* t = strerror_r(err, buf, sizeof buf);
  return t ? std::string(t) : "error " + std::to_string(err);
}

}  // namespace

LogFileResult LogFile::fail(int err, std::string_view what) {
  LogFileResult r;
  r.ok = false;
  r.errorNumber = err;
  r.message = std::string(what) + " '" + path_ + "'";
  if (err) r.message += ": " + errnoText(err);
  return r;
}

LogFileResult LogFile::open(const std::string& path) {
  close();
  path_ = path;
  createdNew_ = false;
  if (path.empty()) return fail(ENOENT, "No log file name");
  // A link planted at the name (in a shared folder) is never written through,
  // and a FIFO without a reader must not hold the open for good.
  constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  // Exclusive creation tells atomically whether the file is new.
  int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
  bool created = fd >= 0;
  if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kFlags);
  if (fd < 0) {
    const int err = errno;
    struct stat lst {};
    const bool known = ::lstat(path.c_str(), &lst) == 0;
    if (known && S_ISLNK(lst.st_mode)) return fail(0, "Cannot log to a symbolic link");
    if (known && (S_ISFIFO(lst.st_mode) || S_ISSOCK(lst.st_mode)))
      return fail(0, "Cannot log to a pipe or socket");
    return fail(err, "Cannot open the log file");
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 &&
      (S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
    ::close(fd);
    if (S_ISDIR(st.st_mode)) return fail(EISDIR, "Cannot open the log file");
    return fail(0, "Cannot log to a pipe or socket");
  }
  // Records are written whole: blocking from here on.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  if (created) {
    LogFileResult r = writeWhole(logHeaderText());
    if (!r) {
      ::close(fd_);
      fd_ = -1;
      ::unlink(path.c_str());
      r.message = "Cannot write the header lines to '" + path_ + "'" +
                  (r.errorNumber ? ": " + errnoText(r.errorNumber) : std::string());
      return r;
    }
    createdNew_ = true;
  }
  return {};
}

LogFileResult LogFile::writeWhole(std::string_view text) {
  struct stat before {};
  const bool regular = ::fstat(fd_, &before) == 0 && S_ISREG(before.st_mode);
  if (regular && before.st_nlink == 0) return fail(0, "Records cannot go to the deleted log file");
  ssize_t n;
  do {
    n = ::write(fd_, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(text.size())) return {};
  const int err = n < 0 ? errno : ENOSPC;  // a short write is a full device
  // Cut the partial line off, so the file ends with the last whole record.
  if (regular && n > 0) {
    int rc;
    do {
      rc = ::ftruncate(fd_, before.st_size);
    } while (rc < 0 && errno == EINTR);
  }
  return fail(err, "Cannot write to the log file");
}

LogFileResult LogFile::append(std::string_view record) {
  if (fd_ < 0) return fail(EBADF, "No open log file");
  return writeWhole(record);
}

void LogFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace zrq::core
