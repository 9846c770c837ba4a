#include "HidUSB/TKS7730HidMngrDeviceComm.h"
#include "SensorDescriptor.h"
#include "SimPeer.h"
#include "TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

#include "Common/ErrCodes.h"
#include "Common/WideText.h"

using HidTestData::SimPeer;
using HidTestData::TempDir;

TEST(SensorManager, ListsTheAttachedSensorsByIndex) {
  TempDir sim, sys;
  SimPeer s1(sim / "a", 0x3A61, 0x7730, 0x0100, HidTestData::kSensorDescriptor);
  SimPeer other(sim / "b", 0x3A61, 0x1234, 0x0100, HidTestData::kSensorDescriptor);
  SimPeer s2(sim / "c", 0x3A61, 0x7730, 0x0205, HidTestData::kSensorDescriptor);
  TKS7730HidMngrDeviceComm m;
  m.setEnumRoots({sys.path(), sys / "dev", sim.path()});

  int count = -1;
  EXPECT_FALSE(m.buildDevList(&count));
  EXPECT_EQ(m.getLastErr(), ErrCode::NotOpened);
  EXPECT_EQ(count, 0);
  HidUSBDevInfo info;
  EXPECT_FALSE(m.getDevInfo(0, info));
  EXPECT_EQ(m.getLastErr(), ErrCode::NotOpened);

  ASSERT_TRUE(m.open());
  EXPECT_FALSE(m.open());
  EXPECT_EQ(m.getLastErr(), ErrCode::AlreadyOpened);
  ASSERT_TRUE(m.buildDevList(&count));
  EXPECT_EQ(count, 2);
  ASSERT_TRUE(m.getDevInfo(1, info));
  EXPECT_EQ(info.devicePath, sim / "c");
  EXPECT_EQ(info.versionNumber, 0x0205);
  ASSERT_TRUE(m.getDevInfo(0, info));
  EXPECT_EQ(info.devicePath, sim / "a");
  EXPECT_FALSE(m.getDevInfo(2, info));
  EXPECT_EQ(m.getLastErr(), ErrCode::InvalidDeviceIndex);
  EXPECT_FALSE(m.getDevInfo(-1, info));
  EXPECT_EQ(m.getLastErr(), ErrCode::InvalidDeviceIndex);

  EXPECT_TRUE(m.close());
  EXPECT_FALSE(m.close());
  EXPECT_EQ(m.getLastErr(), ErrCode::NotOpened);
}

TEST(SensorManager, DataOperationsAreNotImplemented) {
  TKS7730HidMngrDeviceComm m;
  uint8_t b[4];
  unsigned n;
  const std::u16string detail = u"This function is not implemented.";
  auto check = [&](bool r) {
    EXPECT_FALSE(r);
    EXPECT_EQ(m.getLastErr(), ErrCode::InvalidHandle);
    EXPECT_EQ(m.lastErrDetail(), detail);
    m.setLastErr(1);
  };
  check(m.write(b, 4, &n, 10));
  check(m.read(b, 4, &n, 10));
  check(m.readInBuff(b, 4, &n));
  check(m.readLine(b, 4, &n, 10));
  check(m.purge(15));
  check(m.isPortAvail());
}

TEST(SensorManager, BuildSkipsDevicesThatCannotBeOpened) {
  TempDir sim;
  SimPeer s1(sim / "a", 0x3A61, 0x7730, 1, HidTestData::kSensorDescriptor);
  HidUSBDevInfoMngr mngr;
  TempDir sys;
  // A fixture hidraw sensor whose node is a folder: present, not openable.
  std::filesystem::create_directories(sys / "devices/x/y/z");
  std::ofstream(sys / "devices/x/y/z/uevent") << "HID_ID=0003:00003A61:00007730\n";
  std::filesystem::create_directories(sys / "class/hidraw/hidraw0");
  std::filesystem::create_directory_symlink(sys / "devices/x/y/z",
                                            sys / "class/hidraw/hidraw0/device");
  std::filesystem::create_directories(sys / "dev/hidraw0");
  EXPECT_EQ(mngr.build({sys.path(), sys / "dev", sim.path()}, 0x3A61, 0x7730, 0), 1u);
  EXPECT_EQ(mngr.get(0)->devicePath, sim / "a");
  EXPECT_EQ(mngr.get(1), nullptr);
  // A version asked for must match; 0 accepts any.
  EXPECT_EQ(mngr.build({sys.path(), sys / "dev", sim.path()}, 0x3A61, 0x7730, 2), 0u);
  EXPECT_EQ(mngr.build({sys.path(), sys / "dev", sim.path()}, 0x3A61, 0x7730, 1), 1u);
}
