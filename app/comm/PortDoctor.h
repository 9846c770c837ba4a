// The connection doctor: when a serial port or a USB sensor cannot be opened
// it says why in words a user can act on: which device, who owns it, and the
// exact fix (join the group, install or reload the udev rule, close the
// program that holds the port). Qt-free; the facts are gathered apart from
// the wording so every text can be tested byte for byte.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace zrq::comm {
class AppStatus;
}

namespace zrq::comm::doctor {

// Where the system's views live; tests point them at folders of their own.
struct SystemRoots {
  std::string dev = "/dev";
  std::string sysfs = "/sys";
  std::string proc = "/proc";
  std::string uucpLockDir = "/run/lock";
  // Folder of the library's per-device lock files; empty: $XDG_RUNTIME_DIR.
  std::string deviceLockDir;
  // Folders udev reads rules from, searched for the sensor's rule.
  std::vector<std::string> udevRuleDirs = {"/etc/udev/rules.d", "/usr/lib/udev/rules.d",
                                           "/lib/udev/rules.d"};
};

inline constexpr const char* kUdevRuleName = "70-zrq.rules";
inline constexpr const char* kUdevRulePath = "/usr/lib/udev/rules.d/70-zrq.rules";
inline constexpr const char* kUdevReload =
    "sudo udevadm control --reload-rules && sudo udevadm trigger";

struct LockHolder {
  pid_t pid = 0;
  std::string command;  // empty when the process cannot be named
  uid_t uid = 0;        // its owner, when the process can be seen
};

// What the doctor knows about one device and the user who wants it.
struct DeviceFacts {
  std::string path;
  bool exists = false;
  bool accessible = false;  // the user may open it for reading and writing
  uid_t ownerUid = 0;
  gid_t groupGid = 0;
  mode_t mode = 0;
  std::string ownerName;  // empty: no such user in the user database
  std::string groupName;
  bool isSensor = false;  // a hidraw node of the TKS7730
  bool udevRuleInstalled = false;
  std::optional<LockHolder> holder;  // another process holds the device
};

struct UserFacts {
  std::string name;
  uid_t uid = 0;
  bool inGroupNow = false;       // this process carries the device's group
  bool inGroupDatabase = false;  // the group database lists the user in it
};

// The texts for the facts; empty when nothing stands in the way of an open.
std::vector<std::string> explain(const DeviceFacts& device, const UserFacts& user);

// "ls -l" style type and permission letters: "crw-rw----".
std::string modeText(mode_t mode);

// The device path a port name stands for: "/dev/..." as given, COMn is
// /dev/ttyS<n-1>, anything else (COM0, 7730USB1) none.
std::optional<std::string> devicePathOf(const std::string& portName);

// The process that holds path by flock (from /proc/locks; when the locker
// has ended, a process that still has the file open) or by its UUCP lock
// file, other than this process; pid 0 when it is held but the holder cannot
// be seen.
std::optional<LockHolder> findLockHolder(const std::string& path, const SystemRoots& roots = {});

// How the Comm menu shows a serial port another process holds: "in use by
// ZRQ, process N" (another ZRQ program) or by the program's name; empty when
// no holder can be seen.
std::string heldCaption(const std::string& portName, const SystemRoots& roots = {});

// Facts of path and of the user running this process.
DeviceFacts gatherDevice(const std::string& path, const SystemRoots& roots = {});
UserFacts gatherUser(gid_t deviceGroup);

// gather + explain for the port a name stands for.
std::vector<std::string> diagnosePortAccess(const std::string& portName,
                                            const SystemRoots& roots = {});

// The TKS7730 hidraw nodes (sysfs HID_ID 3A61:7730) under roots, by path.
std::vector<std::string> sensorNodes(const SystemRoots& roots = {});

// Every sensor node the user cannot open, each introduced by one line and
// followed by its explanation; empty when all can be opened.
std::vector<std::string> diagnoseSensors(const SystemRoots& roots = {});

// At port discovery: why each serial port found unavailable cannot be
// opened (COMn only where the kernel has a UART behind it, so absent
// hardware stays quiet), then every attached sensor that cannot be opened.
std::vector<std::string> diagnoseDiscovery(const std::vector<std::string>& unavailableSerial,
                                           const SystemRoots& roots = {});

inline constexpr const char* kBoxCaption = "Device Access";

// Adds the lines to the status sink (status memo and TKS7730ComTest.log);
// the first non-empty report of the run that may show a box also shows them
// in a message box. Discovery says nothing in a box: the ports it finds may
// be ones the user never picks; a port the user picks and cannot open does.
enum class Box { FirstOfRun, Never };
void report(AppStatus& status, const std::vector<std::string>& lines, Box box = Box::FirstOfRun);
// For tests: the next report shows its box again.
void resetReportedOnce();

}  // namespace zrq::comm::doctor
