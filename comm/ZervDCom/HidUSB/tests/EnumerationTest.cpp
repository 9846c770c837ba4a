#include "HidUSB/HidEnum.h"
#include "HidUSB/HidUSBDevInfo.h"
#include "SensorDescriptor.h"
#include "SimPeer.h"
#include "TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace HidIo;
using HidTestData::TempDir;

namespace {

void writeFile(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text;
}

// One hidraw node as sysfs shows it: the class entry's "device" link points
// at the HID device, which sits below the USB interface and the USB device.
void addHidraw(const TempDir& root, const std::string& node, const std::string& hidId,
               const std::string& bcdDevice, bool devNodeOpenable = true) {
  fs::path usbDev = fs::path(root / "sys/devices/usb1") / ("1-" + node);
  fs::path hidDev = usbDev / "1-1:1.0" / ("0003:" + node);
  writeFile(hidDev / "uevent", "DRIVER=hid-generic\nHID_ID=" + hidId + "\nHID_NAME=x\n");
  if (!bcdDevice.empty()) writeFile(usbDev / "bcdDevice", bcdDevice + "\n");
  fs::path cls = fs::path(root / "sys/class/hidraw") / node;
  fs::create_directories(cls);
  fs::create_directory_symlink(hidDev, cls / "device");
  fs::create_directories(root / "dev");
  if (devNodeOpenable)
    writeFile(root / ("dev/" + node), "");
  else
    fs::create_directories(root / ("dev/" + node));  // even root cannot open a folder O_RDWR
}

}  // namespace

TEST(HidEnumeration, ListsHidrawNodesInNumberOrderWithSysfsIdentity) {
  TempDir root;
  addHidraw(root, "hidraw10", "0003:00003A61:00007730", "0200", false);  // sensor, cannot be opened
  addHidraw(root, "hidraw0", "0003:00003A61:00007730", "0105");          // sensor
  addHidraw(root, "hidraw1", "0003:0000046D:0000C31C", "4900");          // keyboard
  addHidraw(root, "hidraw2", "0003:00003A61:00001234", "0001");  // right vendor, other product
  addHidraw(root, "hidraw3", "0006:00003A61:00007730", "");      // virtual: no USB device above
  writeFile(root / "sys/class/hidraw/hidraw4/device/uevent", "DRIVER=x\n");  // no HID_ID: skipped

  HidEnumRoots roots{root / "sys", root / "dev", ""};
  auto list = listHidDevices(roots);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0].path, root / "dev/hidraw0");
  EXPECT_EQ(list[0].vendorId, 0x3A61);
  EXPECT_EQ(list[0].productId, 0x7730);
  EXPECT_EQ(list[0].versionNumber, 0x0105);
  EXPECT_EQ(list[1].vendorId, 0x046D);
  EXPECT_EQ(list[1].productId, 0xC31C);
  EXPECT_EQ(list[2].productId, 0x1234);
  EXPECT_EQ(list[3].versionNumber, 0);
  EXPECT_EQ(list[4].path, root / "dev/hidraw10");
  EXPECT_EQ(list[4].versionNumber, 0x0200);

  // The sensor list keeps the sensors that can be opened, any version.
  HidUSBDevInfoMngr mngr;
  ASSERT_EQ(mngr.build(roots, 0x3A61, 0x7730, 0), 2u);
  EXPECT_EQ(mngr.get(0)->devicePath, root / "dev/hidraw0");
  EXPECT_EQ(mngr.get(0)->versionNumber, 0x0105);
  EXPECT_EQ(mngr.get(1)->devicePath, root / "dev/hidraw3");
  EXPECT_EQ(mngr.build(roots, 0x3A61, 0x7730, 0x0105), 1u);

  EXPECT_TRUE(canOpenReadWrite(list[0].path));
  EXPECT_FALSE(canOpenReadWrite(list[4].path));
  EXPECT_FALSE(canOpenReadWrite(root / "dev/missing"));
}

TEST(HidEnumeration, MissingSysfsClassGivesAnEmptyList) {
  TempDir root;
  EXPECT_TRUE(listHidDevices({root / "sys", root / "dev", ""}).empty());
}

TEST(HidEnumeration, HidIdLineParsing) {
  uint16_t v = 0, p = 0;
  EXPECT_TRUE(parseHidIdLine("A=1\nHID_ID=0003:00003A61:00007730\n", v, p));
  EXPECT_EQ(v, 0x3A61);
  EXPECT_EQ(p, 0x7730);
  EXPECT_FALSE(
      parseHidIdLine("HID_ID=0003:00013A61:00007730\n", v, p));  // vendor wider than 16 bits
  EXPECT_FALSE(parseHidIdLine("HID_ID=0003:3A61\n", v, p));
  EXPECT_FALSE(parseHidIdLine("HID_ID=0003:zz:00007730\n", v, p));
  EXPECT_FALSE(parseHidIdLine("HID_NAME=x\n", v, p));
}

TEST(HidEnumeration, SimulatedDevicesFollowHidrawSortedByNameAndSilentOnesAreLeftOut) {
  TempDir root;
  addHidraw(root, "hidraw0", "0003:0000046D:0000C31C", "4900");
  TempDir sim;
  HidTestData::SimPeer b(sim / "b.sock", 0x3A61, 0x7730, 0x0101, HidTestData::kSensorDescriptor);
  HidTestData::SimPeer a(sim / "a.sock", 0x3A61, 0x7731, 0x0002, HidTestData::kSensorDescriptor);
  std::ofstream(sim / "c.sock") << "not a socket";

  auto list = listHidDevices({root / "sys", root / "dev", sim.path()});
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].productId, 0xC31C);
  EXPECT_EQ(list[1].path, sim / "a.sock");
  EXPECT_EQ(list[1].productId, 0x7731);
  EXPECT_EQ(list[1].versionNumber, 2);
  EXPECT_EQ(list[2].path, sim / "b.sock");
  EXPECT_EQ(list[2].versionNumber, 0x0101);

  // Without the folder nothing simulated is listed.
  EXPECT_EQ(listHidDevices({root / "sys", root / "dev", ""}).size(), 1u);
}
