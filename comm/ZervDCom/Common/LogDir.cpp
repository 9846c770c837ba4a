#include "Common/LogDir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

std::string envOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

bool makeDirs(const std::string& path) {
  if (path.empty()) return false;
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  auto slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !makeDirs(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::string logDirPath() {
  std::string d = envOrEmpty("ZRQ_LOG_DIR");
  if (!d.empty()) return d;
  d = envOrEmpty("XDG_STATE_HOME");
  if (!d.empty()) return d + "/zrq";
  d = envOrEmpty("HOME");
  if (d.empty()) d = "/tmp";
  return d + "/.local/state/zrq";
}

bool ensureLogDir() { return makeDirs(logDirPath()); }

std::string logFilePath(const std::string& nameOrPath) {
  if (!nameOrPath.empty() && nameOrPath.front() == '/') return nameOrPath;
  return logDirPath() + "/" + nameOrPath;
}

FILE* openLogFile(const std::string& nameOrPath, bool append) {
  if (nameOrPath.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  if (nameOrPath.front() != '/' && !ensureLogDir()) return nullptr;
  const std::string path = logFilePath(nameOrPath);
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (append ? O_APPEND : O_TRUNC);
  int fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0) return nullptr;
  FILE* f = ::fdopen(fd, append ? "a" : "w");
  if (!f) {
    int e = errno;
    ::close(fd);
    errno = e;
  }
  return f;
}
