// DevComInterface through the real library against the simulator (or, where
// exact bytes must be scripted, against a pseudo-terminal this test plays).
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ComTestLog.h"
#include "E2EFixture.h"
#include "SensorProtocol.h"

namespace zrq::comm::test {
namespace {

using DevCom = CommE2E;

int count(const std::vector<std::string>& v, const std::string& s) {
  return static_cast<int>(std::count(v.begin(), v.end(), s));
}

TEST_F(DevCom, OpenAndCloseShowTheirStatusesAndLines) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0"});
  auto port = openSerial(*sim);
  const std::string p = sim->serialPath() + "--> \t";
  EXPECT_EQ(statsCell(1, *port), "OPEN");
  EXPECT_EQ(statsCell(2, *port), "?");
  EXPECT_EQ(statsCell(3, *port), "0.00%");
  EXPECT_TRUE(memo.contains(p + "Open."));
  EXPECT_TRUE(port->threadRunning());
  port->purge();
  EXPECT_TRUE(memo.contains(p + "Buffers cleared and I/O operations canceled."));
  port->close();
  EXPECT_FALSE(port->isOpen());
  EXPECT_FALSE(port->threadRunning());
  EXPECT_EQ(port->serialNumber(), "?");
  EXPECT_EQ(statsCell(1, *port), "CLOSED");
  EXPECT_TRUE(memo.contains(p + "Closed."));
}

TEST_F(DevCom, CloseOfANeverOpenedPortOnlyForgetsTheSerialNumber) {
  DevComInterface port(PortType::Serial, "COM1", stats.addPortRow("COM1"), &stats, &status, -1);
  EXPECT_EQ(port.serialNumber(), "");
  port.close();
  EXPECT_EQ(port.serialNumber(), "?");
  EXPECT_TRUE(memo.lines().empty());
  EXPECT_EQ(grid.cell(1, port.statsRow()), "CLOSED");  // from addPortRow, unchanged
}

TEST_F(DevCom, BannerRepliesAreResentAndThreeInARowFail) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  {
    auto sim = startSim({"--banner", "2"});
    auto port = openSerial(*sim);
    EXPECT_TRUE(port->sendCommand("I\r\n", 3, 1, "Interrogation"));
    EXPECT_EQ(sim->commandsReceived('I').size(), 3u);
    const std::string reply = "7730,FW version 1.40,Cal,TKS7730 RF power sensor\r\n";
    EXPECT_TRUE(memo.contains(sim->serialPath() + "--> \tInterrogation passed. Resp (" +
                              std::to_string(reply.size()) + ") bytes: " + reply));
  }
  {
    auto sim = startSim({"--banner", "3"});
    auto port = openSerial(*sim);
    EXPECT_EQ(port->sendCommandText("I\r\n", 3, 1, "Interrogation"), "");
    EXPECT_EQ(sim->commandsReceived('I').size(), 3u);
    // The fourth command gets a real reply again.
    EXPECT_TRUE(port->sendCommand("I\r\n", 3, 1, "Interrogation"));
  }
}

// A sensor left streaming by a program that ended without stopping it: on a
// 9600-baud line the purge before a command lands mid-line, and the rest of
// that line arrives ahead of the reply.
TEST_F(DevCom, RepliesBehindAStreamLineStillArrivingAreReadWhole) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0", "--baud", "9600", "--serial-number", "AB-1234"});
  auto port = openSerial(*sim);
  port->startDataStream();
  ASSERT_EQ(sim->lettersWhen("D"), "D");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // lines under way
  for (int i = 0; i < 4; ++i) {
    port->purge();
    EXPECT_EQ(port->sendCommandText("I\r\n", 3, 1, "Interrogation"),
              "7730,FW version 1.40,Cal,TKS7730 RF power sensor\r\n");
  }
  port->purge();
  EXPECT_EQ(port->sendCommandText("F\r\n", 3, 1, "Calibration assertion"), "F,ACK,CAL\r\n");
  port->close();  // forgets the serial number: the next open asks again
  ZervDComDLL::DeviceHandle h = 0;
  ASSERT_EQ(ZervDComDLL::createSerialPort(&h, toWide(sim->serialPath()).c_str(), 1024, 1024, 1), 1);
  port->open(h);
  port->purge();
  EXPECT_TRUE(port->readSerialNumber());
  EXPECT_EQ(port->serialNumber(), "AB-1234");
}

TEST_F(DevCom, StopStreamAndSerialNumberExchanges) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0", "--serial-number", "AB-1234"});
  auto port = openSerial(*sim);
  // The stored number is still empty (never closed): nothing is sent.
  EXPECT_FALSE(port->readSerialNumber());
  EXPECT_TRUE(sim->commandsReceived('S').empty());
  port->close();
  ZervDComDLL::DeviceHandle h = 0;
  const std::u16string name = toWide(sim->serialPath());
  ASSERT_EQ(ZervDComDLL::createSerialPort(&h, name.c_str(), 1024, 1024, 1), 1);
  port->open(h);
  port->startDataStream();
  EXPECT_TRUE(port->stopDataStream());
  port->purge();
  EXPECT_TRUE(port->readSerialNumber());
  EXPECT_EQ(port->serialNumber(), "AB-1234");
  EXPECT_EQ(statsCell(2, *port), "AB-1234");
  const std::string p = sim->serialPath() + "--> \t";
  EXPECT_TRUE(memo.contains(p + "Reading the sensor's serial number..."));
  EXPECT_TRUE(memo.contains(p + "Received SN:AB-1234"));
  EXPECT_EQ(sim->commandsReceived('S'), std::vector<std::string>{"S"});
  EXPECT_FALSE(port->readSerialNumber());  // known now: not asked again
}

TEST_F(DevCom, DataLineReadKeepsTheFirstCompleteLine) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0", "--interval", "20", "--fault", "garbage,every=1"});
  auto port = openSerial(*sim);
  port->startDataStream();
  // A fetch purges both directions: D must have left before the first one.
  ASSERT_EQ(sim->lettersWhen("D"), "D");
  std::string line;
  int fetches = 0, malformed = 0;
  // A junk line holding a 'D' yields its tail: the reader keeps whatever
  // follows the first D, and such a tail may even start with a comma, so only
  // the whole string counts (the sensor's 117 characters and their CR). A
  // fetch never holds more than one line.
  // Fetches come at the panel's pace: a fetch purges, so back-to-back fetches
  // on a 9600-baud line would never see a whole line arrive.
  ASSERT_TRUE(eventually(
      [&] {
        if (fetches > 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        line = port->readDataLine();
        ++fetches;
        const auto cr = line.find('\r');
        if (cr != std::string::npos && cr != line.size() - 1) ++malformed;
        return line.size() == 118u && line[0] == ',' && line.back() == '\r';
      },
      20000))
      << fetches << " fetches, last: " << line;
  EXPECT_EQ(malformed, 0);
}

// Exact bytes, played on a pseudo-terminal of our own.
class ScriptedPty {
 public:
  ScriptedPty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    termios t{};
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    path_ = ptsname(master_);
  }
  ~ScriptedPty() {
    if (master_ >= 0) ::close(master_);
  }
  const std::string& path() const { return path_; }
  void send(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

 private:
  int master_ = -1;
  std::string path_;
};

TEST_F(DevCom, DataLineSkipsToTheFirstDAndPurgesTheRest) {
  ZRQ_REQUIRE_LIBRARY();
  ScriptedPty pty;
  ASSERT_FALSE(pty.path().empty());
  auto port = openSerial(pty.path());
  ASSERT_TRUE(port->isOpen());
  // One write: the marker line tells when the library has taken the chunk in.
  pty.send("M\nxxD,12\rD,34\r");
  char marker[16] = {};
  unsigned n = 0;
  ASSERT_TRUE(port->readLine(marker, 15, &n));
  ASSERT_EQ(std::string(marker, n), "M\n");
  EXPECT_EQ(port->readDataLine(), ",12\r");
  // The line was there: one library call took it in, no byte-by-byte reads.
  EXPECT_EQ(port->lastFetchCalls(), 1);
  EXPECT_EQ(port->readDataLine(), "");  // the second line was purged
  // Nothing there: one look per phase, not one per attempt.
  EXPECT_EQ(port->lastFetchCalls(), 2);
  port->close();
}

// A reply may come behind data lines a streaming sensor still sends: two more
// on a busy 9600-baud line (together more than a reply-sized buffer), or,
// after a stop that went unanswered, more than any reply buffer holds.
TEST_F(DevCom, RepliesBehindStreamLinesAreStillRead) {
  ZRQ_REQUIRE_LIBRARY();
  const std::string data = "D" + std::string(115, ',') + "\r";
  std::string buffered;
  for (int i = 0; i < 12; ++i) buffered += data;
  const struct {
    const char* what;
    std::string ahead, command, reply;
  } cases[] = {
      {"two and a bit lines", data.substr(60) + data + data, "I\r\n",
       "7730,FW version 1.40,Cal,TKS7730 RF power sensor\r\n"},
      {"a buffer of lines ahead of a stop's reply", buffered, "U\r\n", "U,ACK,STOPPED\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPty pty;
    ASSERT_FALSE(pty.path().empty());
    auto port = openSerial(pty.path());
    ASSERT_TRUE(port->isOpen());
    pty.send(c.ahead + c.reply);
    EXPECT_EQ(
        port->sendCommandText(c.command.data(), static_cast<unsigned>(c.command.size()), 1, c.what),
        c.reply);
    port->close();
  }
}

TEST_F(DevCom, InitRunsTheTestSequenceOnce) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({});
  auto port = openSerial(*sim);
  port->contReadStep();  // before init: nothing happens
  EXPECT_TRUE(sim->commandsReceived('T').empty());
  port->init();
  EXPECT_TRUE(port->initPassed());
  EXPECT_EQ(statsCell(1, *port), "INIT");
  const std::string p = sim->serialPath() + "--> \t";
  auto lines = memo.lines();
  int at = 0;
  for (const char* expected :
       {"Initializing the 7730...", "Interrogating the sensor...", "Checking calibration status...",
        "Setting default filter and measurement type...", "Initialization complete."}) {
    at = memo.find(p + expected, at);
    EXPECT_GE(at, 0) << expected;
  }
  const auto g = sim->commandsReceived('G');
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0], protocol::defaultSettingsCommand());
  port->init();
  EXPECT_TRUE(memo.contains(p + "Sensor already initialized."));
  EXPECT_EQ(sim->commandsReceived('I').size(), 2u);  // banner + real reply, once

  port->contReadStep();
  EXPECT_EQ(port->totalReads(), 1u);
  EXPECT_EQ(statsCell(3, *port), "100.00%");
  EXPECT_EQ(statsCell(4, *port), "1");
  EXPECT_EQ(statsCell(5, *port), "0");
}

TEST_F(DevCom, ContinuousReadingRunsOnItsThreadAndStopsOnClose) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  // A file of its own: tests running beside it open the shared log afresh.
  const std::string logPath = (std::filesystem::temp_directory_path() /
                               ("zrq-contrd-" + std::to_string(::getpid()) + ".log"))
                                  .string();
  ASSERT_TRUE(ComTestLog::open(logPath));
  auto sim = startSim({});
  auto port = openSerial(*sim);
  port->setContRd(true);  // before init: the thread waits for it
  port->setLogRd(true);
  port->init();
  ASSERT_TRUE(eventually([&] { return port->totalReads() >= 3; }));
  EXPECT_EQ(statsCell(1, *port), "CONT RD");
  port->setContRd(false);
  EXPECT_EQ(statsCell(1, *port), "INIT");
  port->close();
  EXPECT_FALSE(port->threadRunning());
  EXPECT_EQ(statsCell(1, *port), "CLOSED");
  ComTestLog::close();
  std::ifstream in(logPath);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_NE(s.str().find(sim->serialPath() + "--> \tRd(1) ["), std::string::npos);
  EXPECT_NE(s.str().find(sim->serialPath() + "--> \tOpen.\n"), std::string::npos);
  std::remove(logPath.c_str());
}

TEST_F(DevCom, ContinuousReadingIsPacedToTheSensorsLineRate) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({});
  auto port = openSerial(*sim);
  port->init();
  port->setContRd(true);
  ASSERT_TRUE(eventually([&] { return port->totalReads() >= 1; }));
  const auto t0 = std::chrono::steady_clock::now();
  const long before = port->totalReads();
  ASSERT_TRUE(eventually([&] { return port->totalReads() >= before + 8; }, 10000));
  const long reads = port->totalReads() - before;
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  port->setContRd(false);
  port->close();
  // One read per 100 ms at most (an unpaced fast link answers thousands).
  EXPECT_LE(reads, ms / DevComInterface::kContReadPeriodMs + 2) << reads << " in " << ms;
}

TEST_F(DevCom, CloseWakesAThreadWaitingForTheInitialisation) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0"});
  auto port = openSerial(*sim);
  port->setContRd(true);  // the thread now waits for init, which never comes
  port->close();          // must wake and join it, never hang
  EXPECT_FALSE(port->threadRunning());
  EXPECT_FALSE(port->contRd());
  EXPECT_TRUE(sim->commandsReceived('T').empty());
  // Reopened, the new thread waits again instead of running on an old wake-up.
  ZervDComDLL::DeviceHandle h = 0;
  const std::u16string name = toWide(sim->serialPath());
  ASSERT_EQ(ZervDComDLL::createSerialPort(&h, name.c_str(), 1024, 1024, 1), 1);
  port->open(h);
  EXPECT_TRUE(port->threadRunning());
  EXPECT_EQ(statsCell(1, *port), "OPEN");
  port->close();
}

TEST_F(DevCom, ThreeFailedReadsMarkACommunicationErrorUntilPurged) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--fault", "silence,cmd=T,every=1,for=1"});
  auto port = openSerial(*sim);
  port->init();
  port->contReadStep();
  EXPECT_TRUE(port->commErr());
  EXPECT_EQ(port->totalFails(), 3u);
  EXPECT_EQ(statsCell(1, *port), "COM ERR");
  const std::string p = sim->serialPath() + "--> \t";
  int attempts = 0;
  for (const auto& l : memo.lines())
    if (l.rfind(p + "Read attempt ", 0) == 0 &&
        l.find(" -- (0) bytes in the failed response: ") != std::string::npos)
      ++attempts;
  EXPECT_EQ(attempts, 3);
  port->purge();
  EXPECT_FALSE(port->commErr());
}

TEST_F(DevCom, LibraryFailuresAreReportedWithTheLibrarysText) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0"});
  auto port = openSerial(*sim);
  const std::string p = sim->serialPath() + "--> \t";
  // Nothing was asked: the line read times out.
  char buf[64];
  unsigned n = 0;
  EXPECT_FALSE(port->readLine(buf, 63, &n));
  bool found = false;
  for (const auto& l : memo.lines())
    found |= l.rfind(p + "readLine() failed!Error msg and debug info:", 0) == 0 &&
             l.size() > (p + "readLine() failed!Error msg and debug info:").size();
  EXPECT_TRUE(found);
  // The handle is gone behind the interface's back: the library knows nothing.
  ASSERT_EQ(ZervDComDLL::close(port->handle()), 1);
  port->purge();
  EXPECT_TRUE(memo.contains(p + "purge() failed!Unable to translate error!"));
  port->close();
}

TEST_F(DevCom, WritesOnAClosedPortNameTheMissingHandle) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  DevComInterface port(PortType::Serial, "COM9", stats.addPortRow("COM9"), &stats, &status, -1);
  port.write("I\r\n", 3);
  EXPECT_TRUE(memo.contains("COM9--> \twrite() failed!INVALID_DEV_COMM_HANDLE"));
  EXPECT_EQ(port.readDataLine(), "");
  EXPECT_EQ(count(memo.lines(), "COM9--> \treadInBuff()) failed!INVALID_DEV_COMM_HANDLE"), 2);
}

TEST_F(DevCom, UsbPortWithoutDeviceIndexStaysClosed) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0"});
  DevComInterface port(PortType::USB, "7730USB1", stats.addPortRow("7730USB1"), &stats, &status,
                       -1);
  ZervDComDLL::DeviceHandle h = 0;
  const std::u16string name = toWide(sim->serialPath());
  ASSERT_EQ(ZervDComDLL::createSerialPort(&h, name.c_str(), 1024, 1024, 1), 1);
  port.open(h);
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(grid.cell(1, port.statsRow()), "ERROR");
  EXPECT_TRUE(memo.contains("7730USB1--> \tCannot open - invalid device info index!"));
  // The handle was given back: the library no longer knows it.
  EXPECT_EQ(ZervDComDLL::getLastErr(h), 0);
  EXPECT_EQ(ZervDComDLL::close(h), 0);
}

}  // namespace
}  // namespace zrq::comm::test
