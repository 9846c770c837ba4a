#include <gtest/gtest.h>
#include <termios.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "Common/WideText.h"
#include "Eventually.h"
#include "PtyPair.h"
#include "SerialPort/SerialPortDeviceComm.h"
#include "Common/ErrCodes.h"

namespace {

using Clock = std::chrono::steady_clock;

class DirectPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(conn.setup(9600, 8, 1, 0, 0));
    ASSERT_TRUE(conn.open()) << toUtf8(conn.lastErrDetail());
  }
  std::string text(const uint8_t* b, unsigned n) {
    return std::string(reinterpret_cast<const char*>(b), n);
  }
  // The n bytes sent have reached the driver's queue.
  bool queued(int n) {
    return zrq::test::eventually([&] {
      int q = 0;
      return ::ioctl(conn.port()->fd(), FIONREAD, &q) == 0 && q >= n;
    });
  }

  PtyPair pty;
  SerialPortDeviceComm conn{pty.slaveName(), 512, 512};
};

TEST_F(DirectPort, WritesReachThePeerAndAnEmptyWriteCompletesAtOnce) {
  unsigned written = 99;
  EXPECT_TRUE(conn.write(reinterpret_cast<const uint8_t*>("I\r"), 2, &written, 1000));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(pty.receive(2), "I\r");
  EXPECT_TRUE(conn.write(nullptr, 0, &written, 0));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(conn.getLastErr(), ErrCode::NoError);
}

TEST_F(DirectPort, AReadTimeoutReportsNoCountButLeavesTheBytesInTheBuffer) {
  pty.send("ab");
  uint8_t buf[8] = {};
  unsigned got = 99;
  auto t0 = Clock::now();
  EXPECT_FALSE(conn.read(buf, 5, &got, 100));
  auto took = Clock::now() - t0;
  EXPECT_EQ(conn.getLastErr(), ErrCode::ReadTimeout);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(text(buf, 2), "ab");
  EXPECT_GE(took, std::chrono::milliseconds(90));
  EXPECT_LT(took, std::chrono::milliseconds(1000));
}

TEST_F(DirectPort, ReadGathersTheBytesAsTheyArrive) {
  std::thread peer([&] {
    pty.send("12");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pty.send("345");
  });
  uint8_t buf[8] = {};
  unsigned got = 0;
  EXPECT_TRUE(conn.read(buf, 5, &got, 2000));
  peer.join();
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(text(buf, 5), "12345");
}

TEST_F(DirectPort, ReadLineReturnsEverythingThereWhenTheLineFeedCame) {
  pty.send("one\ntwo\n");
  // Both lines are in the driver before the line feed is seen.
  ASSERT_TRUE(queued(8));
  uint8_t buf[64] = {};
  unsigned got = 0;
  ASSERT_TRUE(conn.readLine(buf, 64, &got, 500));
  EXPECT_EQ(text(buf, got), "one\ntwo\n");

  pty.send("part");
  EXPECT_FALSE(conn.readLine(buf, 64, &got, 50));
  EXPECT_EQ(conn.getLastErr(), ErrCode::ReadTimeout);
  EXPECT_EQ(got, 0u);
  pty.send("ial\n");
  ASSERT_TRUE(conn.readLine(buf, 64, &got, 1000));
  EXPECT_EQ(text(buf, got), "partial\n");
}

TEST_F(DirectPort, ReadInBuffTakesWhatIsThereWithoutWaiting) {
  uint8_t buf[16] = {};
  unsigned got = 99;
  EXPECT_TRUE(conn.readInBuff(buf, 16, &got));
  EXPECT_EQ(got, 0u);
  pty.send("xyz");
  ASSERT_TRUE(queued(3));
  EXPECT_TRUE(conn.readInBuff(buf, 2, &got));
  EXPECT_EQ(text(buf, got), "xy");
  EXPECT_TRUE(conn.readInBuff(buf, 16, &got));
  EXPECT_EQ(text(buf, got), "z");
}

TEST_F(DirectPort, PurgeDropsUnreadInput) {
  pty.send("stale");
  ASSERT_TRUE(queued(5));
  EXPECT_TRUE(conn.purge(8 | 4));
  EXPECT_EQ(conn.getLastErr(), ErrCode::NoError);
  uint8_t buf[16];
  unsigned got = 99;
  EXPECT_TRUE(conn.readInBuff(buf, 16, &got));
  EXPECT_EQ(got, 0u);
}

TEST_F(DirectPort, AData0xFFSurvivesTheErrorMarking) {
  pty.send(std::string("\xFF\x00\x00\xFF", 4));
  uint8_t buf[8] = {};
  unsigned got = 0;
  ASSERT_TRUE(conn.read(buf, 4, &got, 1000));
  EXPECT_EQ(std::memcmp(buf, "\xFF\x00\x00\xFF", 4), 0);
}

TEST_F(DirectPort, AHangUpIsAReadFailureNotATimeout) {
  pty.closeMaster();
  uint8_t buf[8];
  unsigned got = 99;
  auto t0 = Clock::now();
  EXPECT_FALSE(conn.read(buf, 4, &got, 5000));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
  EXPECT_EQ(conn.getLastErr(), ErrCode::ReadFailed);
  EXPECT_NE(toUtf8(conn.lastErrDetail()).find("failed. Win32 message: Input/output error"),
            std::string::npos)
      << toUtf8(conn.lastErrDetail());
  EXPECT_FALSE(conn.readLine(buf, 8, &got, 5000));
  EXPECT_EQ(conn.getLastErr(), ErrCode::ReadFailed);
  EXPECT_FALSE(conn.write(buf, 1, &got, 100));
  EXPECT_EQ(conn.getLastErr(), ErrCode::WriteFailed);
}

// The kernel marks line errors only on a real line; with the marking
// switched off on the tty the peer can write the marks itself.
class MarkedStream : public DirectPort {
 protected:
  void SetUp() override {
    DirectPort::SetUp();
    int s = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(s, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(s, &t), 0);
    t.c_iflag &= ~PARMRK;
    ASSERT_EQ(::tcsetattr(s, TCSANOW, &t), 0);
    ::close(s);
  }
};

TEST_F(MarkedStream, ABreakAloneIsCode29) {
  pty.send(std::string("ok\xFF\x00\x00", 5));
  uint8_t buf[8];
  unsigned got = 0;
  EXPECT_FALSE(conn.read(buf, 4, &got, 500));
  EXPECT_EQ(conn.getLastErr(), ErrCode::BreakDetected);
  EXPECT_EQ(toUtf8(conn.lastErrDetail()).rfind("class SerialPortExc:  - location: File: ", 0), 0u)
      << toUtf8(conn.lastErrDetail());
}

TEST_F(MarkedStream, AMarkedCharacterIsCode28WithTheErrorTexts) {
  pty.send(std::string("\xFF\x00\x00\xFF\x00Q\n", 7));
  uint8_t buf[8];
  unsigned got = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(conn.readLine(buf, 8, &got, 500));
  EXPECT_EQ(conn.getLastErr(), ErrCode::HardwareError);
  const std::string d = toUtf8(conn.lastErrDetail());
  EXPECT_EQ(d.rfind("class SerialPortExc: The hardware detected a break condition. "
                    "The hardware detected a framing error. - location: File: ",
                    0),
            0u)
      << d;
  char16_t text[512];
  ASSERT_TRUE(conn.translateLastErr(28, text, 512, true));
  EXPECT_EQ(toUtf8(text).rfind(
                "Hardware communication error detected.class SerialPortExc: The hardware", 0),
            0u);
}

TEST(SerialParity, AMarkedCharacterWithParityOnIsAParityError) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  SerialPortDeviceComm conn(pty.slaveName(), 512, 512);
  ASSERT_TRUE(conn.setup(9600, 8, 3, 0, 0));
  ASSERT_TRUE(conn.open());
  int s = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  ASSERT_EQ(::tcgetattr(s, &t), 0);
  t.c_iflag &= ~PARMRK;
  ASSERT_EQ(::tcsetattr(s, TCSANOW, &t), 0);
  ::close(s);
  pty.send(std::string("\xFF\x00Z", 3));
  uint8_t buf[4];
  unsigned got = 0;
  EXPECT_FALSE(conn.read(buf, 1, &got, 300));
  EXPECT_EQ(conn.getLastErr(), ErrCode::HardwareError);
  EXPECT_NE(toUtf8(conn.lastErrDetail())
                .find("class SerialPortExc:  The hardware detected a parity error. - "),
            std::string::npos)
      << toUtf8(conn.lastErrDetail());
}

}  // namespace

// Input that never brings a line feed: whatever the reader takes out, the
// port's store stays bounded by its queue and the reader's buffer.
TEST_F(DirectPort, ALineFeedThatNeverComesKeepsTheStoreBounded) {
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    const std::string garbage(4096, 'g');
    while (!stop.load()) {
      pollfd p{pty.master(), POLLOUT, 0};
      if (::poll(&p, 1, 20) > 0) [[maybe_unused]]
        ssize_t n = ::write(pty.master(), garbage.data(), garbage.size());
    }
  });
  ::fcntl(pty.master(), F_SETFL, ::fcntl(pty.master(), F_GETFL) | O_NONBLOCK);
  uint8_t buf[64];
  unsigned got = 0;
  size_t taken = 0;
  while (taken < (2u << 20)) {
    if (!conn.readLine(buf, sizeof buf, &got, 5000) || got == 0) break;
    taken += got;
  }
  stop = true;
  feeder.join();
  EXPECT_GE(taken, 2u << 20) << conn.getLastErr();
  EXPECT_LE(conn.port()->rxFootprint(), 2u * 4096u);
}
