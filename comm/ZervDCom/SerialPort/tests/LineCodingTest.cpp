#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "SerialPort/ParmrkDecoder.h"
#include "SerialPort/SerialPort.h"
#include "SerialPort/TermiosSettings.h"
#include "SerialPort/UucpLock.h"

namespace {

std::vector<uint8_t> decodeAll(ParmrkDecoder& d, std::vector<uint8_t> in) {
  std::vector<uint8_t> out(in.size());
  out.resize(d.decode(in.data(), in.size(), out.data()));
  return out;
}

TEST(ParmrkDecoding, DoubledFFIsDataAndMarksBecomeEvents) {
  ParmrkDecoder d;
  EXPECT_EQ(decodeAll(d, {'a', 0xFF, 0xFF, 'b'}), (std::vector<uint8_t>{'a', 0xFF, 'b'}));
  EXPECT_FALSE(d.hasEvents());
  EXPECT_EQ(decodeAll(d, {'x', 0xFF, 0x00, 0x00, 'y'}), (std::vector<uint8_t>{'x', 'y'}));
  ParmrkDecoder::Events e = d.takeEvents();
  EXPECT_EQ(e.breaks, 1u);
  EXPECT_EQ(e.errorChars, 0u);
  EXPECT_EQ(decodeAll(d, {0xFF, 0x00, 'q', 0xFF, 0x00, 'r', 'z'}), (std::vector<uint8_t>{'z'}));
  e = d.takeEvents();
  EXPECT_EQ(e.breaks, 0u);
  EXPECT_EQ(e.errorChars, 2u);
  EXPECT_FALSE(d.hasEvents());
}

TEST(ParmrkDecoding, AMarkSplitAcrossReadsIsStillOneMark) {
  ParmrkDecoder d;
  EXPECT_EQ(decodeAll(d, {'a', 0xFF}), (std::vector<uint8_t>{'a'}));
  EXPECT_EQ(decodeAll(d, {0x00}), (std::vector<uint8_t>{}));
  EXPECT_EQ(decodeAll(d, {0x00, 'b', 0xFF}), (std::vector<uint8_t>{'b'}));
  EXPECT_EQ(decodeAll(d, {0xFF}), (std::vector<uint8_t>{0xFF}));
  EXPECT_EQ(d.takeEvents().breaks, 1u);
}

// A held-back 0xFF that turns out to be no mark comes out with the next
// chunk: one byte more than that chunk holds, so the caller's room must allow it.
TEST(ParmrkDecoding, AHeldBackFFComesOutWithTheNextSingleByte) {
  ParmrkDecoder d;
  uint8_t out[2] = {0, 0};
  const uint8_t first[] = {0xFF}, second[] = {'x'};
  EXPECT_EQ(d.decode(first, 1, out), 0u);
  ASSERT_EQ(d.decode(second, 1, out), 2u);
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(out[1], 'x');
}

TEST(TermiosMapping, ParityStopBitsFlowAndSize) {
  struct Case {
    LineSettings s;
    tcflag_t cset, cclear, iset, iclear;
  } cases[] = {
      {{9600, 8, 0, 0, 0},
       CS8,
       PARENB | CSTOPB | CRTSCTS,
       INPCK | PARMRK,
       IXON | IXOFF | IGNBRK | BRKINT | ISTRIP},
      {{9600, 7, 1, 0, 0}, CS7 | PARENB | PARODD, CMSPAR | CSTOPB, 0, 0},
      {{9600, 8, 2, 2, 0}, PARENB | CSTOPB, PARODD | CMSPAR, 0, 0},
      {{9600, 8, 3, 1, 0}, PARENB | PARODD | CMSPAR | CSTOPB, 0, 0, 0},
      {{9600, 8, 4, 0, 0}, PARENB | CMSPAR, PARODD | CSTOPB, 0, 0},
      {{9600, 8, 0, 0, 1}, CRTSCTS, 0, 0, IXON | IXOFF},
      {{9600, 8, 0, 0, 2}, 0, CRTSCTS, IXON | IXOFF, 0},
      {{9600, 5, 0, 0, 0}, CS5, 0, 0, 0},
  };
  for (const Case& k : cases) {
    termios t{};
    t.c_iflag = IXON | ICRNL;
    t.c_lflag = ICANON | ECHO;
    ASSERT_TRUE(applyLineSettings(t, k.s));
    EXPECT_EQ(t.c_cflag & k.cset, k.cset) << k.s.parity << k.s.stopBits << k.s.flowControl;
    EXPECT_EQ(t.c_cflag & k.cclear, 0u) << k.s.parity << k.s.stopBits << k.s.flowControl;
    EXPECT_EQ(t.c_iflag & k.iset, k.iset);
    EXPECT_EQ(t.c_iflag & k.iclear, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_iflag & ICRNL, 0u);
  }
}

TEST(TermiosMapping, StandardRatesUseTheirConstantsOthersNeedTheCustomPath) {
  termios t{};
  ASSERT_TRUE(applyLineSettings(t, {115200, 8, 0, 0, 0}));
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_EQ(cfgetispeed(&t), B115200);
  EXPECT_EQ(standardSpeed(9600), B9600);
  EXPECT_EQ(standardSpeed(12345), 0u);
}

TEST(TermiosMapping, AnUnknownFlowCodeLeavesTheFlowBits) {
  termios t{};
  t.c_iflag = IXON;
  t.c_cflag = CRTSCTS;
  EXPECT_FALSE(applyLineSettings(t, {9600, 8, 0, 0, 7}));
  EXPECT_EQ(t.c_iflag & IXON, static_cast<tcflag_t>(IXON));
  EXPECT_EQ(t.c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
}

TEST(PortNames, PathsAsGivenComNamesToTtyS) {
  EXPECT_EQ(SerialPort::devicePathFor(u"/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(SerialPort::devicePathFor(u"COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialPort::devicePathFor(u"COM12"), "/dev/ttyS11");
  EXPECT_EQ(SerialPort::devicePathFor(u"com3"), "/dev/ttyS2");
  EXPECT_EQ(SerialPort::devicePathFor(u"COM0"), "");
  EXPECT_EQ(SerialPort::devicePathFor(u"COM"), "");
  EXPECT_EQ(SerialPort::devicePathFor(u"COM1x"), "");
  EXPECT_EQ(SerialPort::devicePathFor(u""), "");
  EXPECT_EQ(SerialPort::devicePathFor(std::u16string(u"/dev/x\0junk", 11)), "/dev/x");
}

class UucpLockDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zrq-lock-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }  // clean-up only: a failure leaves a scratch folder
  }
  std::string dir_;
};

TEST_F(UucpLockDir, TakesTheLockOnceAndReplacesAStaleOne) {
  bool busy = true;
  std::string path = acquireUucpLock("/dev/pts/9", busy, dir_.c_str());
  EXPECT_FALSE(busy);
  EXPECT_EQ(path, dir_ + "/LCK..pts_9");
  std::ifstream f(path);
  long pid = 0;
  f >> pid;
  EXPECT_EQ(pid, ::getpid());
  EXPECT_EQ(acquireUucpLock("/dev/pts/9", busy, dir_.c_str()), "");
  EXPECT_TRUE(busy);
  releaseUucpLock(path);

  // A lock left by a process that is gone is taken over.
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  {
    std::ofstream stale(dir_ + "/LCK..ttyS0");
    stale << "      " << child << "\n";
  }
  path = acquireUucpLock("/dev/ttyS0", busy, dir_.c_str());
  EXPECT_FALSE(busy);
  EXPECT_EQ(path, dir_ + "/LCK..ttyS0");
  releaseUucpLock(path);
}

TEST_F(UucpLockDir, AnUnwritableFolderMeansNoLock) {
  bool busy = true;
  EXPECT_EQ(acquireUucpLock("/dev/ttyS0", busy, "/nonexistent-zrq-lockdir"), "");
  EXPECT_FALSE(busy);
}

}  // namespace
