// The power script: its parsing, the command line option, and the engine's
// forward power stepping on a fake clock from the first start of the stream.

#include "Engine.h"
#include "Options.h"
#include "PowerScript.h"
#include "SensorRules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

using namespace tks7730sim;
using namespace simtest;
using std::chrono::milliseconds;

namespace {

TEST(PowerScript, StepsSortedCommentsAndBlankLinesSkipped) {
  std::vector<PowerStep> steps;
  std::string err;
  ASSERT_TRUE(
      parsePowerScript("# ramp\n3000 200\n\n  1000\t10   # low\r\n500 0.5\n1000 12\n", steps, err))
      << err;
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[0].ms, 500);
  EXPECT_DOUBLE_EQ(steps[0].watts, 0.5);
  EXPECT_EQ(steps[1].ms, 1000);
  EXPECT_DOUBLE_EQ(steps[1].watts, 10);
  EXPECT_DOUBLE_EQ(steps[2].watts, 12);  // same time: file order kept
  EXPECT_EQ(steps[3].ms, 3000);

  EXPECT_EQ(powerAt(steps, 0), std::nullopt);
  EXPECT_EQ(powerAt(steps, 499), std::nullopt);
  EXPECT_EQ(powerAt(steps, 500), 0.5);
  EXPECT_EQ(powerAt(steps, 1000), 12);  // the last of equal times wins
  EXPECT_EQ(powerAt(steps, 2999), 12);
  EXPECT_EQ(powerAt(steps, 1 << 30), 200);
  EXPECT_TRUE(parsePowerScript("", steps, err));
  EXPECT_TRUE(steps.empty());
}

TEST(PowerScript, BadLinesAreNamed) {
  const std::pair<const char*, const char*> bad[] = {
      {"1000\n", "line 1"},   {"0 1\n1000 x\n", "line 2"}, {"-5 10\n", "line 1"},
      {"10 -1\n", "line 1"},  {"10 1 2\n", "line 1"},      {"ten 1\n", "line 1"},
      {"10 1,5\n", "line 1"}, {"10 nan\n", "line 1"},      {"10 2e9\n", "line 1"},
  };
  for (const auto& [text, where] : bad) {
    std::vector<PowerStep> steps{{1, 1}};
    std::string err;
    EXPECT_FALSE(parsePowerScript(text, steps, err)) << text;
    EXPECT_NE(err.find(where), std::string::npos) << text << ": " << err;
    EXPECT_EQ(steps.size(), 1u) << "left alone on error";
  }
}

TEST(PowerScript, CommandLineOptionReadsTheFile) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("tks7730-power-script-test-" + std::to_string(::getpid()) + ".txt");
  { std::ofstream(path) << "0 5\n2000 300\n"; }
  SimOptions o;
  std::string err;
  ASSERT_EQ(parseOptions({"--power-script", path.string()}, o, err), ParseResult::Run) << err;
  ASSERT_EQ(o.sensor.powerSteps.size(), 2u);
  EXPECT_DOUBLE_EQ(o.sensor.powerSteps[1].watts, 300);
  { std::ofstream(path) << "0 5\nbogus\n"; }
  EXPECT_EQ(parseOptions({"--power-script", path.string()}, o, err), ParseResult::Error);
  EXPECT_NE(err.find("line 2"), std::string::npos) << err;
  std::filesystem::remove(path);
  EXPECT_EQ(parseOptions({"--power-script", path.string()}, o, err), ParseResult::Error);
  EXPECT_EQ(parseOptions({"--power-script"}, o, err), ParseResult::Error);
  EXPECT_NE(std::string(helpText()).find("--power-script FILE"), std::string::npos);
}

double forwardOf(const std::string& dataString) {
  std::string why;
  auto f = dataFields(dataString, 'A', why);
  EXPECT_TRUE(f) << why;
  double v = NAN;
  if (f) {
    EXPECT_TRUE(toNumber((*f)[2], v));
  }
  return v;
}

TEST(PowerScript, ForwardPowerStepsAtTheGivenTimesAfterTheStreamStarts) {
  SensorConfig c;
  c.bannerCount = 0;
  c.intervalMs = 100;
  c.signal.forwardAvgW = 100;
  c.signal.driftPercent = 0;
  c.signal.noisePercent = 0;
  c.powerSteps = {{1000, 10}, {3000, 200}};
  Engine::TimePoint t = Engine::Clock::time_point{} + std::chrono::hours(1);
  Engine e(c, {}, "serial", false, nullptr, t);

  // Time before the stream starts does not count.
  t += milliseconds(5000);
  e.advance(t);
  e.receive("D\r\n", t);
  const auto started = t;
  std::vector<std::pair<int64_t, double>> seen;  // ms since D, forward W
  for (int step = 0; step < 45; ++step) {
    auto d = e.nextDeadline();
    ASSERT_TRUE(d);
    t = *d;
    e.advance(t);
    const std::string out = e.takeOutput();
    if (out.empty() || out[0] != 'D') continue;
    const auto cr = out.find('\r');
    seen.emplace_back(std::chrono::duration_cast<milliseconds>(t - started).count(),
                      forwardOf(out.substr(1, cr - 1)));
  }
  ASSERT_GE(seen.size(), 40u);
  for (const auto& [ms, w] : seen) {
    const double want = ms < 1000 ? 100 : ms < 3000 ? 10 : 200;
    EXPECT_NEAR(w, want, want * 1e-3) << "at " << ms << " ms";
  }

  // A restarted stream keeps the first start as its zero.
  e.receive("U\r\n", t);
  e.takeOutput();
  t += milliseconds(100);
  e.receive("D\r\n", t);
  t += milliseconds(100);
  e.advance(t);
  const std::string out = e.takeOutput();
  ASSERT_FALSE(out.empty());
  EXPECT_NEAR(forwardOf(out.substr(1, out.find('\r') - 1)), 200, 0.2);
}

TEST(PowerScript, WithoutAScriptThePowerStaysAsConfigured) {
  SensorConfig c;
  c.bannerCount = 0;
  c.signal.forwardAvgW = 42;
  c.signal.driftPercent = 0;
  c.signal.noisePercent = 0;
  Engine::TimePoint t = Engine::Clock::time_point{} + std::chrono::hours(1);
  Engine e(c, {}, "serial", false, nullptr, t);
  e.receive("D\r\n", t);
  t += milliseconds(10000);
  e.advance(t);
  const std::string out = e.takeOutput();
  ASSERT_FALSE(out.empty());
  EXPECT_NEAR(forwardOf(out.substr(1, out.find('\r') - 1)), 42, 0.05);
}

}  // namespace
