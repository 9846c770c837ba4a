#include "Common/LogDir.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string envOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

bool makeDirs(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  auto slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !makeDirs(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// The user's home from the password database when HOME is unset.
std::string homeOfUser() {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found ||
      !found->pw_dir)
    return {};
  return found->pw_dir;
}

// Only a folder of this user that nobody else may write into holds our logs
// and locks: another user could otherwise plant links or read them.
bool folderIsPrivate(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::atomic<bool> gRefusalTold{false};

}  // namespace

std::string logDirPath() {
  std::string d = envOrEmpty("ZRQ_LOG_DIR");
  if (!d.empty()) return d;
  // A relative XDG path is invalid and ignored.
  d = envOrEmpty("XDG_STATE_HOME");
  if (!d.empty() && d.front() == '/') return d + "/zrq";
  d = envOrEmpty("HOME");
  if (d.empty()) d = homeOfUser();
  // Never a shared folder such as /tmp, where anyone can create it first.
  if (d.empty() || d == "/") return {};
  return d + "/.local/state/zrq";
}

bool ensureLogDir(std::string* why) {
  const std::string d = logDirPath();
  if (d.empty()) {
    if (why) *why = "no log folder can be named (HOME is not set)";
    return false;
  }
  if (!makeDirs(d)) {
    if (why) *why = d + " cannot be created: " + std::strerror(errno);
    return false;
  }
  if (folderIsPrivate(d)) return true;
  if (why) *why = d + " is not owned by this user or is writable by others";
  if (!gRefusalTold.exchange(true))
    std::fprintf(stderr,
                 "ZervDCom: log folder %s refused: not owned by this user or writable by others\n",
                 d.c_str());
  errno = EACCES;
  return false;
}

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
