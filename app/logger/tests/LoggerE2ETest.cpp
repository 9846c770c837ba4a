// zrq-log end to end: the real program from bin/, the real library and a
// fresh tks7730-sim per test; every log is read back with Python's csv module.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "Eventually.h"
#include "LogRun.h"
#include "SimHarness.h"

namespace zrq::logger::test {
namespace {

namespace fs = std::filesystem;
using comm::test::SimProcess;
using Clock = std::chrono::steady_clock;
using ::zrq::test::eventually;

std::uintmax_t sizeOf(const fs::path& p) {
  std::error_code ec;
  const auto n = fs::file_size(p, ec);
  return ec ? 0 : n;
}

class LoggerE2E : public ::testing::Test {
 public:
  void SetUp() override {
    ZRQ_REQUIRE_LIBRARY();
    ZRQ_REQUIRE_SIMULATOR();
    ZRQ_REQUIRE_PART(fs::exists(comm::test::binDir() + "/zrq-log"), "zrq-log");
    dir = fs::temp_directory_path() /
          ("zrq-logger-e2e-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    usbDir = dir / "usb";
    fs::create_directories(usbDir);
  }
  void TearDown() override {
    sim.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  void startSim(std::vector<std::string> extra = {}) {
    std::vector<std::string> o{"--banner", "0",       "--interval", "100",          "--drift",
                               "0",        "--noise", "0",          "--power",      "20",
                               "--usb",    "1",       "--usb-dir",  usbDir.string()};
    o.insert(o.end(), extra.begin(), extra.end());
    sim = std::make_unique<SimProcess>(o);
    ASSERT_TRUE(sim->ok()) << sim->error();
  }

  std::unique_ptr<Child> log(std::vector<std::string> args) {
    return std::make_unique<Child>(
        "zrq-log", args,
        std::vector<std::string>{"ZERVDCOM_HID_SIM_DIR=" + usbDir.string(),
                                 "ZRQ_SERIAL_PORTS=" + sim->serialPath()});
  }

  fs::path dir, usbDir;
  std::unique_ptr<SimProcess> sim;
};

// Sample time 1 s: the first record about half a second after the file is
// opened, the next ones a second apart; a second run appends without headers.
void sampleTimeRun(LoggerE2E& t, const std::string& port, const fs::path& file) {
  auto first = t.log({"--port", port, "--out", file.string(), "--records", "3"});
  ASSERT_TRUE(first->started());
  // The header lines appear when logging starts.
  ASSERT_TRUE(eventually([&] { return lineCount(file) >= 2; }, 15000)) << first->errors();
  const auto opened = Clock::now();
  ASSERT_TRUE(eventually([&] { return lineCount(file) >= 3; }, 5000));
  const auto firstMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - opened).count();
  EXPECT_LT(firstMs, 1500) << "first record after " << firstMs << " ms";
  ASSERT_EQ(first->wait(15000), 0) << first->errors();

  ReadBack r = readLog(file.string(), true);
  ASSERT_TRUE(r.ok) << r.why;
  ASSERT_EQ(r.records.size(), 3u);
  for (std::size_t i = 1; i < r.records.size(); ++i) {
    const int gap = secondsOfDay(r.records[i][1]) - secondsOfDay(r.records[i - 1][1]);
    EXPECT_GE(gap, 0);
    EXPECT_LE(gap, 2) << r.records[i - 1][1] << " then " << r.records[i][1];
  }
  for (const auto& rec : r.records) {
    EXPECT_EQ(rec[7], "20.000000");  // forward W, steady
    EXPECT_EQ(rec[4], "0");          // offset
    EXPECT_EQ(rec[6], "4.5 KHz");
    EXPECT_EQ(rec[20], "NA");
    EXPECT_FALSE(rec[2].empty());  // the serial number read at connect
  }

  auto second = t.log({"--port", port, "--out", file.string(), "--records", "2"});
  ASSERT_EQ(second->wait(20000), 0) << second->errors();
  r = readLog(file.string(), true);  // fails on a repeated header line
  ASSERT_TRUE(r.ok) << r.why;
  EXPECT_EQ(r.records.size(), 5u);
}

TEST_F(LoggerE2E, SerialRecordsOneSampleTimeApartAndAppendsWithoutHeaders) {
  startSim();
  sampleTimeRun(*this, sim->serialPath(), dir / "serial.csv");
}

TEST_F(LoggerE2E, UsbRecordsOneSampleTimeApartAndAppendsWithoutHeaders) {
  startSim();
  sampleTimeRun(*this, "7730USB1", dir / "usb.csv");
}

TEST_F(LoggerE2E, APowerExcursionPastTheLimitGivesExactlyTheFirstAndLastRecords) {
  const fs::path script = dir / "power.txt";
  std::ofstream(script) << "0 20\n2500 120\n4500 20\n";
  startSim({"--power-script", script.string()});
  const fs::path file = dir / "event.csv";
  auto run = log({"--port", sim->serialPath(), "--out", file.string(), "--event",
                  "first-last-above", "--limit", "100", "--seconds", "7"});
  ASSERT_EQ(run->wait(30000), 0) << run->errors();
  const ReadBack r = readLog(file.string(), true);
  ASSERT_TRUE(r.ok) << r.why;
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[0][7], "120.000000");  // the first value past the limit
  EXPECT_EQ(r.records[1][7], "20.000000");   // the first value back

  // Sample time while above: only the seconds spent above 100 W are logged.
  const fs::path above = dir / "above.csv";
  auto run2 = log({"--port", sim->serialPath(), "--out", above.string(), "--event", "above",
                   "--limit", "50", "--seconds", "5"});
  ASSERT_EQ(run2->wait(30000), 0) << run2->errors();
  const ReadBack r2 = readLog(above.string(), true);
  ASSERT_TRUE(r2.ok) << r2.why;
  for (const auto& rec : r2.records) EXPECT_EQ(rec[7], "120.000000");
}

TEST_F(LoggerE2E, SigintSigtermAndSighupEndTheRunWithTheFileWhole) {
  startSim();
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const fs::path file = dir / ("signal" + std::to_string(sig) + ".csv");
    auto run = log({"--port", sim->serialPath(), "--out", file.string()});
    ASSERT_TRUE(eventually([&] { return lineCount(file) >= 3; }, 15000)) << run->errors();
    run->signal(sig);
    EXPECT_EQ(run->wait(5000), 0) << run->errors();
    const ReadBack r = readLog(file.string(), true);
    ASSERT_TRUE(r.ok) << r.why;
    EXPECT_GE(r.records.size(), 1u);
    // The port was given back: the sensor was told to stop its stream.
    EXPECT_TRUE(eventually(
        [&] {
          const std::string l = sim->commandLetters();
          return !l.empty() && l.back() != 'D';
        },
        3000))
        << sim->commandLetters();
  }
}

TEST_F(LoggerE2E, AStopWhileTheSensorDoesNotAnswerEndsTheWaitAtOnce) {
  startSim({"--fault", "silence,cmd=I,every=1,for=1"});
  auto run = log({"--port", sim->serialPath(), "--out", (dir / "none.csv").string()});
  ASSERT_TRUE(eventually([&] { return !sim->commandsReceived('I').empty(); }, 10000));
  run->signal(SIGTERM);
  // At most the library's read in progress (2 s), not the whole start-up.
  EXPECT_EQ(run->wait(4000), 0) << run->errors();
  EXPECT_FALSE(fs::exists(dir / "none.csv"));
}

TEST_F(LoggerE2E, ALostSensorEndsTheRunWithStatusOneAndTheRecordsKept) {
  startSim({"--fault", "hangup,at=3000,for=60000"});
  const fs::path file = dir / "lost.csv";
  auto run = log({"--port", sim->serialPath(), "--out", file.string()});
  EXPECT_EQ(run->wait(30000), 1) << run->errors();
  EXPECT_NE(run->errors().find("Communication Error 7"), std::string::npos) << run->errors();
  EXPECT_NE(run->errors().find("was lost"), std::string::npos);
  const ReadBack r = readLog(file.string(), true);
  ASSERT_TRUE(r.ok) << r.why;
}

TEST_F(LoggerE2E, FilesThatCannotBeWrittenEndTheRunWithStatusOne) {
  startSim();
  // A folder that does not exist.
  auto noDir = log({"--port", sim->serialPath(), "--out", (dir / "none" / "x.csv").string()});
  EXPECT_EQ(noDir->wait(20000), 1);
  EXPECT_NE(noDir->errors().find("could not be opened"), std::string::npos) << noDir->errors();

  // A file that cannot be opened for writing (a read-only file; the kernel's
  // own read-only file when running as root).
  const std::string readOnly = (dir / "ro.csv").string();
  std::ofstream(readOnly) << "";
  ::chmod(readOnly.c_str(), 0444);
  const bool root = ::access(readOnly.c_str(), W_OK) == 0;
  auto ro = log({"--port", sim->serialPath(), "--out", root ? "/proc/version" : readOnly});
  EXPECT_EQ(ro->wait(20000), 1);
  // Root may open it anyway: then the first write fails.
  EXPECT_NE(ro->errors().find(root ? "Logging Error!" : "could not be opened"), std::string::npos)
      << ro->errors();

  // A FIFO nobody reads: refused at once, never waited on.
  const std::string fifo = (dir / "fifo.csv").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto pipe = log({"--port", sim->serialPath(), "--out", fifo});
  EXPECT_EQ(pipe->wait(20000), 1);
  EXPECT_NE(pipe->errors().find("pipe or socket"), std::string::npos) << pipe->errors();

  // A device that takes nothing: "Logging Error!" at the first record.
  auto full = log({"--port", sim->serialPath(), "--out", "/dev/full"});
  EXPECT_EQ(full->wait(20000), 1);
  EXPECT_NE(full->errors().find("Logging Error!"), std::string::npos) << full->errors();

  // The file removed while logging: the records would go nowhere.
  const fs::path file = dir / "removed.csv";
  auto removed = log({"--port", sim->serialPath(), "--out", file.string()});
  ASSERT_TRUE(eventually([&] { return lineCount(file) >= 3; }, 15000)) << removed->errors();
  fs::remove(file);
  EXPECT_EQ(removed->wait(10000), 1);
  EXPECT_NE(removed->errors().find("Logging Error!"), std::string::npos) << removed->errors();
}

TEST_F(LoggerE2E, BadArgumentsGiveStatusTwoAndAnUnreachablePortStatusOne) {
  Child bad("zrq-log", {"--port", "COM1", "--out", "x.csv", "--sample", "0s"});
  EXPECT_EQ(bad.wait(5000), 2);
  EXPECT_NE(bad.errors().find("Usage: zrq-log"), std::string::npos);
  Child help("zrq-log", {"--help"});
  EXPECT_EQ(help.wait(5000), 0);
  EXPECT_NE(help.errors().find("--records"), std::string::npos);
  Child version("zrq-log", {"--version"});
  EXPECT_EQ(version.wait(5000), 0);
  EXPECT_NE(version.errors().find("V3"), std::string::npos);

  const fs::path file = dir / "never.csv";
  Child none("zrq-log", {"--port", (dir / "no-such-tty").string(), "--out", file.string()});
  EXPECT_EQ(none.wait(20000), 1);
  EXPECT_FALSE(fs::exists(file));
  // Why, and the fix, as the window says it.
  EXPECT_NE(none.errors().find("there is no such device"), std::string::npos) << none.errors();
  EXPECT_NE(none.errors().find("Fix: plug the sensor"), std::string::npos) << none.errors();
}

// SIGKILL at random moments while logging: every time the file holds only
// whole records. Ten simulators side by side, five kills each, keep it short.
TEST_F(LoggerE2E, KilledAtRandomMomentsTheFileHoldsOnlyWholeRecords) {
  constexpr int kLanes = 10;
  constexpr int kRounds = 5;
  struct Lane {
    std::unique_ptr<SimProcess> sim;
    fs::path file;
    std::unique_ptr<Child> run;
    std::uintmax_t before = 0;
    int delayMs = 0;
    std::size_t records = 0;
  };
  std::vector<Lane> lanes(kLanes);
  for (int l = 0; l < kLanes; ++l) {
    lanes[l].sim = std::make_unique<SimProcess>(std::vector<std::string>{
        "--banner", "0", "--interval", "100", "--drift", "0", "--noise", "0", "--power", "20"});
    ASSERT_TRUE(lanes[l].sim->ok()) << lanes[l].sim->error();
    lanes[l].file = dir / ("killed" + std::to_string(l) + ".csv");
  }
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> offset(50, 300);
  int kills = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (Lane& lane : lanes) {
      lane.before = sizeOf(lane.file);
      lane.delayMs = offset(rng);
      lane.run = std::make_unique<Child>(
          "zrq-log",
          std::vector<std::string>{"--port", lane.sim->serialPath(), "--out", lane.file.string()});
    }
    // Each run kills its logger that long after its log first grew.
    std::vector<Clock::time_point> grew(kLanes, Clock::time_point::max());
    std::vector<bool> killed(kLanes, false);
    // Ten loggers start together next to the rest of the suite: a loaded
    // machine may take many times the usual second or two.
    const auto deadline = Clock::now() + std::chrono::seconds(40);
    while (std::count(killed.begin(), killed.end(), true) < kLanes) {
      if (Clock::now() >= deadline) {
        std::string which;
        for (int l = 0; l < kLanes; ++l)
          if (!killed[l])
            which += "\nlogger " + std::to_string(l) + " in round " + std::to_string(round) +
                     (grew[l] == Clock::time_point::max() ? " never wrote" : " wrote") +
                     "; its messages: " + lanes[l].run->errors();
        FAIL() << "loggers not killed in time:" << which;
      }
      for (int l = 0; l < kLanes; ++l) {
        Lane& lane = lanes[l];
        if (killed[l]) continue;
        if (grew[l] == Clock::time_point::max() && sizeOf(lane.file) > lane.before)
          grew[l] = Clock::now();
        if (grew[l] != Clock::time_point::max() &&
            Clock::now() >= grew[l] + std::chrono::milliseconds(lane.delayMs)) {
          lane.run->signal(SIGKILL);
          killed[l] = true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (Lane& lane : lanes) {
      EXPECT_EQ(lane.run->wait(5000), 128 + SIGKILL);
      ++kills;
      const ReadBack r = readLog(lane.file.string(), true);
      ASSERT_TRUE(r.ok) << "after kill " << kills << ": " << r.why;
      EXPECT_GE(r.records.size(), lane.records);
      lane.records = r.records.size();
    }
  }
  EXPECT_EQ(kills, kLanes * kRounds);
  for (const Lane& lane : lanes) EXPECT_GE(lane.records, 1u);
}

}  // namespace
}  // namespace zrq::logger::test
