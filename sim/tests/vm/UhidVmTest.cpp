// Runs inside a virtual machine whose kernel has uhid: the library against
// real kernel HID devices. tks7730-sim --uhid serves two sensors; a small
// uhid device of the test's own (a sensor or a keyboard) shows what the kernel
// hands to a device and back, byte for byte, and unplugs on demand.

#include "CApi.h"
#include "Common/ErrCodes.h"
#include "VmSim.h"
#include "HidUSB/HidEnum.h"
#include "HidUSB/HidUSB.h"
#include "Uhid.h"
#include "UsbReports.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;
using namespace tks7730sim;
using Clock = std::chrono::steady_clock;
using vmtest::Sim;

namespace {

// Keyboard descriptor: a HID device that is not a sensor.
const std::vector<uint8_t> kKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25,
    0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A uhid device owned by the test: records output reports, sends input ones.
class UhidPeer {
 public:
  UhidPeer(const std::string& phys, uint16_t vid, uint16_t pid, const std::vector<uint8_t>& desc)
      : phys_(phys) {
    fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return;
    uhid::DeviceSpec s;
    s.name = "test " + phys;
    s.phys = phys;
    s.vendor = vid;
    s.product = pid;
    s.descriptor = desc;
    const auto ev = uhid::encodeCreate(s);
    if (!ev || ::write(fd_, ev->data(), ev->size()) != static_cast<ssize_t>(ev->size())) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    // Node appears asynchronously: wait for it with a generous bound.
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
      drain(50);
      const std::string n = uhid::findHidrawNode("/sys", phys_);
      if (!n.empty() && ::access(("/dev/" + n).c_str(), F_OK) == 0) {
        node_ = "/dev/" + n;
        break;
      }
    }
  }
  ~UhidPeer() { unplug(); }
  bool ok() const { return fd_ >= 0 && !node_.empty(); }
  const std::string& node() const { return node_; }
  void unplug() {
    if (fd_ < 0) return;
    const auto d = uhid::encodeDestroy();
    EXPECT_EQ(::write(fd_, d.data(), d.size()), static_cast<ssize_t>(d.size()));
    ::close(fd_);
    fd_ = -1;
  }
  bool input(const std::vector<uint8_t>& report) {
    const auto ev = uhid::encodeInput(report.data(), report.size());
    return ev && ::write(fd_, ev->data(), ev->size()) == static_cast<ssize_t>(ev->size());
  }
  // Output reports received so far (waits up to ms for at least n).
  std::vector<std::vector<uint8_t>> outputs(size_t n, int ms = 5000) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (out_.size() < n && Clock::now() < end) drain(50);
    return out_;
  }

 private:
  void drain(int waitMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return;
    std::vector<uint8_t> buf(uhid::kEventSize);
    for (;;) {
      pollfd q{fd_, POLLIN, 0};
      if (::poll(&q, 1, 0) <= 0) return;
      const ssize_t n = ::read(fd_, buf.data(), buf.size());
      if (n <= 0) return;
      const auto e = uhid::decodeEvent(buf.data(), static_cast<size_t>(n));
      if (e.kind == uhid::Event::Output) out_.push_back(e.data);
      if (e.kind == uhid::Event::GetReport) {
        const auto r = uhid::encodeGetReportReply(e.requestId, EIO);
        EXPECT_EQ(::write(fd_, r.data(), r.size()), static_cast<ssize_t>(r.size()));
      }
    }
  }
  std::string phys_;
  std::string node_;
  int fd_ = -1;
  std::vector<std::vector<uint8_t>> out_;
};

std::vector<uint8_t> sensorInput(const std::string& text) {
  std::vector<uint8_t> r(text.begin(), text.end());
  r.insert(r.begin(), usb::kInputId);
  r.resize(usb::kReportSize, usb::kFill);
  return r;
}

struct Api {
  CApi c;
  Api() { EXPECT_TRUE(c.load()) << ::dlerror(); }
  ~Api() { c.unload(); }
  // Lists the sensors on a fresh manager; returns the count.
  int list(DeviceHandle& m) {
    m = 0;
    int n = -1;
    EXPECT_EQ(c.comm_createTKS7730USBDevMngr(&m), 1);
    EXPECT_EQ(c.comm_buildTKS7730USBDevList(m, &n), 1);
    return n;
  }
  std::string readLine(DeviceHandle h, int ms = 5000) {
    char buf[1024];
    unsigned n = 0;
    if (!c.comm_readLine(h, buf, sizeof buf, &n, ms))
      return "<error " + std::to_string(c.comm_getLastErr(h)) + ">";
    return std::string(buf, n);
  }
};

// Sensor index whose device path is `node`, among the library's own list.
int indexOf(const std::string& node) {
  int i = 0;
  for (const auto& d : HidIo::listHidDevices(HidIo::HidEnumRoots{})) {
    if (d.vendorId != usb::kVendorId || d.productId != usb::kProductId) continue;
    if (d.path == node) return i;
    ++i;
  }
  return -1;
}

}  // namespace

TEST(KernelHid, UhidDeviceAppearsAsHidrawWithItsIdentityAndDescriptor) {
  UhidPeer peer("zrq-test/ident", usb::kVendorId, usb::kProductId, usb::reportDescriptor());
  ASSERT_TRUE(peer.ok()) << "no /dev/uhid or no hidraw node: " << std::strerror(errno);
  HidUSBDevInfo info(usb::kVendorId, usb::kProductId, 0, peer.node());
  HidUSB dev(info);
  EXPECT_EQ(dev.caps().inputReportByteLength, 49);
  EXPECT_EQ(dev.caps().outputReportByteLength, 49);
  EXPECT_TRUE(dev.caps().usesReportIds);
  int err = 0;
  auto ch = HidIo::openHidChannel(peer.node(), err);
  ASSERT_TRUE(ch) << err;
  EXPECT_EQ(ch->reportDescriptor(), usb::reportDescriptor());
  HidIo::HidIdentity id;
  ASSERT_TRUE(HidIo::channelIdentity(*ch, id, err));
  EXPECT_EQ(id.vendorId, 0x3A61);  // signed 16-bit in the ioctl
  EXPECT_EQ(id.productId, 0x7730);
}

TEST(KernelHid, ReadsCarryTheReportIdAndWritesReachTheDeviceAsWritten) {
  UhidPeer peer("zrq-test/bytes", usb::kVendorId, usb::kProductId, usb::reportDescriptor());
  ASSERT_TRUE(peer.ok());
  const int fd = ::open(peer.node().c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(peer.input(sensorInput("AB\r\n")));
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  uint8_t buf[128];
  ASSERT_EQ(::read(fd, buf, sizeof buf), 49);  // report ID included
  EXPECT_EQ(buf[0], usb::kInputId);
  EXPECT_EQ(buf[1], 'A');
  EXPECT_EQ(buf[48], 0xFF);
  // A report whose ID the descriptor does not declare never reaches a reader.
  auto stray = sensorInput("X");
  stray[0] = 9;
  ASSERT_TRUE(peer.input(stray));
  ASSERT_TRUE(peer.input(sensorInput("Y")));
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  ASSERT_EQ(::read(fd, buf, sizeof buf), 49);
  EXPECT_EQ(buf[1], 'Y');

  // Short writes are not padded: the device gets exactly the bytes written;
  // one byte is refused.
  const uint8_t shortCmd[3] = {usb::kCommandId, usb::kPollCmd, 0xFF};
  EXPECT_EQ(::write(fd, shortCmd, sizeof shortCmd), 3);
  const uint8_t one = usb::kCommandId;
  EXPECT_EQ(::write(fd, &one, 1), -1);
  EXPECT_EQ(errno, EINVAL);
  const auto got = peer.outputs(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], std::vector<uint8_t>(shortCmd, shortCmd + 3));
  ::close(fd);
}

TEST(KernelHid, UnplugRaisesHangUpThenReadsFailWithEioAndWritesWithEnodev) {
  auto peer = std::make_unique<UhidPeer>("zrq-test/unplug-raw", usb::kVendorId, usb::kProductId,
                                         usb::reportDescriptor());
  ASSERT_TRUE(peer->ok());
  const int fd = ::open(peer->node().c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(peer->input(sensorInput("last\r\n")));
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  peer->unplug();
  // A report queued before the unplug is still delivered.
  uint8_t buf[64];
  EXPECT_EQ(::read(fd, buf, sizeof buf), 49);
  p = {fd, POLLIN | POLLOUT, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  EXPECT_EQ(p.revents & (POLLERR | POLLHUP), POLLERR | POLLHUP) << p.revents;
  EXPECT_TRUE(p.revents & POLLOUT) << "hidraw always says writable";
  EXPECT_FALSE(p.revents & POLLIN);
  EXPECT_EQ(::read(fd, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EIO);
  const auto cmd = sensorInput("");
  EXPECT_EQ(::write(fd, cmd.data(), cmd.size()), -1);
  EXPECT_EQ(errno, ENODEV);
  ::close(fd);
}

// A vendor device with one unnumbered 48-byte report each way: the kernel
// reads it without an ID byte, and uhid hands a write on with the 0 in front.
TEST(KernelHid, DeviceWithoutReportIdsKeepsTheLibrarysZeroIdConvention) {
  const std::vector<uint8_t> plain = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                      0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x30, 0x09, 0x02,
                                      0x81, 0x02, 0x09, 0x03, 0x91, 0x02, 0xC0};
  UhidPeer peer("zrq-test/plain", 0x1234, 0x5678, plain);
  ASSERT_TRUE(peer.ok());
  HidUSB dev(HidUSBDevInfo(0x1234, 0x5678, 0, peer.node()));
  EXPECT_FALSE(dev.caps().usesReportIds);
  EXPECT_EQ(dev.caps().inputReportByteLength, 49);
  EXPECT_EQ(dev.caps().outputReportByteLength, 49);

  std::vector<uint8_t> in(48, 0x11);
  in[0] = 0xA5;
  ASSERT_TRUE(peer.input(in));
  HidReport r(0, 48);
  HidReportList list;
  list.add(&r);
  ASSERT_EQ(dev.readReports(list, 1, 5000), 1u);
  EXPECT_EQ(r.buffer()[0], 0);
  EXPECT_EQ(r.buffer()[1], 0xA5);
  EXPECT_EQ(r.buffer()[48], 0x11);
  list.clear();

  HidReport out(0, 48);
  const uint8_t text[2] = {'h', 'i'};
  out.setData(text, 2);
  EXPECT_EQ(dev.writeReport(out, 2000), 49u);
  const auto got = peer.outputs(1);
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].size(), 49u);
  EXPECT_EQ(got[0][0], 0);
  EXPECT_EQ(got[0][1], 'h');
}

TEST(KernelHid, LibraryWritesStartPollAndTextReportsWithTheirIds) {
  UhidPeer peer("zrq-test/reports", usb::kVendorId, usb::kProductId, usb::reportDescriptor());
  ASSERT_TRUE(peer.ok());
  Api a;
  DeviceHandle m = 0, u = 0;
  ASSERT_GE(a.list(m), 1);
  const int idx = indexOf(peer.node());
  ASSERT_GE(idx, 0);
  ASSERT_EQ(a.c.comm_createTKS7730USB(m, idx, &u, 8192), 1);
  ASSERT_EQ(a.c.comm_openTKS7730USB(u), 1) << a.c.comm_getLastErr(u);
  unsigned n = 0;
  ASSERT_EQ(a.c.comm_write(u, "AB\n", 3, &n, 2000), 1);
  EXPECT_EQ(n, 3u);
  const auto out = peer.outputs(4);
  ASSERT_GE(out.size(), 3u);
  std::vector<uint8_t> start(49, 0xFF), poll(49, 0xFF), text(49, 0xFF);
  start[0] = 3, start[1] = 0x50;
  poll[0] = 3, poll[1] = 0x53;
  text[0] = 2, text[1] = 'A', text[2] = 'B', text[3] = '\n';
  EXPECT_EQ(out[0], start);
  bool sawPoll = false, sawText = false;
  for (const auto& r : out) {
    EXPECT_EQ(r.size(), 49u);
    sawPoll |= r == poll;
    sawText |= r == text;
  }
  EXPECT_TRUE(sawPoll);
  EXPECT_TRUE(sawText);

  // A line across three reports, and two lines in one report, come back whole.
  const std::string line = std::string(100, 'x') + "\r\n";
  ASSERT_TRUE(peer.input(sensorInput(line.substr(0, 48))));
  ASSERT_TRUE(peer.input(sensorInput(line.substr(48, 48))));
  ASSERT_TRUE(peer.input(sensorInput(line.substr(96) + "A,1\r\nB,2\r\n")));
  EXPECT_EQ(a.readLine(u), line);
  EXPECT_EQ(a.readLine(u), "A,1\r\n");
  EXPECT_EQ(a.readLine(u), "B,2\r\n");
  EXPECT_EQ(a.c.comm_close(u), 1);
  EXPECT_EQ(a.c.comm_close(m), 1);
}

TEST(KernelHid, UnplugIsAReadFailureWithoutSpinningAndTheSensorReturns) {
  auto peer = std::make_unique<UhidPeer>("zrq-test/unplug", usb::kVendorId, usb::kProductId,
                                         usb::reportDescriptor());
  ASSERT_TRUE(peer->ok());
  Api a;
  DeviceHandle m = 0, u = 0;
  a.list(m);
  const int idx = indexOf(peer->node());
  ASSERT_GE(idx, 0);
  ASSERT_EQ(a.c.comm_createTKS7730USB(m, idx, &u, 8192), 1);
  ASSERT_EQ(a.c.comm_openTKS7730USB(u), 1);
  ASSERT_TRUE(peer->input(sensorInput("S,1\r\n")));
  EXPECT_EQ(a.readLine(u), "S,1\r\n");
  peer->unplug();
  const std::string gone = a.readLine(u, 5000);
  const int code = a.c.comm_getLastErr(u);
  EXPECT_TRUE(code == 6 || code == 32)
      << gone;  // report read failed, or the poll command could not go out
  // Nothing runs while nobody asks: the failed helper threads stay idle.
  const double before = cpuSeconds();
  const auto t0 = Clock::now();
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(a.readLine(u, 100).rfind("<error", 0), 0u);
    const int again = a.c.comm_getLastErr(u);
    EXPECT_TRUE(again == 6 || again == 32 || again == 8) << again;
  }
  ::usleep(500 * 1000);
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  EXPECT_LT(cpuSeconds() - before, 0.5 * wall)
      << "CPU " << cpuSeconds() - before << " s in " << wall << " s";
  EXPECT_EQ(a.c.comm_close(u), 1);
  EXPECT_EQ(a.c.comm_close(m), 1);

  // Plugged in again: listed again and usable.
  peer = std::make_unique<UhidPeer>("zrq-test/unplug", usb::kVendorId, usb::kProductId,
                                    usb::reportDescriptor());
  ASSERT_TRUE(peer->ok());
  const int idx2 = indexOf(peer->node());
  ASSERT_GE(idx2, 0);
  ASSERT_GE(a.list(m), idx2 + 1);
  ASSERT_EQ(a.c.comm_createTKS7730USB(m, idx2, &u, 8192), 1);
  ASSERT_EQ(a.c.comm_openTKS7730USB(u), 1) << a.c.comm_getLastErr(u);
  ASSERT_TRUE(peer->input(sensorInput("S,2\r\n")));
  EXPECT_EQ(a.readLine(u), "S,2\r\n");
  a.c.comm_close(u);
  a.c.comm_close(m);
}

TEST(SimulatorSensors, TwoListedInOrderAndAKeyboardIgnored) {
  UhidPeer keyboard("zrq-test/keyboard", 0x046D, 0xC31C, kKeyboard);
  ASSERT_TRUE(keyboard.ok());
  Sim sim(2);
  ASSERT_EQ(sim.nodes.size(), 2u);
  std::vector<std::string> sensors;
  bool keyboardListed = false;
  for (const auto& d : HidIo::listHidDevices(HidIo::HidEnumRoots{})) {
    keyboardListed |= d.path == keyboard.node();
    if (d.vendorId != usb::kVendorId || d.productId != usb::kProductId) continue;
    sensors.push_back(d.path);
    // A virtual device has no USB device above it, so no bcdDevice: version 0.
    EXPECT_EQ(d.versionNumber, 0) << d.path;
  }
  EXPECT_TRUE(keyboardListed) << "the enumeration sees every hidraw node";
  EXPECT_EQ(sensors, sim.nodes);
  Api a;
  DeviceHandle m = 0, h = 0;
  EXPECT_EQ(a.list(m), 2);
  EXPECT_EQ(a.c.comm_createTKS7730USB(m, 2, &h, 4096), 0);
  EXPECT_EQ(a.c.comm_getLastErr(m), ErrCode::InvalidDeviceIndex);
  a.c.comm_close(m);
}

TEST(SimulatorSensors, AnswerCommandsStreamAndLockAcrossProcesses) {
  Sim sim(2);
  ASSERT_EQ(sim.nodes.size(), 2u);
  Api a;
  DeviceHandle m = 0, u = 0, v = 0;
  ASSERT_EQ(a.list(m), 2);
  ASSERT_EQ(a.c.comm_createTKS7730USB(m, 0, &u, 16384), 1);
  ASSERT_EQ(a.c.comm_createTKS7730USB(m, 1, &v, 16384), 1);
  ASSERT_EQ(a.c.comm_openTKS7730USB(u), 1) << a.c.comm_getLastErr(u);
  ASSERT_EQ(a.c.comm_openTKS7730USB(v), 1) << a.c.comm_getLastErr(v);
  unsigned n = 0;
  ASSERT_EQ(a.c.comm_write(u, "S\r\n", 3, &n, 2000), 1);
  ASSERT_EQ(a.c.comm_write(v, "S\r\n", 3, &n, 2000), 1);
  EXPECT_EQ(a.readLine(u), "S,12346\r\n");  // the sensors count on from the serial side's number
  EXPECT_EQ(a.readLine(v), "S,12347\r\n");
  ASSERT_EQ(a.c.comm_write(u, "T\r\n", 3, &n, 2000), 1);
  const std::string t = a.readLine(u);
  EXPECT_EQ(t[0], 'T') << t;
  EXPECT_GT(t.size(), 48u) << "a reply longer than one report";
  EXPECT_EQ(t.find('\xFF'), std::string::npos);

  // Another process cannot open a sensor this one holds.
  std::string self = "/proc/self/exe", mode = "--try-open", index = "0";
  char* argv[] = {self.data(), mode.data(), index.data(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, environ), 0);
  int st = 0;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 15);

  // Streaming for a few seconds: data lines ("D", data string, CR), about
  // ten a second, none broken where one report ends and the next begins.
  ASSERT_EQ(a.c.comm_write(u, "D\r\n", 3, &n, 2000), 1);
  std::string stream;
  const auto end = Clock::now() + std::chrono::seconds(3);
  while (Clock::now() < end) {
    char buf[512];
    unsigned got = 0;
    const int ok = a.c.comm_read(u, buf, sizeof buf, &got, 300);
    if (!ok) {
      ASSERT_EQ(a.c.comm_getLastErr(u), ErrCode::ReadTimeout);  // only the time-out of a short read
    }
    stream.append(buf, got);
  }
  int lines = 0;
  for (size_t at = 0, cr; (cr = stream.find('\r', at)) != std::string::npos; at = cr + 1) {
    const std::string l = stream.substr(at, cr - at);
    EXPECT_EQ(l[0], 'D') << l;
    EXPECT_GT(l.size(), 100u) << l;
    ++lines;
  }
  EXPECT_GE(lines, 15);
  ASSERT_EQ(a.c.comm_write(u, "U\r\n", 3, &n, 2000), 1);

  EXPECT_EQ(a.c.comm_isTKS7730USBPortAvail(m, 0), 0);  // held by this process
  a.c.comm_close(u);
  EXPECT_EQ(a.c.comm_isTKS7730USBPortAvail(m, 0), 1);

  // Released: the other process may open it now.
  ASSERT_EQ(posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, environ), 0);
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  EXPECT_EQ(WEXITSTATUS(st), 0);

  // The simulator ending is an unplug of its sensors.
  sim.stop();
  std::string l;
  for (int i = 0; i < 100; ++i) {  // replies already in the buffer come first
    l = a.readLine(v, 3000);
    if (l.rfind("<error", 0) == 0) break;
  }
  const int code = a.c.comm_getLastErr(v);
  EXPECT_TRUE(code == 6 || code == 32) << l;
  a.c.comm_close(v);
  a.c.comm_close(m);
  DeviceHandle m2 = 0;
  EXPECT_EQ(a.list(m2), 0);
  a.c.comm_close(m2);
}

TEST(SimulatorSensors, HangUpFaultUnplugsAndTheSensorIsListedAgain) {
  Sim sim(1, {"--fault", "hangup,at=1500,for=1500"});
  ASSERT_EQ(sim.nodes.size(), 1u);
  Api a;
  DeviceHandle m = 0, u = 0;
  ASSERT_EQ(a.list(m), 1);
  ASSERT_EQ(a.c.comm_createTKS7730USB(m, 0, &u, 8192), 1);
  ASSERT_EQ(a.c.comm_openTKS7730USB(u), 1);
  std::string l;
  for (int i = 0; i < 200; ++i) {
    l = a.readLine(u, 3000);
    if (l.rfind("<error", 0) == 0) break;
  }
  EXPECT_TRUE(a.c.comm_getLastErr(u) == 6 || a.c.comm_getLastErr(u) == 32) << l;
  a.c.comm_close(u);
  a.c.comm_close(m);
  const std::string back = sim.line(20000);
  ASSERT_EQ(back.rfind("uhid: /dev/hidraw", 0), 0u) << back;
  ASSERT_EQ(a.list(m), 1);
  ASSERT_EQ(a.c.comm_createTKS7730USB(m, 0, &u, 8192), 1);
  ASSERT_EQ(a.c.comm_openTKS7730USB(u), 1) << a.c.comm_getLastErr(u);
  unsigned n = 0;
  ASSERT_EQ(a.c.comm_write(u, "S\r\n", 3, &n, 2000), 1);
  EXPECT_EQ(a.readLine(u), "S,12346\r\n");
  a.c.comm_close(u);
  a.c.comm_close(m);
}

// `--try-open N`: opens sensor N in this separate process; exits with 0 when
// it opened, else with the library's last error.
int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--try-open") {
    CApi c;
    if (!c.load()) return 100;
    DeviceHandle m = 0, u = 0;
    int n = 0;
    if (!c.comm_createTKS7730USBDevMngr(&m) || !c.comm_buildTKS7730USBDevList(m, &n)) return 101;
    if (!c.comm_createTKS7730USB(m, std::atoi(argv[2]), &u, 4096)) return 102;
    const int rc = c.comm_openTKS7730USB(u) ? 0 : c.comm_getLastErr(u);
    c.comm_close(u);
    c.comm_close(m);
    return rc;
  }
  ::testing::InitGoogleTest(&argc, argv);
  std::signal(SIGPIPE, SIG_IGN);
  return RUN_ALL_TESTS();
}
