#include "ComTestLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "Common/LogDir.h"

namespace zrq::comm {

namespace {

std::recursive_mutex logMutex;
std::FILE* logFile = nullptr;
std::string logPath;
std::size_t logBytes = 0;
std::size_t rotateBytes = ComTestLog::kDefaultRotateBytes;

// O_NOFOLLOW: a symbolic link planted at the log's name is refused, never
// written through. The file stays locked while open: a log another ZRQ
// writes is neither truncated nor written (EWOULDBLOCK).
std::FILE* openTruncated(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return nullptr;
  }
  std::FILE* f = fdopen(fd, "w");
  if (!f) ::close(fd);
  return f;
}

}  // namespace

std::string logFolder(bool create, std::string* why) {
  // The library's rule: a folder another user owns or may write is refused.
  if (create && !ensureLogDir(why)) return {};
  return logDirPath();
}

namespace ComTestLog {

bool open(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(logMutex);
  if (logFile) {
    std::fclose(logFile);
    logFile = nullptr;
  }
  logPath.clear();
  logFile = openTruncated(path);
  if (!logFile) return false;
  logPath = path;
  logBytes = 0;
  return true;
}

std::string instanceFileName(int instance) {
  if (instance <= 1) return kFileName;
  return "TKS7730ComTest-" + std::to_string(instance) + ".log";
}

bool openDefault(std::string* why) {
  const std::string folder = logFolder(true, why);
  if (folder.empty()) return false;
  // A second ZRQ running beside the first keeps a log of its own.
  for (int instance = 1; instance <= kMaxInstances; ++instance) {
    const std::string path = folder + "/" + instanceFileName(instance);
    if (open(path)) return true;
    if (errno == EWOULDBLOCK) continue;
    if (why) *why = path + " cannot be written: " + std::strerror(errno);
    return false;
  }
  if (why) *why = "every connection log in " + folder + " is in use by another ZRQ";
  return false;
}

void close() {
  std::lock_guard<std::recursive_mutex> lock(logMutex);
  if (logFile) std::fclose(logFile);
  logFile = nullptr;
  logPath.clear();
}

bool isOpen() {
  std::lock_guard<std::recursive_mutex> lock(logMutex);
  return logFile != nullptr;
}

std::string path() {
  std::lock_guard<std::recursive_mutex> lock(logMutex);
  return logPath;
}

void write(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(logMutex);
  if (!logFile) return;
  if (logBytes > 0 && logBytes + text.size() > rotateBytes) {
    std::fclose(logFile);
    const std::string previous = logPath + ".1";
    // A failed rename leaves the old log to be truncated: the bound holds.
    std::rename(logPath.c_str(), previous.c_str());
    logFile = openTruncated(logPath);
    logBytes = 0;
    if (!logFile) {
      logPath.clear();
      return;
    }
  }
  std::fwrite(text.data(), 1, text.size(), logFile);
  std::fflush(logFile);
  logBytes += text.size();
}

void setRotateBytes(std::size_t bytes) {
  std::lock_guard<std::recursive_mutex> lock(logMutex);
  rotateBytes = bytes;
}

}  // namespace ComTestLog
}  // namespace zrq::comm
