#include "CApi.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <cstdlib>
#include <string>
#include <termios.h>
#include <unistd.h>
#include "Common/ErrCodes.h"

namespace {

// The sensor's end is the master; the library opens the slave by its path.
struct Pty {
  int master = -1;
  std::string path;
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
    char name[128] = {};
    if (::ptsname_r(master, name, sizeof name) != 0) return;
    path = name;
    termios t{};
    ::tcgetattr(master, &t);
    cfmakeraw(&t);
    ::tcsetattr(master, TCSANOW, &t);
  }
  ~Pty() { ::close(master); }
  std::string readMaster(size_t n, int timeoutMs = 5000) {
    std::string out;
    while (out.size() < n) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) break;
      char buf[256];
      ssize_t k = ::read(master, buf, sizeof buf);
      if (k <= 0) break;
      out.append(buf, static_cast<size_t>(k));
    }
    return out;
  }
};

std::string lastErrText(CApi& c, DeviceHandle h) {
  char16_t t[1024] = {};
  c.comm_translateLastErr(h, c.comm_getLastErr(h), t, 1024, 1);
  std::string out = std::to_string(c.comm_getLastErr(h)) + ": ";
  for (char16_t* p = t; *p; ++p) out += static_cast<char>(*p < 128 ? *p : '?');
  return out;
}

}  // namespace

TEST(CInterfaceSerial, ListenerConnectionOverAPseudoTerminal) {
  CApi c;
  ASSERT_TRUE(c.load()) << ::dlerror();
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  auto name = u16(pty.path);
  const int len = static_cast<int>(name.size());
  EXPECT_EQ(c.comm_isSerialPortAvail(name.c_str(), len), 1);

  DeviceHandle h = 0;
  ASSERT_EQ(c.comm_createSerialPort(&h, name.c_str(), len, 4096, 512, 1), 1);
  ASSERT_EQ(c.comm_openSerialPort(h, 9600, 8, 1, 0, 0), 1) << c.comm_getLastErr(h);
  EXPECT_EQ(c.comm_isSerialPortAvail(name.c_str(), len), 0);  // held by the connection

  unsigned n = 0;
  ASSERT_EQ(c.comm_write(h, "I\r\n", 3, &n, 2000), 1);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(pty.readMaster(3), "I\r\n");

  const std::string reply = "7730,TKS7730 RF power sensor\r\nF,ACK,CAL\r\n";
  ASSERT_EQ(::write(pty.master, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
  char buf[256];
  ASSERT_EQ(c.comm_readLine(h, buf, sizeof buf, &n, 2000), 1) << lastErrText(c, h);
  EXPECT_EQ(std::string(buf, n), "7730,TKS7730 RF power sensor\r\n");
  ASSERT_EQ(c.comm_readLine(h, buf, sizeof buf, &n, 2000), 1);
  EXPECT_EQ(std::string(buf, n), "F,ACK,CAL\r\n");
  EXPECT_EQ(c.comm_readLine(h, buf, sizeof buf, &n, 20), 0);
  char16_t detail[1024] = {};
  c.comm_translateLastErr(h, c.comm_getLastErr(h), detail, 1024, 1);
  EXPECT_EQ(c.comm_getLastErr(h), ErrCode::ReadTimeout)
      << std::string(detail, detail + std::char_traits<char16_t>::length(detail));
  EXPECT_EQ(c.comm_isLastErrSevere(c.comm_getLastErr(h)), 0);

  EXPECT_EQ(c.comm_close(h), 1);
  EXPECT_EQ(c.comm_isSerialPortAvail(name.c_str(), len), 1);
  c.unload();
}

TEST(CInterfaceSerial, DirectConnectionReadsOnTheCallersThread) {
  CApi c;
  ASSERT_TRUE(c.load()) << ::dlerror();
  Pty pty;
  auto name = u16(pty.path);
  DeviceHandle h = 0;
  ASSERT_EQ(c.comm_createSerialPort(&h, name.c_str(), static_cast<int>(name.size()), 1024, 512, 0),
            1);
  ASSERT_EQ(c.comm_openSerialPort(h, 9600, 8, 1, 0, 0), 1) << c.comm_getLastErr(h);
  ASSERT_EQ(::write(pty.master, "S,12345\r\n", 9), 9);
  char buf[64];
  unsigned n = 0;
  ASSERT_EQ(c.comm_read(h, buf, 9, &n, 2000), 1) << c.comm_getLastErr(h);
  EXPECT_EQ(std::string(buf, n), "S,12345\r\n");
  EXPECT_EQ(c.comm_close(h), 1);
  c.unload();
}
