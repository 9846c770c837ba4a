// Sizes a caller passes are bounded: a data buffer or queue of 0 or beyond
// 16 MiB is refused at open with code 10, and nothing of the asked size is
// ever committed.

#include "CApi.h"
#include "../HidUSB/tests/SensorDescriptor.h"
#include "../HidUSB/tests/SimPeer.h"
#include "../HidUSB/tests/TempDir.h"
#include "../SerialPort/tests/PtyPair.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "Common/ErrCodes.h"

namespace {

constexpr unsigned kBound = 16u << 20;

// Resident memory of this process in KiB.
long residentKiB() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace

TEST(CInterfaceLimits, SerialSizesOfZeroOrBeyondTheBoundAreRefusedWithCode10) {
  CApi c;
  ASSERT_TRUE(c.load()) << ::dlerror();
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const std::u16string name = pty.slaveName();
  const int len = static_cast<int>(name.size());
  const long before = residentKiB();
  struct Case {
    unsigned a, b;
    int listener;
  };
  for (Case k :
       {Case{0xFFFFFFFFu, 512, 1}, Case{0, 512, 1}, Case{kBound + 1, 512, 1},
        Case{4096, 0xFFFFFFFFu, 1}, Case{0xFFFFFFFFu, 512, 0}, Case{4096, kBound + 1, 0}}) {
    DeviceHandle h = 0;
    ASSERT_EQ(c.comm_createSerialPort(&h, name.c_str(), len, k.a, k.b, k.listener), 1);
    EXPECT_EQ(c.comm_openSerialPort(h, 9600, 8, 1, 0, 0), 0)
        << k.a << " " << k.b << " " << k.listener;
    EXPECT_EQ(c.comm_getLastErr(h), ErrCode::InvalidDataBuffer)
        << k.a << " " << k.b << " " << k.listener;
    EXPECT_EQ(c.comm_close(h), 1);
  }
  EXPECT_LT(residentKiB() - before, 64 * 1024);
  // The bound itself is allowed, and the port was left free by every refusal.
  DeviceHandle h = 0;
  ASSERT_EQ(c.comm_createSerialPort(&h, name.c_str(), len, kBound, kBound, 1), 1);
  EXPECT_EQ(c.comm_openSerialPort(h, 9600, 8, 1, 0, 0), 1) << c.comm_getLastErr(h);
  EXPECT_EQ(c.comm_close(h), 1);
  c.unload();
}

TEST(CInterfaceLimits, UsbBufferCapacityOfZeroOrBeyondTheBoundIsRefusedWithCode10) {
  CApi c;
  ASSERT_TRUE(c.load()) << ::dlerror();
  HidTestData::TempDir dir;
  HidTestData::SimPeer peer(dir / "s0", 0x3A61, 0x7730, 0x0140, HidTestData::kSensorDescriptor);
  HidTestData::ScopedEnv simDir("ZERVDCOM_HID_SIM_DIR", dir.path());
  DeviceHandle mngr = 0;
  ASSERT_EQ(c.comm_createTKS7730USBDevMngr(&mngr), 1);
  int count = 0;
  ASSERT_EQ(c.comm_buildTKS7730USBDevList(mngr, &count), 1);
  ASSERT_EQ(count, 1);
  const long before = residentKiB();
  for (unsigned size : {0xFFFFFFFFu, 0u, kBound + 1}) {
    DeviceHandle h = 0;
    ASSERT_EQ(c.comm_createTKS7730USB(mngr, 0, &h, size), 1);
    EXPECT_EQ(c.comm_openTKS7730USB(h), 0) << size;
    EXPECT_EQ(c.comm_getLastErr(h), ErrCode::InvalidDataBuffer) << size;
    EXPECT_EQ(c.comm_close(h), 1);
  }
  EXPECT_LT(residentKiB() - before, 64 * 1024);
  DeviceHandle h = 0;
  ASSERT_EQ(c.comm_createTKS7730USB(mngr, 0, &h, 4096), 1);
  EXPECT_EQ(c.comm_openTKS7730USB(h), 1) << c.comm_getLastErr(h);  // the device was left free
  EXPECT_EQ(c.comm_close(h), 1);
  EXPECT_EQ(c.comm_close(mngr), 1);
  c.unload();
}
