// The library against the simulator: a sensor on a simulated HID socket is
// listed, created by index, opened and polled, and commands and replies cross
// in 49-byte reports.

#include "CApi.h"
#include "ChildProgram.h"
#include "../HidUSB/tests/SensorDescriptor.h"
#include "../HidUSB/tests/SimPeer.h"
#include "../HidUSB/tests/TempDir.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include "Common/ErrCodes.h"

namespace {

// tks7730-sim serving USB sensors; ready once it printed its "usb: " lines.
class SimProcess {
 public:
  SimProcess(const std::string& dir, int sensors) {
    const std::string exe = binDir() + "/tks7730-sim";
    struct stat st {};
    if (::stat(exe.c_str(), &st) != 0) return;
    proc_ = std::make_unique<zrq::test::ChildProgram>(std::vector<std::string>{
        exe, "--no-pty", "--usb", std::to_string(sensors), "--usb-dir", dir, "--interval", "100"});
    while (static_cast<int>(usb_.size()) < sensors) {
      const std::string line = proc_->line(10000);
      if (line.empty()) break;
      if (line.rfind("usb: ", 0) == 0) usb_.push_back(line.substr(5));
    }
  }
  ~SimProcess() {
    if (proc_) proc_->terminate();
  }
  bool available() const { return proc_ && proc_->started(); }
  const std::vector<std::string>& usb() const { return usb_; }

 private:
  std::unique_ptr<zrq::test::ChildProgram> proc_;
  std::vector<std::string> usb_;
};

std::string readLine(CApi& c, DeviceHandle h, int timeoutMs = 3000) {
  char buf[1024];
  unsigned n = 0;
  if (!c.comm_readLine(h, buf, sizeof buf, &n, timeoutMs))
    return "<error " + std::to_string(c.comm_getLastErr(h)) + ">";
  return std::string(buf, n);
}

}  // namespace

TEST(UsbEndToEnd, SensorOnTheSimulatorAnswersCommandsInReports) {
  HidTestData::TempDir dir;
  SimProcess sim(dir.path(), 2);
  if (!sim.available()) GTEST_SKIP() << "tks7730-sim not built";
  ASSERT_EQ(sim.usb().size(), 2u);
  ::setenv("ZERVDCOM_HID_SIM_DIR", dir.path().c_str(), 1);

  CApi c;
  ASSERT_TRUE(c.load()) << ::dlerror();
  DeviceHandle m = 0, u = 0;
  ASSERT_EQ(c.comm_createTKS7730USBDevMngr(&m), 1);
  int count = 0;
  ASSERT_EQ(c.comm_buildTKS7730USBDevList(m, &count), 1);
  EXPECT_EQ(count, 2);
  ASSERT_EQ(c.comm_createTKS7730USB(m, 0, &u, 8192), 1);
  DeviceHandle none = 0;
  EXPECT_EQ(c.comm_createTKS7730USB(m, 2, &none, 8192), 0);
  EXPECT_EQ(c.comm_getLastErr(m), ErrCode::InvalidDeviceIndex);
  ASSERT_EQ(c.comm_openTKS7730USB(u), 1) << c.comm_getLastErr(u);

  unsigned n = 0;
  ASSERT_EQ(c.comm_write(u, "I\r\n", 3, &n, 2000), 1);
  EXPECT_EQ(n, 3u);
  const std::string reply = readLine(c, u);
  ASSERT_GE(reply.size(), 3u) << reply;
  EXPECT_EQ(reply[0], '7') << reply;
  EXPECT_EQ(reply.substr(reply.size() - 2), "\r\n");

  // T answers with one data line of well over one report's payload.
  ASSERT_EQ(c.comm_write(u, "T\r\n", 3, &n, 2000), 1);
  const std::string t = readLine(c, u);
  EXPECT_EQ(t[0], 'T') << t;
  EXPECT_GT(t.size(), 48u) << t;
  EXPECT_EQ(t.find('\xFF'), std::string::npos);
  EXPECT_EQ(t.substr(t.size() - 2), "\r\n");

  // Two commands at once: both replies come out as lines, in order.
  ASSERT_EQ(c.comm_write(u, "S\r\nF\r\n", 6, &n, 2000), 1);
  std::string s = readLine(c, u);
  std::string f = readLine(c, u);
  EXPECT_EQ(s.rfind("S,", 0), 0u) << s;
  EXPECT_EQ(f.rfind("F,", 0), 0u) << f;

  EXPECT_EQ(c.comm_close(u), 1);
  EXPECT_EQ(c.comm_close(m), 1);
  c.unload();
  ::unsetenv("ZERVDCOM_HID_SIM_DIR");
}

TEST(UsbEndToEnd, LineBoundariesIndependentOfReportBoundaries) {
  HidTestData::TempDir dir;
  HidTestData::SimPeer peer(dir / "s", 0x3A61, 0x7730, 0x0140, HidTestData::kSensorDescriptor);
  ::setenv("ZERVDCOM_HID_SIM_DIR", dir.path().c_str(), 1);
  CApi c;
  ASSERT_TRUE(c.load()) << ::dlerror();
  DeviceHandle m = 0, u = 0;
  ASSERT_EQ(c.comm_createTKS7730USBDevMngr(&m), 1);
  int count = 0;
  ASSERT_EQ(c.comm_buildTKS7730USBDevList(m, &count), 1);
  ASSERT_EQ(count, 1);
  ASSERT_EQ(c.comm_createTKS7730USB(m, 0, &u, 4096), 1);
  ASSERT_EQ(c.comm_openTKS7730USB(u), 1);
  ASSERT_TRUE(peer.waitConnections(1));
  auto report = [](const std::string& text) {
    HidTestData::SimPeer::Report r(text.begin(), text.end());
    r.insert(r.begin(), 1);
    r.resize(49, 0xFF);
    return r;
  };
  std::string line(120, 'x');
  line += "\r\n";
  peer.sendToAll(report(line.substr(0, 48)));
  peer.sendToAll(report(line.substr(48, 48)));
  peer.sendToAll(report(line.substr(96) + "A,1\r\nB,2\r\n"));
  EXPECT_EQ(readLine(c, u), line);
  EXPECT_EQ(readLine(c, u), "A,1\r\n");
  EXPECT_EQ(readLine(c, u), "B,2\r\n");
  // The first report after the hello is the start command, then polls.
  auto got = peer.waitReports(3);
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got[0][1], 0x50);
  EXPECT_EQ(got[1][1], 0x53);
  EXPECT_EQ(got[2][1], 0x53);
  c.comm_close(u);
  c.comm_close(m);
  c.unload();
  ::unsetenv("ZERVDCOM_HID_SIM_DIR");
}
