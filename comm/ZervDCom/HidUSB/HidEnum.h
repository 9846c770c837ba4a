#pragma once
// Lists the HID devices present: hidraw nodes from sysfs, then, when a
// simulator folder is given, every SOCK_SEQPACKET socket in it. The roots are
// parameters so tests enumerate fixture trees instead of the real system.

#include <cstdint>
#include <string>
#include <vector>

namespace HidIo {

struct HidEnumRoots {
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  std::string simDir;  // empty: no simulated devices
  // The real system; simDir from ZERVDCOM_HID_SIM_DIR.
  static HidEnumRoots fromEnvironment();
};

struct HidDeviceEntry {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t versionNumber = 0;
  std::string path;
};

// Every hidraw node (in node number order) whose identity sysfs gives, then
// every simulated device (by file name) whose hello arrived; a simulated
// device that does not answer is left out, as it could not be opened.
std::vector<HidDeviceEntry> listHidDevices(const HidEnumRoots& roots);

// "HID_ID=0003:00003A61:00007730" and the like; false when absent or malformed.
bool parseHidIdLine(const std::string& ueventText, uint16_t& vendor, uint16_t& product);

// True when path can be opened for reading and writing right now.
bool canOpenReadWrite(const std::string& path);

}  // namespace HidIo
