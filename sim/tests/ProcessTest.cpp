// The program itself: the lines it prints, the USB sockets as a host uses them,
// a clean exit on SIGTERM, and no CPU spent while idle.

#include "ChildProgram.h"
#include "SensorRules.h"
#include "UsbReports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace tks7730sim::usb;
using namespace simtest;
using Clock = std::chrono::steady_clock;

namespace {

// tks7730-sim with the options, its output read line by line.
class SimProcess : public zrq::test::ChildProgram {
 public:
  explicit SimProcess(std::vector<std::string> args) : ChildProgram(withProgram(std::move(args))) {
    EXPECT_TRUE(started());
  }
  std::string line(int ms = 5000) { return ChildProgram::line(ms); }
  long cpuTicks() const {
    std::ifstream f("/proc/" + std::to_string(pid()) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), {});
    std::istringstream in(s.substr(s.rfind(')') + 2));
    std::string tok;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> tok; ++i) {
      if (i == 14) utime = std::stol(tok);
      if (i == 15) stime = std::stol(tok);
    }
    return utime + stime;
  }

 private:
  static std::vector<std::string> withProgram(std::vector<std::string> args) {
    args.insert(args.begin(), SIM_BIN);
    return args;
  }
};

// The simulator's serial side ("serial: <path>") opened raw; -1 on failure.
int openRawSerial(const std::string& line) {
  if (line.rfind("serial: ", 0) != 0) return -1;
  const int fd = ::open(line.substr(8).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  if (tcgetattr(fd, &t) == 0) cfmakeraw(&t);
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string tempDir() {
  std::string base = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "/tmp";
  std::string tmpl = base + "/simtest-XXXXXX";
  EXPECT_NE(mkdtemp(tmpl.data()), nullptr);
  return tmpl;
}

struct Host {
  explicit Host(const std::string& path) {
    fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << path;
  }
  ~Host() { close(fd); }
  std::vector<uint8_t> packet(int ms = 2000) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return {};
    uint8_t b[512];
    const ssize_t n = recv(fd, b, sizeof b, 0);
    return n > 0 ? std::vector<uint8_t>(b, b + n) : std::vector<uint8_t>{};
  }
  void sendText(const std::string& t) {
    Report r;
    r.fill(0xFF);
    r[0] = kOutputId;
    std::copy(t.begin(), t.end(), r.begin() + 1);
    ASSERT_EQ(send(fd, r.data(), r.size(), 0), 49);
  }
  void command(uint8_t code) {
    Report r;
    r.fill(0xFF);
    r[0] = kCommandId;
    r[1] = code;
    ASSERT_EQ(send(fd, r.data(), r.size(), 0), 49);
  }
  // Collects input text, polling every 45 ms as the host does, until `until`
  // appears or the time is up.
  std::string collect(const std::string& until, int ms = 3000) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end && text.find(until) == std::string::npos) {
      command(kPollCmd);
      auto p = packet(45);
      if (p.empty()) continue;
      EXPECT_EQ(p.size(), kReportSize);
      EXPECT_EQ(p[0], kInputId);
      for (size_t i = 1; i < p.size(); ++i)
        if (p[i] != 0xFF) text += static_cast<char>(p[i]);
    }
    return text;
  }
  int fd = -1;
  std::string text;
};

}  // namespace

TEST(Program, UsbSensorsServeHostsAndExitCleanly) {
  const std::string dir = tempDir();
  SimProcess sim({"--usb", "2", "--usb-dir", dir, "--pty-link", dir + "/tty", "--interval", "50",
                  "--trace", dir + "/trace"});
  const std::string serial = sim.line();
  ASSERT_EQ(serial.rfind("serial: /dev/pts/", 0), 0u) << serial;
  EXPECT_EQ(sim.line(), "usb: " + dir + "/tks7730-sim-0");
  EXPECT_EQ(sim.line(), "usb: " + dir + "/tks7730-sim-1");

  Host a(dir + "/tks7730-sim-0"), b(dir + "/tks7730-sim-0");
  for (Host* h : {&a, &b}) {
    const auto hello = h->packet();
    ASSERT_GT(hello.size(), 6u);
    EXPECT_EQ(hello[0] | hello[1] << 8, kVendorId);
    EXPECT_EQ(hello[2] | hello[3] << 8, kProductId);
    EXPECT_EQ(std::vector<uint8_t>(hello.begin() + 6, hello.end()), reportDescriptor());
  }
  a.command(kStartCmd);
  a.sendText("I\r\n");  // no banner on USB
  const std::string reply = a.collect("\n");
  EXPECT_TRUE(interrogationAccepted(reply.substr(0, reply.find('\n') + 1))) << reply;
  // Every open connection gets every input report, as hidraw does.
  EXPECT_EQ(b.collect("\n"), reply);

  a.text.clear();
  a.sendText("D\r\n");
  const std::string stream = a.collect("\rD", 2000);
  const auto start = stream.find('D'), cr = stream.find('\r', start);
  ASSERT_NE(cr, std::string::npos) << stream;
  std::string why;
  EXPECT_TRUE(dataFields(stream.substr(start + 1, cr - start - 1), 'A', why)) << why;
  a.sendText("U\r\n");
  EXPECT_NE(a.collect("U,ACK").find("U,ACK"), std::string::npos);

  Host other(dir + "/tks7730-sim-1");
  other.packet();
  other.sendText("S");
  const std::string sn = other.collect("\n");
  EXPECT_EQ(serialNumberOf(sn), "12347") << sn;  // usb1: two on from 12345

  EXPECT_EQ(sim.terminate(), 0);
  struct stat st {};
  EXPECT_NE(lstat((dir + "/tks7730-sim-0").c_str(), &st), 0);
  EXPECT_NE(lstat((dir + "/tty").c_str(), &st), 0);
  std::ifstream trace(dir + "/trace");
  std::string t((std::istreambuf_iterator<char>(trace)), {});
  EXPECT_NE(t.find("usb0 cmd I bytes=49 0D"), std::string::npos) << t;
  EXPECT_NE(t.find("usb0 usb start command"), std::string::npos) << t;
  if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
  }  // clean-up only
}

TEST(Program, UsbHangupClosesConnectionsAndTheSensorComesBack) {
  const std::string dir = tempDir();
  SimProcess sim(
      {"--no-pty", "--usb", "1", "--usb-dir", dir, "--fault", "hangup,at=300,for=400,on=usb0"});
  const std::string path = dir + "/tks7730-sim-0";
  ASSERT_EQ(sim.line(), "usb: " + path);
  {
    Host h(path);
    ASSERT_FALSE(h.packet().empty());
    // The unplug: the connection ends (an empty read), no report arrives.
    pollfd p{h.fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 3000), 1);
    uint8_t b[64];
    EXPECT_EQ(recv(h.fd, b, sizeof b, 0), 0);
  }
  EXPECT_EQ(sim.line(3000), "usb: " + path);  // plugged in again
  Host again(path);
  EXPECT_FALSE(again.packet().empty());
  again.sendText("I\r\n");
  EXPECT_TRUE(interrogationAccepted(again.collect("\n")));
  EXPECT_EQ(sim.terminate(), 0);
  if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
  }  // clean-up only
}

// --baud paces the serial output: a reply takes its bytes' time on the line
// and arrives in pieces, as from a real serial port.
TEST(Program, BaudPacesTheSerialOutput) {
  SimProcess sim({"--baud", "1200", "--banner", "0"});
  const int fd = openRawSerial(sim.line());
  ASSERT_GE(fd, 0);
  const auto t0 = Clock::now();
  ASSERT_EQ(::write(fd, "I\r\n", 3), 3);
  std::string reply;
  int pieces = 0;
  while (reply.find('\n') == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    ASSERT_GT(::poll(&p, 1, 10000), 0) << "no reply: " << reply;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ASSERT_GT(n, 0);
    reply.append(buf, static_cast<size_t>(n));
    ++pieces;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  ::close(fd);
  EXPECT_TRUE(interrogationAccepted(reply.substr(0, reply.find('\n') + 1))) << reply;
  // Ten bit times a byte at 1200 baud; a little slack for the first byte.
  EXPECT_GE(seconds, (reply.size() - 1) * 10.0 / 1200 * 0.9) << reply.size() << " bytes";
  EXPECT_GT(pieces, 1);
}

// Streaming at 9600 baud the line runs at its rate, and the sensor's lines
// wait for the line instead of queueing behind it: a reply comes within a
// line or two, however long the stream ran.
TEST(Program, PacedStreamKeepsTheRateAndRepliesComeWithoutBacklog) {
  SimProcess sim({"--baud", "9600", "--banner", "0"});
  const int fd = openRawSerial(sim.line());
  ASSERT_GE(fd, 0);
  auto readFor = [&](std::chrono::milliseconds span, const std::string& until) {
    std::string got;
    const auto end = Clock::now() + span;
    while (Clock::now() < end && (until.empty() || got.find(until) == std::string::npos)) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[512];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
  };
  ASSERT_EQ(::write(fd, "D\r\n", 3), 3);
  readFor(std::chrono::milliseconds(300), "");  // the first line under way
  const std::string stream = readFor(std::chrono::milliseconds(3000), "");
  // 960 bytes a second at 9600 baud 8N1.
  EXPECT_GT(stream.size(), 2880u * 85 / 100);
  EXPECT_LE(stream.size(), 2880u * 105 / 100);
  ASSERT_EQ(::write(fd, "U\r\n", 3), 3);
  const auto t0 = Clock::now();
  const std::string tail = readFor(std::chrono::milliseconds(5000), "U,ACK");
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
  ::close(fd);
  ASSERT_NE(tail.find("U,ACK"), std::string::npos) << tail;
  // At most the line on its way and the reply: about 150 ms.
  EXPECT_LT(took.count(), 1000) << tail.size() << " bytes before the reply";
}

TEST(Program, IdleSimulatorSpendsNoCpu) {
  const std::string dir = tempDir();
  SimProcess sim({"--usb", "1", "--usb-dir", dir});
  ASSERT_FALSE(sim.line().empty());
  ASSERT_FALSE(sim.line().empty());
  Host h(dir + "/tks7730-sim-0");  // an open connection must not make it spin either
  h.packet();
  const long before = sim.cpuTicks();
  pollfd none{-1, 0, 0};
  poll(&none, 1, 1000);
  // A spinning loop would use about 100 ticks in this second.
  EXPECT_LT(sim.cpuTicks() - before, 10);
  EXPECT_EQ(sim.terminate(), 0);
  if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
  }  // clean-up only
}

TEST(Program, BadOptionsExitWithAMessage) {
  SimProcess sim({"--layout", "Q"});
  EXPECT_EQ(sim.line(500), "");
  EXPECT_EQ(sim.wait(), 2);
}
