// The log session both log writers share: a file must be chosen before
// logging, every close forgets the choice, a failed write closes, and a
// record carries the instrument's state.
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "core/LogSession.h"

namespace zrq::core {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

int lines(const std::string& text) {
  int n = 0;
  for (std::size_t i = 0; (i = text.find("\r\n", i)) != std::string::npos; i += 2) ++n;
  return n;
}

// Field n (0-based) of a record line.
std::string field(const std::string& line, int n) {
  std::size_t start = 0;
  for (int i = 0; i < n; ++i) start = line.find(',', start) + 1;
  return line.substr(start, line.find(',', start) - start);
}

class LogSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("zrq-logsession-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    s.sensorSerial = "12345";
    s.reading.fwdAvgPower = 20;
    s.reading.rflPowerRaw = 0.8;
    s.reading.scaleCode = 9;
    s.reading.temperature = 28;
    s.reading.peakPower = 38.5;
    s.reading.burstPower = 25;
    s.reading.dutyCycle = 80;
  }
  void TearDown() override { fs::remove_all(dir); }

  LogTickResult tick(LogSession& session, const LogSettings& settings = {}) {
    return session.tick(settings, s, logSnapshot(s), LogDateTime::fromTime(0),
                        DateOrder::MonthDayYear);
  }

  fs::path dir;
  InstrumentState s;
};

TEST_F(LogSessionTest, LoggingNeedsAChosenFileAndEveryCloseForgetsIt) {
  LogSession session;
  EXPECT_FALSE(session.activate());
  EXPECT_FALSE(session.active());
  EXPECT_FALSE(tick(session).wrote);

  const fs::path file = dir / "a.csv";
  session.choose(file.string(), 2);
  EXPECT_TRUE(session.chosen());
  EXPECT_FALSE(fs::exists(file));  // choosing does not open
  ASSERT_TRUE(session.activate());
  EXPECT_TRUE(session.active());
  EXPECT_EQ(lines(slurp(file)), 2);  // the headers

  session.close();
  EXPECT_FALSE(session.active());
  EXPECT_FALSE(session.chosen());
  EXPECT_FALSE(session.activate());
}

TEST_F(LogSessionTest, AStaleReadingWritesNoRecordUntilAFreshOneComes) {
  LogSession session;
  session.choose((dir / "stale.csv").string(), 1);
  ASSERT_TRUE(session.activate());
  s.lastReadingMs = 10'000;
  const auto tickAt = [&](std::int64_t nowMs) {
    session.sampleTick();
    return session.tick({}, s, logSnapshot(s), LogDateTime::fromTime(0), DateOrder::MonthDayYear,
                        nowMs);
  };
  EXPECT_TRUE(tickAt(12'000).wrote);  // 2 s old: still fresh
  const LogTickResult stale = tickAt(12'001);
  EXPECT_FALSE(stale.wrote);
  EXPECT_TRUE(stale.stale);
  EXPECT_FALSE(tickAt(20'000).wrote);
  s.lastReadingMs = 20'500;
  EXPECT_TRUE(tickAt(21'000).wrote);
  EXPECT_EQ(lines(slurp(dir / "stale.csv")), 4);  // headers and two records
}

TEST_F(LogSessionTest, TheFirstSampleFollowsTheNextTickThenEveryInterval) {
  LogSession session;
  const fs::path file = dir / "b.csv";
  session.choose(file.string(), 4);  // 2 s
  ASSERT_TRUE(session.activate());
  EXPECT_FALSE(tick(session).wrote);
  session.sampleTick();
  EXPECT_TRUE(tick(session).wrote);
  EXPECT_FALSE(tick(session).wrote);  // one record per due sample
  for (int i = 0; i < 3; ++i) {
    session.sampleTick();
    EXPECT_FALSE(tick(session).wrote);
  }
  session.sampleTick();
  EXPECT_TRUE(tick(session).wrote);
  EXPECT_EQ(lines(slurp(file)), 4);

  // Set-up confirmed: the new interval, the next sample after the next tick.
  session.setupConfirmed(120);
  EXPECT_EQ(session.triggers().intervalTicks(), 120);
  session.sampleTick();
  EXPECT_TRUE(tick(session).wrote);
}

TEST_F(LogSessionTest, ARecordCarriesTheInstrumentStateAndTheSnapshot) {
  s.offsetDb = 3;
  s.filterHz = 400;
  s.reading.fwdAvgPower = 500;  // limited to 3 x 150 W before the offset
  LogSession session;
  const fs::path file = dir / "c.csv";
  session.choose(file.string(), 2);
  ASSERT_TRUE(session.activate());
  session.sampleTick();
  ASSERT_TRUE(tick(session).wrote);
  const std::string text = slurp(file);
  const std::string record = text.substr(text.rfind("\r\n", text.size() - 3) + 2);
  EXPECT_EQ(field(record, 2), "12345");
  EXPECT_EQ(field(record, 3), "28.000000");
  EXPECT_EQ(field(record, 4), "3");
  EXPECT_EQ(field(record, 6), "400 KHz");
  EXPECT_EQ(field(record, 7), logFixed(450 * std::pow(10.0, 0.3), 5, 6));
  EXPECT_EQ(field(record, 18), "80.00");
  EXPECT_EQ(field(record, 20), "NA");

  const TriggerValues v = logTriggerValues(s, logSnapshot(s));
  EXPECT_NEAR(v.forwardW, 450 * std::pow(10.0, 0.3), 1e-6);
  EXPECT_NEAR(v.reflectedW, 0.8 * std::pow(10.0, 0.3), 1e-6);
  EXPECT_DOUBLE_EQ(v.peakW, logSnapshot(s).values.peakW);
}

TEST_F(LogSessionTest, AFailedWriteClosesTheSessionAndSaysWhy) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  LogSession session;
  session.choose("/dev/full", 2);
  ASSERT_TRUE(session.activate());  // it exists: no headers to write
  session.sampleTick();
  const LogTickResult r = tick(session);
  EXPECT_FALSE(r.wrote);
  ASSERT_TRUE(r.error);
  EXPECT_FALSE(r.error->message.empty());
  EXPECT_FALSE(session.active());
  EXPECT_FALSE(session.chosen());
}

TEST_F(LogSessionTest, ABadLimitIsReportedAndTheLastGoodOneKept) {
  LogSettings settings;
  settings.event = LogEvent::FirstLastAboveLimit;
  settings.limitTexts[0] = "10";
  LogSession session;
  session.choose((dir / "d.csv").string(), 2);
  ASSERT_TRUE(session.activate());
  EXPECT_TRUE(tick(session, settings).wrote);  // 20 W past 10 W
  settings.limitTexts[0] = "ten";
  const LogTickResult r = tick(session, settings);
  ASSERT_TRUE(r.badLimit);
  EXPECT_FALSE(r.wrote);  // still past the 10 W in force
  s.reading.fwdAvgPower = 5;
  EXPECT_TRUE(tick(session, settings).wrote);  // back below 10 W
}

}  // namespace
}  // namespace zrq::core
