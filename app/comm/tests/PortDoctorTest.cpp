// The connection doctor's texts, byte for byte: from given facts, and from
// real files that an unprivileged user cannot open or another process holds.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "AppStatus.h"
#include "ComTestLog.h"
#include "LockHolder.h"
#include "PortDoctor.h"
#include "uiface/MsgBox.h"

namespace fs = std::filesystem;
using namespace zrq::comm;
using namespace zrq::comm::doctor;
using Lines = std::vector<std::string>;
using zrq::comm::test::LockHolderProcess;

namespace {

DeviceFacts serialFacts() {
  DeviceFacts d;
  d.path = "/dev/ttyUSB0";
  d.exists = true;
  d.ownerUid = 0;
  d.groupGid = 20;
  d.mode = S_IFCHR | 0660;
  d.ownerName = "root";
  d.groupName = "dialout";
  return d;
}

UserFacts alice() {
  UserFacts u;
  u.name = "alice";
  u.uid = 1000;
  return u;
}

}  // namespace

TEST(PortDoctorText, ModeLettersAndPortNames) {
  EXPECT_EQ(modeText(S_IFCHR | 0660), "crw-rw----");
  EXPECT_EQ(modeText(S_IFREG | 0604), "-rw----r--");
  EXPECT_EQ(modeText(S_IFSOCK | 0755), "srwxr-xr-x");
  EXPECT_EQ(devicePathOf("COM1"), "/dev/ttyS0");
  EXPECT_EQ(devicePathOf("COM12"), "/dev/ttyS11");
  EXPECT_EQ(devicePathOf("/tmp/tks7730"), "/tmp/tks7730");
  EXPECT_FALSE(devicePathOf("COM0"));
  EXPECT_FALSE(devicePathOf("COM1x"));
  EXPECT_FALSE(devicePathOf("COM"));
  EXPECT_FALSE(devicePathOf("7730USB1"));
  EXPECT_FALSE(devicePathOf(""));
}

TEST(PortDoctorText, SerialPortOfAGroupTheUserIsNotIn) {
  EXPECT_EQ(explain(serialFacts(), alice()),
            (Lines{"Cannot open /dev/ttyUSB0: permission denied for user alice.",
                   "/dev/ttyUSB0 belongs to user root and group dialout (crw-rw----).",
                   "Fix: sudo usermod -aG dialout alice, then log out and log in again."}));
}

TEST(PortDoctorText, JoinedTheGroupButNotLoggedInAgain) {
  UserFacts u = alice();
  u.inGroupDatabase = true;
  EXPECT_EQ(explain(serialFacts(), u).at(2),
            "Fix: alice is in group dialout already, but this session started before: "
            "log out and log in again.");
}

TEST(PortDoctorText, OwnerOnlyAndUnknownNames) {
  DeviceFacts d = serialFacts();
  d.mode = S_IFCHR | 0600;
  d.groupGid = 0;
  d.groupName = "root";
  EXPECT_EQ(explain(d, alice()).at(2),
            "Fix: no group may open it; a udev rule with GROUP=\"dialout\", MODE=\"0660\" for "
            "this device gives access to the members of dialout, then: sudo udevadm control "
            "--reload-rules && sudo udevadm trigger");
  // Numbers stand in for names the databases do not know; the user's own
  // node without permission needs only chmod.
  d.ownerUid = 1000;
  d.ownerName.clear();
  d.groupGid = 4242;
  d.groupName.clear();
  EXPECT_EQ(explain(d, alice()),
            (Lines{"Cannot open /dev/ttyUSB0: permission denied for user alice.",
                   "/dev/ttyUSB0 belongs to user uid 1000 and group gid 4242 (crw-------).",
                   "Fix: chmod u+rw /dev/ttyUSB0"}));
}

TEST(PortDoctorText, SensorWithoutAndWithTheUdevRule) {
  DeviceFacts d = serialFacts();
  d.path = "/dev/hidraw3";
  d.isSensor = true;
  d.mode = S_IFCHR | 0600;
  d.groupGid = 0;
  d.groupName = "root";
  EXPECT_EQ(explain(d, alice()),
            (Lines{"Cannot open /dev/hidraw3: permission denied for user alice.",
                   "/dev/hidraw3 belongs to user root and group root (crw-------).",
                   "Fix: install the udev rule /usr/lib/udev/rules.d/70-zrq.rules (the zrq "
                   "package brings it), then: sudo udevadm control --reload-rules && sudo "
                   "udevadm trigger"}));
  // The rule applied without a login manager: plugdev is the way in.
  d.udevRuleInstalled = true;
  d.mode = S_IFCHR | 0660;
  d.groupGid = 46;
  d.groupName = "plugdev";
  EXPECT_EQ(explain(d, alice()),
            (Lines{"Cannot open /dev/hidraw3: permission denied for user alice.",
                   "/dev/hidraw3 belongs to user root and group plugdev (crw-rw----).",
                   "Fix: the udev rule 70-zrq.rules is installed but not yet applied to this "
                   "sensor: sudo udevadm control --reload-rules && sudo udevadm trigger (or "
                   "unplug the sensor and plug it in again).",
                   "Without a desktop login: sudo usermod -aG plugdev alice, then log out and "
                   "log in again."}));
  UserFacts u = alice();
  u.inGroupDatabase = true;
  EXPECT_EQ(
      explain(d, u).at(3),
      "Without a desktop login: alice is in group plugdev already; log out and log in again.");
  u.inGroupNow = true;
  EXPECT_EQ(explain(d, u).size(), 3u);
}

TEST(PortDoctorText, HeldByAnotherProgramOrNothingToSay) {
  DeviceFacts d = serialFacts();
  d.accessible = true;
  EXPECT_TRUE(explain(d, alice()).empty());
  d.holder = LockHolder{4711, "picocom", 1000};
  EXPECT_EQ(explain(d, alice()),
            (Lines{"Cannot open /dev/ttyUSB0: it is in use by another program.",
                   "Fix: close process 4711 (picocom), which holds it, or end it: kill 4711"}));
  d.holder = LockHolder{4711, "picocom", 0};  // another user's process
  EXPECT_EQ(explain(d, alice()).at(1),
            "Fix: close process 4711 (picocom), which holds it, or end it: sudo kill 4711");
  d.holder = LockHolder{0, ""};
  EXPECT_EQ(explain(d, alice()).at(1),
            "Fix: close the program that holds it (its process cannot be seen by user alice).");
  d.exists = false;
  const Lines missing = explain(d, alice());
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(missing[0], "Cannot open /dev/ttyUSB0: there is no such device.");
  EXPECT_EQ(missing[1].rfind("Fix: plug the sensor", 0), 0u) << missing[1];
}

// ---- real files -------------------------------------------------------------

namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "zrq-doctor-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
    // Other users must reach the files inside.
    ::chmod(path_.c_str(), 0755);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string make(const std::string& name, mode_t mode, gid_t gid = static_cast<gid_t>(-1)) const {
    const std::string p = path_ + "/" + name;
    std::ofstream(p) << "x";
    if (gid != static_cast<gid_t>(-1)) {
      EXPECT_EQ(::chown(p.c_str(), static_cast<uid_t>(-1), gid), 0);
    }
    EXPECT_EQ(::chmod(p.c_str(), mode), 0);
    return p;
  }

 private:
  std::string path_;
};

std::string myName() {
  const passwd* pw = ::getpwuid(::geteuid());
  return pw ? pw->pw_name : "uid " + std::to_string(::geteuid());
}

// Runs fn as the user nobody in a child process when this process is root,
// else in this process, and returns its lines.
Lines runUnprivileged(const std::function<Lines()>& fn) {
  if (::geteuid() != 0) return fn();
  const passwd* pw = ::getpwnam("nobody");
  if (!pw) return {"no user nobody"};
  const uid_t uid = pw->pw_uid;
  const gid_t gid = pw->pw_gid;
  int fds[2];
  if (::pipe(fds) != 0) return {"no pipe"};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(3);
    std::string out;
    for (const std::string& line : fn()) out += line + '\n';
    const char* p = out.data();
    std::size_t left = out.size();
    while (left > 0) {
      const ssize_t n = ::write(fds[1], p, left);
      if (n <= 0) ::_exit(4);
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {"child failed"};
  Lines lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  return lines;
}

SystemRoots isolatedRoots(const TempDir& dir) {
  SystemRoots r;
  r.dev = dir.path() + "/dev";
  r.sysfs = dir.path() + "/sys";
  r.uucpLockDir = dir.path() + "/lock";
  r.deviceLockDir = dir.path() + "/run";
  r.udevRuleDirs = {dir.path() + "/rules.d"};
  for (const char* sub : {"/dev", "/sys", "/lock", "/run", "/rules.d"}) {
    fs::create_directories(dir.path() + sub);
    ::chmod((dir.path() + sub).c_str(), 0755);
  }
  return r;
}

}  // namespace

TEST(PortDoctorReal, PortOfAGroupTheTestUserIsNotIn) {
  TempDir dir;
  const group* dialout = ::getgrnam("dialout");
  if (!dialout) GTEST_SKIP() << "no group dialout";
  // As root the port belongs to root:dialout and nobody tries it; otherwise
  // the port is the test user's own with no permission at all.
  const bool root = ::geteuid() == 0;
  const std::string port =
      root ? dir.make("ttyTEST0", 0660, dialout->gr_gid) : dir.make("ttyTEST0", 0);
  const Lines lines = runUnprivileged([&] { return diagnosePortAccess(port); });
  const Lines expected =
      root ? Lines{"Cannot open " + port + ": permission denied for user nobody.",
                   port + " belongs to user root and group dialout (-rw-rw----).",
                   "Fix: sudo usermod -aG dialout nobody, then log out and log in again."}
           : Lines{"Cannot open " + port + ": permission denied for user " + myName() + ".",
                   port + " belongs to user " + myName() + " and group " +
                       ::getgrgid(::getegid())->gr_name + " (----------).",
                   "Fix: chmod u+rw " + port};
  EXPECT_EQ(lines, expected);
}

TEST(PortDoctorReal, PortHeldByAnotherProcessByFlock) {
  TempDir dir;
  const SystemRoots roots = isolatedRoots(dir);
  const std::string port = dir.make("ttyTEST1", 0666);
  EXPECT_TRUE(diagnosePortAccess(port, roots).empty()) << "a free port has no problem";
  {
    LockHolderProcess holder(port, "lockholder");
    const std::string pid = std::to_string(holder.pid());
    EXPECT_EQ(diagnosePortAccess(port, roots),
              (Lines{"Cannot open " + port + ": it is in use by another program.",
                     "Fix: close process " + pid +
                         " (lockholder), which holds it, or end it: kill " + pid}));
    EXPECT_EQ(heldCaption(port, roots), "in use by lockholder, process " + pid);
  }
  EXPECT_TRUE(diagnosePortAccess(port, roots).empty()) << "the lock went with its process";
  EXPECT_EQ(heldCaption(port, roots), "");
}

TEST(PortDoctorReal, UucpLockFileAndLibraryDeviceLock) {
  TempDir dir;
  const SystemRoots roots = isolatedRoots(dir);
  const std::string port = dir.make("ttyTEST2", 0666);
  const std::string lockFile = roots.deviceLockDir + "/" + [&] {
    std::string n = port;
    std::erase(n, '/');
    return n;
  }();
  std::ofstream(lockFile) << "";
  {
    // The library's lock file for the path, held by another process.
    LockHolderProcess holder(lockFile, "lockholder");
    const auto found = findLockHolder(port, roots);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->pid, holder.pid());
    EXPECT_EQ(found->command, "lockholder");
    // A UUCP lock naming a live process wins; one naming no process is stale.
    std::ofstream(roots.uucpLockDir + "/LCK..ttyTEST2") << "      " << holder.pid() << "\n";
    EXPECT_EQ(findLockHolder(port, roots)->pid, holder.pid());
  }
  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  std::ofstream(roots.uucpLockDir + "/LCK..ttyTEST2", std::ios::trunc) << "      " << gone << "\n";
  EXPECT_FALSE(findLockHolder(port, roots)) << "a stale lock holds nothing";
  // Our own locks are not another program's.
  std::ofstream(roots.uucpLockDir + "/LCK..ttyTEST2", std::ios::trunc) << ::getpid() << "\n";
  const int fd = ::open(port.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(findLockHolder(port, roots));
  ::close(fd);
}

TEST(PortDoctorReal, ALockKeptByTheChildOfAnEndedLockerNamesTheChild) {
  TempDir dir;
  const SystemRoots roots = isolatedRoots(dir);
  const std::string port = dir.make("ttyTEST3", 0666);
  // The grandchild comes back to this process when its parent ends.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int news[2], release[2];
  ASSERT_EQ(::pipe(news), 0);
  ASSERT_EQ(::pipe(release), 0);
  // The locker starts a child that inherits the locked descriptor, then ends.
  const pid_t locker = ::fork();
  if (locker == 0) {
    const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY);
    pid_t child = -1;
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) child = ::fork();
    if (child == 0) {
      ::prctl(PR_SET_NAME, "lockchild");
      ::close(release[1]);
      char c;
      [[maybe_unused]] ssize_t n = ::read(release[0], &c, 1);
      ::_exit(0);
    }
    [[maybe_unused]] ssize_t n = ::write(news[1], &child, sizeof child);
    ::_exit(0);
  }
  ::close(release[0]);
  pid_t child = -1;
  ASSERT_EQ(::read(news[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
  ::waitpid(locker, nullptr, 0);
  const auto found = findLockHolder(port, roots);
  ::close(release[1]);
  if (child > 0) ::waitpid(child, nullptr, 0);
  ::close(news[0]);
  ::close(news[1]);
  ASSERT_GT(child, 0);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->pid, child);
  EXPECT_EQ(found->command, "lockchild");
}

TEST(PortDoctorReal, ATerminalHeldExclusivelyWithoutALockNamesItsHolder) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string port = ::ptsname(master);
  ASSERT_EQ(::chmod(port.c_str(), 0666), 0);
  const std::string user = ::geteuid() == 0 ? "nobody" : myName();
  EXPECT_TRUE(runUnprivileged([&] { return diagnosePortAccess(port); }).empty());
  {
    // TIOCEXCL refuses other opens but takes no lock anyone could list.
    zrq::comm::test::HoldingProcess holder(
        "exclholder",
        [&] {
          const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY);
          return fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0;
        },
        true);
    const std::string pid = std::to_string(holder.pid());
    EXPECT_EQ(runUnprivileged([&] { return diagnosePortAccess(port); }),
              (Lines{"Cannot open " + port + ": it is in use by another program.",
                     "Fix: close process " + pid +
                         " (exclholder), which holds it, or end it: kill " + pid}));
  }
  ::close(master);
}

TEST(PortDoctorReal, AttachedSensorThatCannotBeOpenedIsListed) {
  TempDir dir;
  const SystemRoots roots = isolatedRoots(dir);
  auto addHidraw = [&](const std::string& node, const std::string& hidId, mode_t mode) {
    fs::create_directories(roots.sysfs + "/class/hidraw/" + node + "/device");
    std::ofstream(roots.sysfs + "/class/hidraw/" + node + "/device/uevent")
        << "DRIVER=hid-generic\nHID_ID=" << hidId << "\nHID_NAME=x\n";
    std::ofstream(roots.dev + "/" + node) << "";
    ::chmod((roots.dev + "/" + node).c_str(), mode);
  };
  addHidraw("hidraw10", "0003:00003A61:00007730", 0);    // sensor, closed to the user
  addHidraw("hidraw2", "0003:00003a61:00007730", 0666);  // sensor, open to all
  addHidraw("hidraw1", "0003:0000046D:0000C31C", 0);     // a keyboard: not ours
  EXPECT_EQ(sensorNodes(roots), (Lines{roots.dev + "/hidraw2", roots.dev + "/hidraw10"}));

  const std::string node = roots.dev + "/hidraw10";
  const std::string owner = ::geteuid() == 0 ? "root" : myName();
  const std::string grp = ::getgrgid(::getegid())->gr_name;
  const Lines lines = runUnprivileged([&] { return diagnoseSensors(roots); });
  EXPECT_EQ(lines,
            (Lines{"7730 USB sensor " + node + " is attached but cannot be opened:",
                   "Cannot open " + node + ": permission denied for user " +
                       (::geteuid() == 0 ? std::string("nobody") : myName()) + ".",
                   node + " belongs to user " + owner + " and group " + grp + " (----------).",
                   "Fix: install the udev rule /usr/lib/udev/rules.d/70-zrq.rules (the zrq "
                   "package brings it), then: sudo udevadm control --reload-rules && sudo "
                   "udevadm trigger"}));
  // With the rule installed the fix is to apply it.
  std::ofstream(roots.udevRuleDirs[0] + "/70-zrq.rules") << "";
  const Lines again = runUnprivileged([&] { return diagnoseSensors(roots); });
  ASSERT_EQ(again.size(), 4u);
  EXPECT_EQ(again[3].rfind("Fix: the udev rule 70-zrq.rules is installed but not yet applied", 0),
            0u);
}

TEST(PortDoctorReal, DiscoveryExplainsUnavailablePortsButNotAbsentUarts) {
  TempDir dir;
  const SystemRoots roots = isolatedRoots(dir);
  auto uart = [&](const std::string& tty, const char* type) {
    fs::create_directories(roots.sysfs + "/class/tty/" + tty);
    std::ofstream(roots.sysfs + "/class/tty/" + tty + "/type") << type << "\n";
    std::ofstream(roots.dev + "/" + tty) << "";
    ::chmod((roots.dev + "/" + tty).c_str(), 0);
  };
  uart("ttyS0", "4");  // a 16550A the user may not open: explained
  uart("ttyS1", "0");  // no UART behind it: quiet
  const std::string held = dir.make("ttyHELD", 0666);
  const std::string gone = dir.path() + "/ttyGONE";
  LockHolderProcess holder(held, "lockholder");
  const std::string pid = std::to_string(holder.pid());
  const bool root = ::geteuid() == 0;
  const std::string user = root ? "nobody" : myName();
  const std::string owner = root ? "root" : myName();
  const std::string grp = ::getgrgid(::getegid())->gr_name;
  const std::string s0 = roots.dev + "/ttyS0";
  const Lines lines = runUnprivileged([&] {
    return diagnoseDiscovery({"COM0", "COM1", "COM2", held, gone}, roots);
  });
  const std::string fix = root ? "Fix: no group may open it; a udev rule with GROUP=\"dialout\", "
                                 "MODE=\"0660\" for this device gives access to the members of "
                                 "dialout, then: sudo udevadm control --reload-rules && sudo "
                                 "udevadm trigger"
                               : "Fix: chmod u+rw " + s0;
  EXPECT_EQ(lines,
            (Lines{"Cannot open " + s0 + ": permission denied for user " + user + ".",
                   s0 + " belongs to user " + owner + " and group " + grp + " (----------).", fix,
                   "Cannot open " + held + ": it is in use by another program.",
                   "Fix: close process " + pid + " (lockholder), which holds it, or end it: " +
                       (root ? "sudo kill " : "kill ") + pid,
                   "Cannot open " + gone + ": there is no such device.",
                   explain(DeviceFacts{}, alice()).back()}));
}

TEST(PortDoctorReport, LinesReachTheStatusAndTheLogAndOneBoxPerRun) {
  TempDir dir;
  ASSERT_TRUE(ComTestLog::open(dir.path() + "/TKS7730ComTest.log"));
  zrq::ui::ScopedScriptedMessageBoxes boxes;
  resetReportedOnce();
  MemoryStatusMemo memo;
  AppStatus status(&memo);
  const Lines first{"Cannot open /dev/ttyUSB0: it is in use by another program.",
                    "Fix: close process 4711 (picocom), which holds it, or end it: kill 4711"};
  report(status, {});
  EXPECT_EQ(boxes.shown().size(), 0u) << "nothing to say shows nothing";
  const Lines found{"Cannot open /dev/ttyS1: it belongs to group dialout."};
  report(status, found, Box::Never);
  EXPECT_EQ(boxes.shown().size(), 0u) << "discovery tells the status lines only";
  report(status, first);
  report(status, {"Cannot open /dev/ttyS0: there is no such device."});
  EXPECT_EQ(memo.lines(), (Lines{found[0], first[0], first[1],
                                 "Cannot open /dev/ttyS0: there is no such device."}));
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].caption, "Device Access");
  EXPECT_EQ(boxes.shown()[0].text, first[0] + "\n" + first[1]);
  ComTestLog::close();
  std::ifstream in(dir.path() + "/TKS7730ComTest.log");
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(log, found[0] + "\n" + first[0] + "\n" + first[1] +
                     "\nCannot open /dev/ttyS0: there is no such device.\n");
}
