#include <gtest/gtest.h>

#include "Eventually.h"
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "Common/Assertion.h"
#include "Common/WideText.h"
#include "PtyPair.h"
#include "SerialPort/SerialPortListenerDeviceComm.h"
#include "Common/ErrCodes.h"

namespace {

using Clock = std::chrono::steady_clock;

// Clears PARMRK on the port so the peer can write the error marks itself.
bool peerWritesTheMarks(const std::string& slavePath) {
  const int s = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  if (s < 0) return false;
  termios t{};
  const bool ok =
      ::tcgetattr(s, &t) == 0 && ((t.c_iflag &= ~PARMRK), ::tcsetattr(s, TCSANOW, &t) == 0);
  ::close(s);
  return ok;
}

class ListenerPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(conn.setup(9600, 8, 1, 0, 0));
    ASSERT_TRUE(conn.open()) << toUtf8(conn.lastErrDetail());
  }
  bool waitBuffered(unsigned n) {
    return zrq::test::eventually([&] { return conn.dataBuf()->count() >= n; });
  }
  static std::string text(const uint8_t* b, unsigned n) {
    return std::string(reinterpret_cast<const char*>(b), n);
  }
  // Closes the port, which must end at once: a wait that ignored its wake-up
  // would overrun the grace time and raise an assertion; the bound only
  // catches a hang.
  void expectCloseAtOnce() {
    std::string caption;
    AssertionHandler old =
        setAssertionHandler([&](const std::string& cap, const std::string&) { caption = cap; });
    auto t0 = Clock::now();
    EXPECT_TRUE(conn.close());
    setAssertionHandler(old);
    EXPECT_TRUE(caption.empty()) << caption;
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
  }

  PtyPair pty;
  SerialPortListenerDeviceComm conn{pty.slaveName(), 256, 512};
};

TEST_F(ListenerPort, ATimeoutReportsThePartialCount) {
  pty.send("ab");
  ASSERT_TRUE(waitBuffered(2));
  uint8_t buf[8] = {};
  unsigned got = 0;
  auto t0 = Clock::now();
  EXPECT_FALSE(conn.read(buf, 5, &got, 100));
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(90));
  EXPECT_EQ(conn.getLastErr(), ErrCode::ReadTimeout);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(text(buf, 2), "ab");
}

TEST_F(ListenerPort, LinesArriveWholeAndOneAtATime) {
  std::thread peer([&] {
    pty.send("D 1 2 3");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pty.send("\r\nD 4\r\n");
  });
  uint8_t buf[64];
  unsigned got = 0;
  ASSERT_TRUE(conn.readLine(buf, 64, &got, 2000));
  EXPECT_EQ(text(buf, got), "D 1 2 3\r\n");
  ASSERT_TRUE(conn.readLine(buf, 64, &got, 2000));
  EXPECT_EQ(text(buf, got), "D 4\r\n");
  peer.join();
}

TEST_F(ListenerPort, ALineLongerThanTheBufferIsCode10AndStaysBuffered) {
  pty.send("abcd\n");
  ASSERT_TRUE(waitBuffered(5));
  uint8_t buf[8];
  unsigned got = 99;
  EXPECT_FALSE(conn.readLine(buf, 5, &got, 100));
  EXPECT_EQ(conn.getLastErr(), ErrCode::InvalidDataBuffer);
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(conn.readLine(buf, 8, &got, 100));
  EXPECT_EQ(text(buf, got), "abcd\n");
}

TEST_F(ListenerPort, AFullBufferKeepsTheNewestBytes) {
  std::string big(300, 'x');
  for (int i = 0; i < 300; ++i) big[i] = static_cast<char>('a' + i % 26);
  big.back() = '!';  // seen in the buffer only once every byte before it went through
  pty.send(big);
  ASSERT_TRUE(zrq::test::eventually([&] { return conn.dataBuf()->find('!', 0, -1) != kNotFound; }));
  uint8_t buf[300];
  unsigned got = 0;
  ASSERT_TRUE(conn.readInBuff(buf, 300, &got));
  ASSERT_EQ(got, 256u);
  EXPECT_EQ(text(buf, got), big.substr(44));
}

TEST_F(ListenerPort, PurgeDropsBufferedBytes) {
  pty.send("old data");
  ASSERT_TRUE(waitBuffered(8));
  EXPECT_TRUE(conn.purge(15));
  EXPECT_EQ(conn.getLastErr(), ErrCode::NoError);
  pty.send("new\n");
  uint8_t buf[16];
  unsigned got = 0;
  ASSERT_TRUE(conn.readLine(buf, 16, &got, 1000));
  EXPECT_EQ(text(buf, got), "new\n");
}

TEST_F(ListenerPort, WritesGoOutWhileTheListenerWaits) {
  unsigned written = 0;
  EXPECT_TRUE(conn.write(reinterpret_cast<const uint8_t*>("S\r"), 2, &written, 1000));
  EXPECT_EQ(pty.receive(2), "S\r");
  EXPECT_EQ(written, 2u);
}

TEST_F(ListenerPort, ClosingWhileTheListenerIsBlockedReturnsAtOnce) {
  // The listener is up once it has an id; it then blocks in the port wait.
  zrq::test::eventually([&] { return conn.helperThread()->threadId() != 0; });
  ASSERT_NE(conn.helperThread()->threadId(), 0);
  expectCloseAtOnce();
  EXPECT_EQ(conn.helperThread(), nullptr);
  uint8_t buf[4];
  unsigned got = 9;
  EXPECT_FALSE(conn.readInBuff(buf, 4, &got));
  EXPECT_EQ(conn.getLastErr(), ErrCode::ThreadNotStarted);
}

TEST_F(ListenerPort, AHangUpIsReportedAsAReadFailureAndTheThreadIdles) {
  pty.send("last\n");
  ASSERT_TRUE(waitBuffered(5));
  pty.closeMaster();
  uint8_t buf[32];
  unsigned got = 0;
  // What arrived before the hang-up is still delivered.
  ASSERT_TRUE(conn.readLine(buf, 32, &got, 1000));
  EXPECT_EQ(text(buf, got), "last\n");
  auto t0 = Clock::now();
  EXPECT_FALSE(conn.readLine(buf, 32, &got, kInfiniteMs));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(10));
  EXPECT_EQ(conn.getLastErr(), ErrCode::ReadFailed);
  EXPECT_EQ(toUtf8(conn.lastErrDetail()).rfind("class SerialPortWin32Exc: ::ReadFile() failed.", 0),
            0u);

  // The restarted step meets the hang-up again and parks: it does not spin.
  zrq::test::eventually([&] { return conn.helperThread()->status() != 1; }, 2000);
  EXPECT_EQ(conn.helperThread()->status(), ErrCode::ReadFailed);
  timespec c0{}, c1{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
  double cpuMs = (c1.tv_sec - c0.tv_sec) * 1e3 + (c1.tv_nsec - c0.tv_nsec) / 1e6;
  EXPECT_LT(cpuMs, 50.0);
  EXPECT_FALSE(conn.readInBuff(buf, 32, &got));
  EXPECT_EQ(conn.getLastErr(), ErrCode::ReadFailed);
  EXPECT_EQ(got, 0u);
  auto t1 = Clock::now();
  EXPECT_TRUE(conn.close());
  EXPECT_LT(Clock::now() - t1, std::chrono::seconds(5));
}

TEST_F(ListenerPort, ALineErrorReachesTheCallerAsCode28) {
  ASSERT_TRUE(peerWritesTheMarks(pty.slavePath()));
  pty.send(std::string("ab\xFF\x00Xcd\n", 8));
  uint8_t buf[32];
  unsigned got = 0;
  bool ok = conn.readLine(buf, 32, &got, 1000);
  if (ok) ok = conn.readLine(buf, 32, &got, 200);  // the line may have been taken first
  EXPECT_FALSE(ok);
  EXPECT_EQ(conn.getLastErr(), ErrCode::HardwareError);
  EXPECT_EQ(toUtf8(conn.lastErrDetail())
                .rfind("class SerialPortExc:  The hardware detected a framing error.", 0),
            0u)
      << toUtf8(conn.lastErrDetail());
}

TEST(ListenerBatching, ThePauseLetsTheKernelQueueFillAtMostHalfway) {
  auto at = [](int baud, int bits, int parity, int stop) {
    LineSettings s;
    s.baudRate = baud;
    s.byteSize = bits;
    s.parity = parity;
    s.stopBits = stop;
    return SerialPortListenerDeviceComm::batchIntervalMs(s);
  };
  // 4096 bytes of 10 bits take 44.4 ms at 921600 baud.
  EXPECT_EQ(at(921600, 8, 0, 0), 22);
  EXPECT_EQ(at(460800, 8, 0, 0), 44);
  // Parity and a second stop bit make each byte longer: 12 bits.
  EXPECT_EQ(at(921600, 8, 2, 2), 26);
  // One and a half stop bits count as one (the shorter frame is the safe side).
  EXPECT_EQ(at(921600, 8, 0, 1), 22);
  // Slow lines pause for the ceiling; very fast ones still for a millisecond.
  EXPECT_EQ(at(9600, 8, 0, 0), SerialPortListenerDeviceComm::kMaxBatchMs);
  EXPECT_EQ(at(57600, 8, 0, 0), SerialPortListenerDeviceComm::kMaxBatchMs);
  EXPECT_EQ(at(100000000, 5, 0, 0), 1);
  EXPECT_EQ(at(0, 8, 0, 0), 1);
  for (int baud : {50, 1200, 9600, 57600, 230400, 500000, 921600, 1000000, 3000000, 4000000}) {
    for (int bits = 5; bits <= 8; ++bits) {
      const double fillMs =
          1000.0 * SerialPortListenerDeviceComm::kKernelQueueBytes * (bits + 2) / baud;
      const int ms = at(baud, bits, 0, 0);
      EXPECT_LE(ms, std::max(1.0, fillMs / 2)) << baud << " baud, " << bits << " bits";
      EXPECT_GE(ms, 1);
    }
  }
}

// The listener in a long pause (a stream was running): callers must not
// notice it, and close must not wait for it.
class ListenerPause : public ListenerPort {
 protected:
  static constexpr int kPauseMs = 30000;

  void SetUp() override {
    ListenerPort::SetUp();
    if (HasFatalFailure()) return;
    EXPECT_EQ(conn.batchMs(), SerialPortListenerDeviceComm::kMaxBatchMs);  // 9600 baud
    conn.overrideBatchMs(kPauseMs);
    // Two lines in quick succession make a running stream: after moving one
    // of them the listener pauses.
    pty.send("a\n");
    ASSERT_TRUE(waitBuffered(2));
    pty.send("b\n");
    zrq::test::eventually([&] { return conn.dataBuf()->count() >= 4; }, 200);
    uint8_t buf[16];
    unsigned got = 0;
    // A look that does not wait takes what the port holds itself.
    for (int i = 0; i < 2000 && got < 4; ++i) {
      unsigned n = 0;
      ASSERT_TRUE(conn.readInBuff(buf + got, sizeof buf - got, &n));
      got += n;
      if (got < 4) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(text(buf, got), "a\nb\n");
  }
};

TEST_F(ListenerPause, NobodyWaitingLetsTheStreamGatherInTheKernel) {
  pty.send("e\n");
  // Not a timing bound: the pause is 30 s long, the look comes after 0.3 s.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(conn.dataBuf()->count(), 0u);
  uint8_t buf[8];
  unsigned got = 0;
  ASSERT_TRUE(conn.readLine(buf, 8, &got, 2000));
  EXPECT_EQ(text(buf, got), "e\n");
}

TEST_F(ListenerPause, AWaitingReaderIsServedAtOnce) {
  std::thread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.send("f\n");
  });
  uint8_t buf[8];
  unsigned got = 0;
  auto t0 = Clock::now();
  EXPECT_TRUE(conn.readLine(buf, 8, &got, 10000));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(text(buf, got), "f\n");
  peer.join();
  // A byte count too.
  pty.send("xyz");
  t0 = Clock::now();
  EXPECT_TRUE(conn.read(buf, 3, &got, 10000));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(text(buf, got), "xyz");
}

TEST_F(ListenerPause, ALookWithoutWaitingSeesWhatArrived) {
  pty.send("g\n");
  uint8_t buf[8];
  unsigned got = 0;
  // readLine without a time-out finds the line as soon as the kernel has it.
  bool ok = false;
  for (int i = 0; i < 2000 && !ok; ++i) {
    ok = conn.readLine(buf, 8, &got, 0);
    if (!ok) {
      EXPECT_EQ(conn.getLastErr(), ErrCode::ReadTimeout);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ASSERT_TRUE(ok);
  EXPECT_EQ(text(buf, got), "g\n");
}

TEST_F(ListenerPause, ALineErrorReachesAWaitingCaller) {
  ASSERT_TRUE(peerWritesTheMarks(pty.slavePath()));
  pty.send(std::string("ab\xFF\x00Xcd\n", 8));
  uint8_t buf[32];
  unsigned got = 0;
  auto t0 = Clock::now();
  bool ok = conn.readLine(buf, 32, &got, 10000);
  if (ok) ok = conn.readLine(buf, 32, &got, 10000);  // the line may have been taken first
  EXPECT_FALSE(ok);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(8));
  EXPECT_EQ(conn.getLastErr(), ErrCode::HardwareError);
}

TEST_F(ListenerPause, AHangUpEndsThePauseWithoutACaller) {
  pty.closeMaster();
  // The listener notices by itself, long before its 30 s pause is over, so
  // the next look (which does not wait for it) reports the failure.
  zrq::test::eventually([&] { return conn.helperThread()->status() != ErrCode::NoError; });
  EXPECT_EQ(conn.helperThread()->status(), ErrCode::ReadFailed);
  uint8_t buf[8];
  unsigned got = 9;
  EXPECT_FALSE(conn.readInBuff(buf, 8, &got));
  EXPECT_EQ(conn.getLastErr(), ErrCode::ReadFailed);
  EXPECT_EQ(got, 0u);
}

TEST_F(ListenerPause, CloseEndsThePauseAtOnce) {
  expectCloseAtOnce();  // a pause that ignored it would hold close for 30 s
}

TEST_F(ListenerPause, PurgeEndsThePauseAndNothingOldComesBack) {
  pty.send("old\n");
  // The bytes wait in the kernel, where the pausing listener left them.
  int queued = 0;
  for (int i = 0; i < 2000 && queued < 4; ++i) {
    ASSERT_EQ(::ioctl(conn.port()->fd(), FIONREAD, &queued), 0);
    if (queued < 4) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(queued, 4);
  EXPECT_EQ(conn.dataBuf()->count(), 0u);
  EXPECT_TRUE(conn.purge(15));
  pty.send("new\n");
  uint8_t buf[8];
  unsigned got = 0;
  ASSERT_TRUE(conn.readLine(buf, 8, &got, 2000));
  EXPECT_EQ(text(buf, got), "new\n");
}

TEST(ListenerOpen, OpenTwiceFailsWith4AndKeepsListening) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  SerialPortListenerDeviceComm conn(pty.slaveName(), 64, 64);
  EXPECT_FALSE(conn.open());
  EXPECT_EQ(conn.getLastErr(), ErrCode::NotInitialized);
  ASSERT_TRUE(conn.setup(9600, 8, 1, 0, 0));
  ASSERT_TRUE(conn.open());
  EXPECT_FALSE(conn.open());
  EXPECT_EQ(conn.getLastErr(), ErrCode::AlreadyOpened);
  pty.send("x\n");
  uint8_t buf[8];
  unsigned got = 0;
  EXPECT_TRUE(conn.readLine(buf, 8, &got, 1000));
  EXPECT_EQ(got, 2u);
}

}  // namespace
