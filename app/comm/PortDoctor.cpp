#include "PortDoctor.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AppStatus.h"
#include "uiface/MsgBox.h"

namespace zrq::comm::doctor {

namespace {

namespace fs = std::filesystem;

std::atomic<bool> boxShown{false};

std::string readSmall(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  char buf[4096];
  while (in && text.size() < 65536) {
    in.read(buf, sizeof buf);
    text.append(buf, static_cast<std::size_t>(in.gcount()));
  }
  return text;
}

std::string userName(uid_t uid) {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found) return found->pw_name;
  return {};
}

std::string groupName(gid_t gid) {
  std::vector<char> buf(65536);
  group gr{};
  group* found = nullptr;
  if (getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) == 0 && found) return found->gr_name;
  return {};
}

// A name as the texts show it; numbers stand in where the databases are silent.
std::string ownerText(const DeviceFacts& d) {
  return d.ownerName.empty() ? "uid " + std::to_string(d.ownerUid) : d.ownerName;
}
std::string groupText(const DeviceFacts& d) {
  return d.groupName.empty() ? "gid " + std::to_string(d.groupGid) : d.groupName;
}

bool parseDecimal(std::string_view text, long& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\0'))
    text.remove_suffix(1);
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parseHex(const std::string& text, unsigned long& value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return ec == std::errc() && end == text.data() + text.size();
}

std::string commandOf(pid_t pid, const SystemRoots& roots) {
  std::string comm = readSmall(roots.proc + "/" + std::to_string(pid) + "/comm");
  while (!comm.empty() && comm.back() == '\n') comm.pop_back();
  return comm;
}

LockHolder holder(pid_t pid, const SystemRoots& roots) {
  LockHolder h{pid > 0 ? pid : 0, pid > 0 ? commandOf(pid, roots) : "", 0};
  struct stat st {};
  if (pid > 0 && ::stat((roots.proc + "/" + std::to_string(pid)).c_str(), &st) == 0)
    h.uid = st.st_uid;
  return h;
}

// Holders of a lock on the file (st_dev, st_ino) in /proc/locks, waiters left
// out; a pid of 0 or less means the holder is not visible from here.
std::vector<pid_t> flockHolders(const struct stat& st, const SystemRoots& roots) {
  std::vector<pid_t> pids;
  std::istringstream in(readSmall(roots.proc + "/locks"));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    // "N: TYPE ADVISORY|MANDATORY MODE PID MAJ:MIN:INODE START END"
    if (f.size() < 6 || f[1] == "->") continue;
    const std::string& id = f[5];
    const auto c1 = id.find(':');
    const auto c2 = c1 == std::string::npos ? c1 : id.find(':', c1 + 1);
    if (c2 == std::string::npos) continue;
    unsigned long maj = 0, min = 0;
    long ino = 0, pid = 0;
    if (!parseHex(id.substr(0, c1), maj) || !parseHex(id.substr(c1 + 1, c2 - c1 - 1), min) ||
        !parseDecimal(id.substr(c2 + 1), ino) || !parseDecimal(f[4], pid))
      continue;
    if (maj == major(st.st_dev) && min == minor(st.st_dev) && static_cast<ino_t>(ino) == st.st_ino)
      pids.push_back(static_cast<pid_t>(pid));
  }
  return pids;
}

// Processes other than this one with the file open, from /proc/*/fd; a
// process whose descriptors this user may not read is not seen.
std::vector<pid_t> openers(const struct stat& target, const SystemRoots& roots) {
  std::vector<pid_t> pids;
  std::error_code ec;
  for (const auto& proc : fs::directory_iterator(roots.proc, ec)) {
    long pid = 0;  // not a number: /proc/self, /proc/sys, ...
    if (!parseDecimal(proc.path().filename().string(), pid) || pid == ::getpid()) continue;
    std::error_code fdEc;
    for (const auto& fd : fs::directory_iterator(proc.path() / "fd", fdEc)) {
      struct stat st {};
      if (::stat(fd.path().c_str(), &st) == 0 && st.st_dev == target.st_dev &&
          st.st_ino == target.st_ino) {
        pids.push_back(static_cast<pid_t>(pid));
        break;
      }
    }
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}

// The first process with the file open; pid 0 when none can be seen.
LockHolder openerOf(const struct stat& target, const SystemRoots& roots) {
  const std::vector<pid_t> open = openers(target, roots);
  return open.empty() ? LockHolder{} : holder(open.front(), roots);
}

// Who holds the file's flock. /proc/locks names the process that took the
// lock, which may have ended while a child it started keeps the descriptor:
// then the holder is whoever has the file open.
std::optional<LockHolder> flockHolder(const struct stat& st, const SystemRoots& roots) {
  for (pid_t pid : flockHolders(st, roots)) {
    if (pid == ::getpid()) continue;
    if (pid > 0 && ::access((roots.proc + "/" + std::to_string(pid)).c_str(), F_OK) == 0)
      return holder(pid, roots);
    return openerOf(st, roots);
  }
  return std::nullopt;
}

std::optional<LockHolder> holderFromLockFile(const std::string& lockFile,
                                             const SystemRoots& roots) {
  struct stat st {};
  if (::stat(lockFile.c_str(), &st) != 0) return std::nullopt;
  return flockHolder(st, roots);
}

// A terminal another program opened with TIOCEXCL refuses every other
// open with EBUSY and has no lock to find.
bool heldExclusively(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  return errno == EBUSY;
}

bool isSensorNode(const std::string& path, const SystemRoots& roots) {
  const std::string base = fs::path(path).filename().string();
  if (base.rfind("hidraw", 0) != 0) return false;
  std::istringstream in(readSmall(roots.sysfs + "/class/hidraw/" + base + "/device/uevent"));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("HID_ID=", 0) != 0) continue;
    // HID_ID=BBBB:VVVVVVVV:PPPPPPPP
    std::string id = line.substr(7);
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    return id.size() >= 22 && id.compare(5, 8, "00003A61") == 0 &&
           id.compare(14, 8, "00007730") == 0;
  }
  return false;
}

}  // namespace

std::string modeText(mode_t mode) {
  std::string t(10, '-');
  if (S_ISCHR(mode))
    t[0] = 'c';
  else if (S_ISBLK(mode))
    t[0] = 'b';
  else if (S_ISDIR(mode))
    t[0] = 'd';
  else if (S_ISSOCK(mode))
    t[0] = 's';
  else if (S_ISFIFO(mode))
    t[0] = 'p';
  else if (S_ISLNK(mode))
    t[0] = 'l';
  const char letters[] = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i)
    if (mode & (0400 >> i)) t[static_cast<std::size_t>(i) + 1] = letters[i];
  return t;
}

std::optional<std::string> devicePathOf(const std::string& portName) {
  if (!portName.empty() && portName.front() == '/') return portName;
  long n = 0;
  if (portName.size() > 3 && portName.compare(0, 3, "COM") == 0 &&
      parseDecimal(std::string_view(portName).substr(3), n) && n >= 1 &&
      portName.find_first_not_of("0123456789", 3) == std::string::npos)
    return "/dev/ttyS" + std::to_string(n - 1);
  return std::nullopt;
}

std::vector<std::string> explain(const DeviceFacts& d, const UserFacts& u) {
  std::vector<std::string> lines;
  if (!d.exists) {
    lines.push_back("Cannot open " + d.path + ": there is no such device.");
    lines.push_back(
        "Fix: plug the sensor (or its USB serial adapter) in, then pick its port again from the "
        "Comm menu; the menu lists the ports that exist.");
    return lines;
  }
  if (!d.accessible) {
    lines.push_back("Cannot open " + d.path + ": permission denied for user " + u.name + ".");
    lines.push_back(d.path + " belongs to user " + ownerText(d) + " and group " + groupText(d) +
                    " (" + modeText(d.mode) + ").");
    const bool groupMayOpen = (d.mode & 060) == 060 && d.groupGid != 0;
    const std::string join =
        "sudo usermod -aG " + groupText(d) + " " + u.name + ", then log out and log in again.";
    if (d.isSensor) {
      if (d.udevRuleInstalled)
        lines.push_back(std::string("Fix: the udev rule ") + kUdevRuleName +
                        " is installed but not yet applied to this sensor: " + kUdevReload +
                        " (or unplug the sensor and plug it in again).");
      else
        lines.push_back(std::string("Fix: install the udev rule ") + kUdevRulePath +
                        " (the zrq package brings it), then: " + kUdevReload);
      if (groupMayOpen && !u.inGroupNow)
        lines.push_back(u.inGroupDatabase ? "Without a desktop login: " + u.name + " is in group " +
                                                groupText(d) + " already; log out and log in again."
                                          : "Without a desktop login: " + join);
    } else if (d.ownerUid == u.uid) {
      lines.push_back("Fix: chmod u+rw " + d.path);
    } else if (groupMayOpen) {
      lines.push_back(
          u.inGroupDatabase && !u.inGroupNow
              ? "Fix: " + u.name + " is in group " + groupText(d) +
                    " already, but this session started before: log out and log in again."
              : "Fix: " + join);
    } else {
      lines.push_back(
          "Fix: no group may open it; a udev rule with GROUP=\"dialout\", "
          "MODE=\"0660\" for this device gives access to the members of dialout, "
          "then: " +
          std::string(kUdevReload));
    }
    return lines;
  }
  if (d.holder) {
    lines.push_back("Cannot open " + d.path + ": it is in use by another program.");
    if (d.holder->pid > 0) {
      const std::string who = "process " + std::to_string(d.holder->pid) +
                              (d.holder->command.empty() ? "" : " (" + d.holder->command + ")");
      // Another user's process ends only with the administrator's rights.
      const char* kill = d.holder->uid == u.uid ? "kill " : "sudo kill ";
      lines.push_back("Fix: close " + who + ", which holds it, or end it: " + kill +
                      std::to_string(d.holder->pid));
    } else {
      lines.push_back("Fix: close the program that holds it (its process cannot be seen by user " +
                      u.name + ").");
    }
  }
  return lines;
}

std::optional<LockHolder> findLockHolder(const std::string& path, const SystemRoots& roots) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    if (auto h = flockHolder(st, roots)) return h;
  const std::string base = fs::path(path).filename().string();
  // UUCP lock: the holder's PID as text (or a binary int from old programs);
  // a lock whose process is gone is stale and holds nothing.
  const std::string uucp = readSmall(roots.uucpLockDir + "/LCK.." + base);
  if (!uucp.empty()) {
    long pid = 0;
    if (!parseDecimal(uucp, pid) && uucp.size() == sizeof(int)) {
      int raw = 0;
      std::copy(uucp.begin(), uucp.end(), reinterpret_cast<char*>(&raw));
      pid = raw;
    }
    if (pid > 0 && pid != ::getpid() &&
        ::access((roots.proc + "/" + std::to_string(pid)).c_str(), F_OK) == 0)
      return holder(static_cast<pid_t>(pid), roots);
  }
  // The library's own per-device lock: the path without its slashes.
  std::string lockDir = roots.deviceLockDir;
  if (lockDir.empty()) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    lockDir = runtime ? runtime : "";
  }
  if (!lockDir.empty()) {
    std::string name = path;
    name.erase(std::remove(name.begin(), name.end(), '/'), name.end());
    if (auto h = holderFromLockFile(lockDir + "/" + name, roots)) return h;
  }
  return std::nullopt;
}

DeviceFacts gatherDevice(const std::string& path, const SystemRoots& roots) {
  DeviceFacts d;
  d.path = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return d;
  d.exists = true;
  d.accessible = ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
  d.ownerUid = st.st_uid;
  d.groupGid = st.st_gid;
  d.mode = st.st_mode;
  d.ownerName = userName(st.st_uid);
  d.groupName = groupName(st.st_gid);
  d.isSensor = isSensorNode(path, roots);
  for (const std::string& dir : roots.udevRuleDirs)
    if (::access((dir + "/" + kUdevRuleName).c_str(), F_OK) == 0) d.udevRuleInstalled = true;
  if (d.accessible) d.holder = findLockHolder(path, roots);
  if (d.accessible && !d.holder && heldExclusively(path)) d.holder = openerOf(st, roots);
  return d;
}

std::string heldCaption(const std::string& portName, const SystemRoots& roots) {
  const auto path = devicePathOf(portName);
  if (!path) return {};
  const DeviceFacts d = gatherDevice(*path, roots);
  if (!d.holder || d.holder->pid <= 0) return {};
  const std::string& cmd = d.holder->command;
  const bool ours = cmd == "ZRQUSB" || cmd == "zrq-log" || cmd == "zrqd";
  return "in use by " +
         (ours          ? std::string("ZRQ, ")
          : cmd.empty() ? ""
                        : cmd + ", ") +
         "process " + std::to_string(d.holder->pid);
}

UserFacts gatherUser(gid_t deviceGroup) {
  UserFacts u;
  u.uid = ::geteuid();
  u.name = userName(u.uid);
  if (u.name.empty()) u.name = "uid " + std::to_string(u.uid);
  u.inGroupNow = ::getegid() == deviceGroup;
  const int n = ::getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
      if (groups[static_cast<std::size_t>(i)] == deviceGroup) u.inGroupNow = true;
  }
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(u.uid, &pw, buf.data(), buf.size(), &found) == 0 && found &&
      found->pw_gid == deviceGroup)
    u.inGroupDatabase = true;
  std::vector<char> gbuf(65536);
  group gr{};
  group* g = nullptr;
  if (getgrgid_r(deviceGroup, &gr, gbuf.data(), gbuf.size(), &g) == 0 && g)
    for (char** m = g->gr_mem; m && *m; ++m)
      if (u.name == *m) u.inGroupDatabase = true;
  return u;
}

std::vector<std::string> diagnosePortAccess(const std::string& portName, const SystemRoots& roots) {
  const auto path = devicePathOf(portName);
  if (!path) return {};
  const DeviceFacts d = gatherDevice(*path, roots);
  return explain(d, gatherUser(d.groupGid));
}

std::vector<std::string> sensorNodes(const SystemRoots& roots) {
  std::vector<std::string> nodes;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(roots.sysfs + "/class/hidraw", ec)) {
    const std::string path = roots.dev + "/" + e.path().filename().string();
    if (isSensorNode(path, roots)) nodes.push_back(path);
  }
  // hidraw2 before hidraw10.
  std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return nodes;
}

std::vector<std::string> diagnoseSensors(const SystemRoots& roots) {
  std::vector<std::string> lines;
  for (const std::string& node : sensorNodes(roots)) {
    const DeviceFacts d = gatherDevice(node, roots);
    const std::vector<std::string> why = explain(d, gatherUser(d.groupGid));
    if (why.empty()) continue;
    lines.push_back("7730 USB sensor " + node + " is attached but cannot be opened:");
    lines.insert(lines.end(), why.begin(), why.end());
  }
  return lines;
}

std::vector<std::string> diagnoseDiscovery(const std::vector<std::string>& unavailableSerial,
                                           const SystemRoots& roots) {
  std::vector<std::string> lines;
  for (const std::string& name : unavailableSerial) {
    auto path = devicePathOf(name);
    if (!path) continue;
    if (name.front() != '/') {
      path = roots.dev + path->substr(4);
      // The serial core lists every possible ttyS; type 0 means no UART.
      const std::string type =
          readSmall(roots.sysfs + "/class/tty/" + fs::path(*path).filename().string() + "/type");
      long t = 0;
      if (!parseDecimal(type, t) || t == 0) continue;
    }
    const DeviceFacts d = gatherDevice(*path, roots);
    const std::vector<std::string> why = explain(d, gatherUser(d.groupGid));
    lines.insert(lines.end(), why.begin(), why.end());
  }
  const std::vector<std::string> sensors = diagnoseSensors(roots);
  lines.insert(lines.end(), sensors.begin(), sensors.end());
  return lines;
}

void report(AppStatus& status, const std::vector<std::string>& lines, Box box) {
  if (lines.empty()) return;
  std::string text;
  for (const std::string& line : lines) {
    status.add(line);
    text += (text.empty() ? "" : "\n") + line;
  }
  if (box == Box::FirstOfRun && !boxShown.exchange(true))
    ui::showMessage(text, kBoxCaption, ui::MsgButtons::Ok, ui::MsgIcon::Warning);
}

void resetReportedOnce() { boxShown = false; }

}  // namespace zrq::comm::doctor
