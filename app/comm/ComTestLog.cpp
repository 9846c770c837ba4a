#include "ComTestLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace zrq::comm {

namespace {

bool makeFolders(const std::string& path) {
  // Each missing level is created private; an existing folder is left as it is.
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::recursive_mutex logMutex;
std::FILE* logFile = nullptr;
std::string logPath;
std::size_t logBytes = 0;
std::size_t rotateBytes = ComTestLog::kDefaultRotateBytes;

// O_NOFOLLOW: a symbolic link planted at the log's name is refused, never written through.
std::FILE* openTruncated(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = fdopen(fd, "w");
  if (!f) ::close(fd);
  return f;
}

}  // namespace

std::string logFolder(bool create) {
  std::string folder = env("ZRQ_LOG_DIR");
  if (folder.empty()) {
    std::string state = env("XDG_STATE_HOME");
    if (!state.empty() && state[0] == '/') {
      folder = state + "/zrq";
    } else {
      std::string home = env("HOME");
      if (home.empty()) return {};
      folder = home + "/.local/state/zrq";
    }
  }
  if (create && !makeFolders(folder)) return {};
  return folder;
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

bool openDefault() {
  std::string folder = logFolder(true);
  if (folder.empty()) return false;
  return open(folder + "/" + kFileName);
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
