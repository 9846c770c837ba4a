#include "CApi.h"
#include "../HidUSB/tests/SensorDescriptor.h"
#include "../HidUSB/tests/SimPeer.h"
#include "../HidUSB/tests/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include "Common/ErrCodes.h"

namespace {

struct CInterface : ::testing::Test {
  CApi c;
  void SetUp() override { ASSERT_TRUE(c.load()) << zervdcomPath() << ": " << ::dlerror(); }
  void TearDown() override { c.unload(); }

  DeviceHandle serial(const std::string& name, int listener = 1) {
    DeviceHandle h = 0;
    auto n = u16(name);
    EXPECT_EQ(
        c.comm_createSerialPort(&h, n.c_str(), static_cast<int>(n.size()), 1024, 512, listener), 1);
    return h;
  }
  std::u16string translate(DeviceHandle h, int code, bool detail) {
    char16_t buf[1024] = {};
    if (!c.comm_translateLastErr(h, code, buf, 1024, detail)) return u"<failed>";
    return buf;
  }
};

}  // namespace

TEST(CInterfaceExports, ExactlyTheTwentyFunctionsAreExported) {
  CApi c;
  ASSERT_TRUE(c.load()) << ::dlerror();
  EXPECT_EQ(c.bound, 20);
  // Internal classes stay hidden.
  EXPECT_EQ(::dlsym(c.lib, "_ZN16HidUSBDeviceComm4openEv"), nullptr);
  c.unload();

  std::string cmd = "nm -D --defined-only '" + zervdcomPath() + "' 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::string l(line);
    auto sp = l.find_last_of(' ');
    std::string name = l.substr(sp + 1);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    if (!name.empty()) names.insert(name);
  }
  int rc = ::pclose(p);
  if (rc != 0 && names.empty()) GTEST_SKIP() << "nm not available";
  std::set<std::string> expected;
#define X(name) expected.insert(#name);
  ZERVDCOM_FUNCTIONS(X)
#undef X
  EXPECT_EQ(names, expected);
}

TEST_F(CInterface, HandlesCountFromOneAndAreNeverReused) {
  DeviceHandle a = serial("/dev/null");
  DeviceHandle b = serial("/dev/null", 0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c.comm_close(a), 1);
  EXPECT_EQ(c.comm_close(a), 0);  // dead now
  EXPECT_EQ(serial("/dev/null"), 3);
  DeviceHandle m = 0;
  EXPECT_EQ(c.comm_createTKS7730USBDevMngr(&m), 1);
  EXPECT_EQ(m, 4);
}

TEST_F(CInterface, CreatingIntoAVariableHoldingALiveHandleFailsWith31) {
  serial("/dev/null");
  DeviceHandle live = serial("/dev/null");
  ASSERT_EQ(live, 2);
  DeviceHandle h = live;
  auto n = u16("/dev/null");
  EXPECT_EQ(c.comm_createSerialPort(&h, n.c_str(), 9, 1024, 512, 1), 0);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(c.comm_getLastErr(2), ErrCode::HandleAlreadyCreated);
  EXPECT_EQ(translate(2, 31, false), u"The handle has already been created.");
  EXPECT_EQ(c.comm_createTKS7730USBDevMngr(&h), 0);
  EXPECT_EQ(c.comm_createTKS7730USB(1, 0, &h, 512), 0);
  EXPECT_EQ(h, 2);
  // A variable holding a dead handle is simply overwritten.
  c.comm_close(2);
  EXPECT_EQ(c.comm_createTKS7730USBDevMngr(&h), 1);
  EXPECT_EQ(h, 3);
}

TEST_F(CInterface, VersionTextNeedsRoomForItsTerminator) {
  char16_t buf[64];
  for (auto& ch : buf) ch = u'#';
  EXPECT_EQ(c.comm_getVersionInfo(buf, 39), 0);
  EXPECT_EQ(buf[0], u'#');
  EXPECT_EQ(c.comm_getVersionInfo(buf, 40), 1);
  EXPECT_EQ(std::u16string(buf), u"ZervDCom.dll v1.0 (UNICODE), 2004/05/10");
  EXPECT_EQ(buf[40], u'#');
  EXPECT_EQ(c.comm_getVersionInfo(nullptr, 40), 0);
  EXPECT_EQ(c.comm_getVersionInfo(buf, 0), 0);
}

TEST_F(CInterface, UnknownHandlesGiveZeroEverywhere) {
  serial("/dev/null");
  uint8_t b[16];
  unsigned n = 77;
  char16_t t[64];
  int count = 5;
  DeviceHandle out = 0;
  for (DeviceHandle h : {0, 2, -1, 2147483647}) {
    EXPECT_EQ(c.comm_openSerialPort(h, 9600, 8, 1, 0, 0), 0);
    EXPECT_EQ(c.comm_buildTKS7730USBDevList(h, &count), 0);
    EXPECT_EQ(c.comm_createTKS7730USB(h, 0, &out, 512), 0);
    EXPECT_EQ(c.comm_openTKS7730USB(h), 0);
    EXPECT_EQ(c.comm_close(h), 0);
    EXPECT_EQ(c.comm_getLastErr(h), 0);
    EXPECT_EQ(c.comm_translateLastErr(h, 1, t, 64, 0), 0);
    EXPECT_EQ(c.comm_write(h, b, 1, &n, 10), 0);
    EXPECT_EQ(c.comm_read(h, b, 1, &n, 10), 0);
    EXPECT_EQ(c.comm_readInBuff(h, b, 1, &n), 0);
    EXPECT_EQ(c.comm_readLine(h, b, 16, &n, 10), 0);
    EXPECT_EQ(c.comm_purge(h, 15), 0);
    EXPECT_EQ(c.comm_isTKS7730USBPortAvail(h, 0), 0);
  }
  EXPECT_EQ(n, 77u);  // nothing stored for an unknown handle
  EXPECT_EQ(count, 5);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(c.comm_getLastErr(1), ErrCode::NoError);  // the live one was left alone
}

TEST_F(CInterface, BadArgumentsGiveZeroWithoutHarm) {
  auto name = u16("/dev/null");
  DeviceHandle h = 0;
  EXPECT_EQ(c.comm_createSerialPort(nullptr, name.c_str(), 9, 1024, 512, 1), 0);
  EXPECT_EQ(c.comm_createSerialPort(&h, nullptr, 9, 1024, 512, 1), 0);
  EXPECT_EQ(c.comm_createSerialPort(&h, name.c_str(), 260, 1024, 512, 1), 0);
  EXPECT_EQ(c.comm_createSerialPort(&h, name.c_str(), -1, 1024, 512, 1), 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(c.comm_createTKS7730USBDevMngr(nullptr), 0);
  EXPECT_EQ(c.comm_isSerialPortAvail(nullptr, 5), 0);
  EXPECT_EQ(c.comm_isSerialPortAvail(name.c_str(), 260), 0);
  // A long name that is not terminated: only nameLen units are read.
  std::u16string longName(259, u'x');
  EXPECT_EQ(c.comm_createSerialPort(&h, longName.data(), 259, 1024, 512, 1), 1);
  EXPECT_EQ(h, 1);

  uint8_t b[4];
  unsigned n = 9;
  EXPECT_EQ(c.comm_write(h, nullptr, 4, &n, 10), 0);
  EXPECT_EQ(c.comm_getLastErr(h), ErrCode::InvalidDataBuffer);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(c.comm_read(h, nullptr, 4, &n, 10), 0);
  EXPECT_EQ(c.comm_readInBuff(h, nullptr, 4, &n), 0);
  EXPECT_EQ(c.comm_readLine(h, nullptr, 4, &n, 10), 0);
  EXPECT_EQ(c.comm_write(h, nullptr, 0, &n, 10), 0);
  EXPECT_EQ(c.comm_readInBuff(h, nullptr, 0, &n), 0);
  EXPECT_EQ(c.comm_getLastErr(h), ErrCode::InvalidDataBuffer);
  EXPECT_EQ(c.comm_read(h, b, 4, nullptr, 10), 0);  // not open: fails, no crash
  EXPECT_EQ(c.comm_translateLastErr(h, 1, nullptr, 10, 0), 0);
  char16_t t[8];
  EXPECT_EQ(c.comm_translateLastErr(h, 1, t, 0, 0), 0);
  EXPECT_EQ(c.comm_translateLastErr(h, 45, t, 8, 0), 0);
  EXPECT_EQ(c.comm_translateLastErr(h, 0, t, 8, 0), 0);
  EXPECT_EQ(c.comm_translateLastErr(h, 1, t, 9, 0), 0);  // "No Error." needs 10
  char16_t t10[10];
  EXPECT_EQ(c.comm_translateLastErr(h, 1, t10, 10, 0), 1);
  EXPECT_EQ(std::u16string(t10), u"No Error.");
  // A serial handle is no manager, and no sensor.
  EXPECT_EQ(c.comm_buildTKS7730USBDevList(h, nullptr), 0);
  EXPECT_EQ(c.comm_getLastErr(h), ErrCode::InvalidHandle);
  EXPECT_EQ(c.comm_openTKS7730USB(h), 0);
  EXPECT_EQ(c.comm_isTKS7730USBPortAvail(h, 0), 0);
}

TEST_F(CInterface, SeverityLeavesOutOnlyTheTwoTimeouts) {
  EXPECT_EQ(c.comm_isLastErrSevere(8), 0);
  EXPECT_EQ(c.comm_isLastErrSevere(9), 0);
  for (int code : {1, 2, 7, 10, 31, 44, 0, 45, -3})
    EXPECT_EQ(c.comm_isLastErrSevere(code), 1) << code;
}

TEST_F(CInterface, OpeningAConnectionAsTheOtherKindFailsWithCode30) {
  DeviceHandle s = serial("/dev/null");
  DeviceHandle m = 0;
  ASSERT_EQ(c.comm_createTKS7730USBDevMngr(&m), 1);
  EXPECT_EQ(c.comm_openTKS7730USB(s), 0);
  EXPECT_EQ(c.comm_getLastErr(s), ErrCode::InvalidHandle);
  EXPECT_EQ(c.comm_openSerialPort(m, 9600, 8, 1, 0, 0), 0);
  EXPECT_EQ(c.comm_getLastErr(m), ErrCode::InvalidHandle);
  EXPECT_EQ(c.comm_openSerialPort(0, 9600, 8, 1, 0, 0), 0);
  EXPECT_EQ(c.comm_openTKS7730USB(m + 100), 0);
}

TEST_F(CInterface, LoadAndUnloadToggleAndUnloadDestroysEveryConnection) {
  EXPECT_EQ(c.comm_unloadInterface(), 0);
  EXPECT_EQ(c.comm_loadInterface(), 1);
  EXPECT_EQ(c.comm_loadInterface(), 0);
  DeviceHandle a = serial("/dev/null");
  DeviceHandle m = 0;
  ASSERT_EQ(c.comm_createTKS7730USBDevMngr(&m), 1);
  EXPECT_EQ(c.comm_getLastErr(a), ErrCode::NoError);
  EXPECT_EQ(c.comm_unloadInterface(), 1);
  EXPECT_EQ(c.comm_getLastErr(a), 0);
  EXPECT_EQ(c.comm_getLastErr(m), 0);
  EXPECT_EQ(c.comm_unloadInterface(), 0);
  // The counter is not reset.
  EXPECT_EQ(serial("/dev/null"), 3);
}

TEST_F(CInterface, ManagerListsSensorsAndRefusesDataOperations) {
  HidTestData::TempDir sim;
  HidTestData::SimPeer s0(sim / "s0", 0x3A61, 0x7730, 0x0140, HidTestData::kSensorDescriptor);
  HidTestData::SimPeer s1(sim / "s1", 0x3A61, 0x7730, 0x0140, HidTestData::kSensorDescriptor);
  ::setenv("ZERVDCOM_HID_SIM_DIR", sim.path().c_str(), 1);

  DeviceHandle m = 0;
  ASSERT_EQ(c.comm_createTKS7730USBDevMngr(&m), 1);
  DeviceHandle u = 0;
  EXPECT_EQ(c.comm_createTKS7730USB(m, 0, &u, 512), 0);  // not built yet
  EXPECT_EQ(c.comm_getLastErr(m), ErrCode::NotOpened);
  int count = -1;
  ASSERT_EQ(c.comm_buildTKS7730USBDevList(m, &count), 1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(c.comm_buildTKS7730USBDevList(m, &count), 0);
  EXPECT_EQ(c.comm_getLastErr(m), ErrCode::AlreadyOpened);

  EXPECT_EQ(c.comm_createTKS7730USB(m, 2, &u, 512), 0);
  EXPECT_EQ(c.comm_getLastErr(m), ErrCode::InvalidDeviceIndex);
  EXPECT_EQ(translate(m, 26, false), u"Invalid device index.");
  EXPECT_EQ(c.comm_isTKS7730USBPortAvail(m, 2), 0);
  EXPECT_EQ(c.comm_isTKS7730USBPortAvail(m, -1), 0);
  EXPECT_EQ(c.comm_isTKS7730USBPortAvail(0, 0), 0);

  uint8_t b[8];
  unsigned n = 0;
  EXPECT_EQ(c.comm_write(m, b, 1, &n, 10), 0);
  EXPECT_EQ(c.comm_getLastErr(m), ErrCode::InvalidHandle);
  EXPECT_EQ(translate(m, 30, true), u"Invalid handle value.This function is not implemented.");
  EXPECT_EQ(c.comm_read(m, b, 1, &n, 10), 0);
  EXPECT_EQ(c.comm_readInBuff(m, b, 1, &n), 0);
  EXPECT_EQ(c.comm_readLine(m, b, 8, &n, 10), 0);
  EXPECT_EQ(c.comm_purge(m, 8), 0);
  EXPECT_EQ(c.comm_getLastErr(m), ErrCode::InvalidHandle);

  EXPECT_EQ(c.comm_isTKS7730USBPortAvail(m, 1), 1);
  ASSERT_EQ(c.comm_createTKS7730USB(m, 1, &u, 4096), 1);
  ASSERT_EQ(c.comm_openTKS7730USB(u), 1) << c.comm_getLastErr(u);
  EXPECT_EQ(c.comm_isTKS7730USBPortAvail(m, 1), 0);
  EXPECT_EQ(c.comm_isTKS7730USBPortAvail(m, 0), 1);
  DeviceHandle second = 0;
  ASSERT_EQ(c.comm_createTKS7730USB(m, 1, &second, 4096), 1);
  EXPECT_EQ(c.comm_openTKS7730USB(second), 0);
  EXPECT_EQ(c.comm_getLastErr(second), ErrCode::OpenInOtherProcess);
  EXPECT_EQ(c.comm_purge(u, 15), 1);
  EXPECT_EQ(c.comm_close(u), 1);
  EXPECT_EQ(c.comm_openTKS7730USB(second), 1);
  EXPECT_EQ(c.comm_close(m), 1);  // the sensor connection outlives its manager
  EXPECT_EQ(c.comm_getLastErr(second), ErrCode::NoError);
  ::unsetenv("ZERVDCOM_HID_SIM_DIR");
}

TEST(CInterfaceLifecycle, UnloadingTheLibraryClosesLiveConnections) {
  HidTestData::TempDir sim;
  HidTestData::SimPeer s0(sim / "s0", 0x3A61, 0x7730, 0x0140, HidTestData::kSensorDescriptor);
  ::setenv("ZERVDCOM_HID_SIM_DIR", sim.path().c_str(), 1);
  CApi c;
  ASSERT_TRUE(c.load()) << ::dlerror();
  DeviceHandle m = 0, u = 0;
  int count = 0;
  ASSERT_EQ(c.comm_createTKS7730USBDevMngr(&m), 1);
  ASSERT_EQ(c.comm_buildTKS7730USBDevList(m, &count), 1);
  ASSERT_EQ(c.comm_createTKS7730USB(m, 0, &u, 4096), 1);
  ASSERT_EQ(c.comm_openTKS7730USB(u), 1);
  ASSERT_TRUE(s0.waitConnections(1));
  s0.waitReports(2);  // polling
  // No comm_close, no comm_unloadInterface: the library's detach does it.
  c.unload();
  EXPECT_EQ(::dlopen(zervdcomPath().c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr)
      << "library still mapped";
  EXPECT_TRUE(s0.waitConnectionsAtMost(0));
  const size_t after = s0.waitReports(0, 0).size();
  EXPECT_EQ(s0.waitReports(after + 1, 200).size(), after);  // the poll stopped with it
  ::unsetenv("ZERVDCOM_HID_SIM_DIR");
}

// A host that keeps the library mapped (as the application does) and exits
// with connections still open: the library's clean-up runs at exit, after the
// host's own static objects, and must find its table still alive.
TEST(CInterfaceLifecycle, ExitingWithLiveConnectionsInAMappedLibraryIsClean) {
  HidTestData::TempDir sim;
  ::setenv("ZERVDCOM_HID_SIM_DIR", sim.path().c_str(), 1);
  // Fork before the peer's thread exists (ThreadSanitizer cannot start threads
  // in the child of a threaded process); the child waits until the peer listens.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(ready[1]);
    char go = 0;
    if (::read(ready[0], &go, 1) != 1) ::_exit(12);
    void* lib = ::dlopen(zervdcomPath().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!lib) ::_exit(10);
    auto load = reinterpret_cast<comm_loadInterface_fn>(::dlsym(lib, "comm_loadInterface"));
    auto mngr = reinterpret_cast<comm_createTKS7730USBDevMngr_fn>(
        ::dlsym(lib, "comm_createTKS7730USBDevMngr"));
    auto build = reinterpret_cast<comm_buildTKS7730USBDevList_fn>(
        ::dlsym(lib, "comm_buildTKS7730USBDevList"));
    auto create = reinterpret_cast<comm_createTKS7730USB_fn>(::dlsym(lib, "comm_createTKS7730USB"));
    auto open = reinterpret_cast<comm_openTKS7730USB_fn>(::dlsym(lib, "comm_openTKS7730USB"));
    DeviceHandle m = 0, u = 0;
    int count = 0;
    // Handles before loading the interface: the table exists before the log.
    if (!mngr(&m) || !load() || !build(m, &count) || count != 1 || !create(m, 0, &u, 4096) ||
        !open(u))
      ::_exit(11);
    std::exit(0);  // no close, no unload: static destruction and the library's detach follow
  }
  ::close(ready[0]);
  HidTestData::SimPeer s0(sim / "s0", 0x3A61, 0x7730, 0x0140, HidTestData::kSensorDescriptor);
  ASSERT_EQ(::write(ready[1], "g", 1), 1);
  ::close(ready[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "child killed by signal "
                                 << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(s0.waitConnectionsAtMost(0));
  ::unsetenv("ZERVDCOM_HID_SIM_DIR");
}
