// When a record is due: the sample counter, every event with every trigger
// quantity, the latches and limit texts that are not numbers.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/LogTriggers.h"

namespace zrq::core {
namespace {

constexpr LogTrigger kTriggers[] = {LogTrigger::Forward, LogTrigger::Reflected, LogTrigger::Peak,
                                    LogTrigger::Burst};

// The watched quantity gets `v`; the other three a value that would give the
// opposite answer, so watching the wrong one shows.
TriggerValues valuesFor(LogTrigger t, double v, double others) {
  TriggerValues tv{others, others, others, others};
  switch (t) {
    case LogTrigger::Forward:
      tv.forwardW = v;
      break;
    case LogTrigger::Reflected:
      tv.reflectedW = v;
      break;
    case LogTrigger::Peak:
      tv.peakW = v;
      break;
    case LogTrigger::Burst:
      tv.burstW = v;
      break;
  }
  return tv;
}

// The limit of `t` is 10 W; every other limit text is far away.
LogSettings settingsFor(LogEvent e, LogTrigger t) {
  LogSettings s;
  s.event = e;
  s.trigger = t;
  s.limitTexts = {"1000", "1000", "1000", "1000"};
  s.limitTexts[static_cast<std::size_t>(t)] = "10";
  return s;
}

TEST(LogSampleInterval, TicksOf500MsPerUnit) {
  EXPECT_EQ(sampleIntervalTicks(LogTimeUnit::Seconds, 1), 2);
  EXPECT_EQ(sampleIntervalTicks(LogTimeUnit::Seconds, 60), 120);
  EXPECT_EQ(sampleIntervalTicks(LogTimeUnit::Minutes, 1), 120);
  EXPECT_EQ(sampleIntervalTicks(LogTimeUnit::Minutes, 7), 840);
  EXPECT_EQ(sampleIntervalTicks(LogTimeUnit::Hours, 1), 7200);
  EXPECT_EQ(sampleIntervalTicks(LogTimeUnit::Hours, 60), 432000);
  EXPECT_EQ(sampleIntervalTicks(LogTimeUnit::Seconds, 0), 2);  // clamped to 1..60
  EXPECT_EQ(sampleIntervalTicks(LogTimeUnit::Hours, 61), 432000);
  LogSettings s;
  s.timeUnit = LogTimeUnit::Minutes;
  s.sampleTime = 2;
  EXPECT_EQ(s.intervalTicks(), 240);
}

TEST(LogSampleTime, OneSecondRecordsAtFourDisplayTicksPerSecond) {
  LogTriggers tr;
  LogSettings s;  // Sample Time, 1 second
  tr.start(s.intervalTicks());
  std::vector<int> writtenAtMs;
  for (int ms = 250; ms <= 5000; ms += 250) {
    if (ms % 500 == 0) tr.sampleTick();
    if (tr.evaluate(s, {}).write) writtenAtMs.push_back(ms);
  }
  // The first record follows the first 500 ms tick, then one per second.
  EXPECT_EQ(writtenAtMs, (std::vector<int>{500, 1500, 2500, 3500, 4500}));
}

TEST(LogSampleTime, CounterRestartsOnlyAtADueSample) {
  LogTriggers tr;
  LogSettings s;
  s.timeUnit = LogTimeUnit::Seconds;
  s.sampleTime = 3;  // 6 ticks
  tr.start(s.intervalTicks());
  EXPECT_EQ(tr.tickCount(), 5);
  EXPECT_FALSE(tr.evaluate(s, {}).write);
  EXPECT_EQ(tr.tickCount(), 5);
  tr.sampleTick();
  EXPECT_TRUE(tr.evaluate(s, {}).write);
  EXPECT_EQ(tr.tickCount(), 0);
  EXPECT_FALSE(tr.evaluate(s, {}).write);  // the same tick again: nothing more
  for (int i = 0; i < 5; ++i) tr.sampleTick();
  EXPECT_FALSE(tr.evaluate(s, {}).write);
  tr.sampleTick();
  EXPECT_TRUE(tr.evaluate(s, {}).write);
  // Overdue samples (a display tick missed) give one record, not several.
  for (int i = 0; i < 20; ++i) tr.sampleTick();
  EXPECT_TRUE(tr.evaluate(s, {}).write);
  EXPECT_FALSE(tr.evaluate(s, {}).write);

  tr.stop();
  EXPECT_EQ(tr.tickCount(), 0);
  tr.start();  // again, with the interval it has
  EXPECT_EQ(tr.tickCount(), 5);
  tr.stop();
  tr.setInterval(4);
  tr.restartSample();  // set-up OK: due after the next tick
  EXPECT_FALSE(tr.evaluate(s, {}).write);
  tr.sampleTick();
  EXPECT_TRUE(tr.evaluate(s, {}).write);
}

// Events 1 and 3: one value per due sample.
TEST(LogSampleTimeWithLimit, AboveAndBelowForEveryTrigger) {
  const double values[] = {5, 10, 15, 15, 10, 5};
  const bool above[] = {false, false, true, true, false, false};
  const bool below[] = {true, false, false, false, false, true};
  for (LogTrigger t : kTriggers) {
    for (LogEvent e : {LogEvent::SampleTimeAboveLimit, LogEvent::SampleTimeBelowLimit}) {
      const bool isAbove = e == LogEvent::SampleTimeAboveLimit;
      const LogSettings s = settingsFor(e, t);
      LogTriggers tr;
      tr.start(2);
      for (std::size_t i = 0; i < std::size(values); ++i) {
        tr.sampleTick();
        // The others sit on the far side of this event's test.
        const auto tv = valuesFor(t, values[i], isAbove ? 0 : 5000);
        const auto d = tr.evaluate(s, tv);
        EXPECT_EQ(d.write, isAbove ? above[i] : below[i])
            << logTriggerName(t) << " event " << static_cast<int>(e) << " value " << values[i];
        EXPECT_EQ(tr.tickCount(), 0) << "the counter restarts at a due sample, written or not";
        // Between samples nothing is written, whatever the value.
        EXPECT_FALSE(tr.evaluate(s, valuesFor(t, isAbove ? 99 : 1, 0)).write);
        tr.sampleTick();
      }
    }
  }
}

// Events 2 and 4: one value per display tick, no sample ticks at all.
TEST(LogFirstAndLast, ExactlyTwoRecordsPerExcursionForEveryTrigger) {
  const double values[] = {5, 10, 15, 15, 20, 10, 15, 5, 5, 10, 5};
  const bool aboveWrites[] = {false, false, true,  false, false, false,
                              false, true,  false, false, false};
  const bool belowWrites[] = {true,  false, true,  false, false, false,
                              false, true,  false, false, false};
  for (LogTrigger t : kTriggers) {
    for (LogEvent e : {LogEvent::FirstLastAboveLimit, LogEvent::FirstLastBelowLimit}) {
      const bool isAbove = e == LogEvent::FirstLastAboveLimit;
      const LogSettings s = settingsFor(e, t);
      LogTriggers tr;
      tr.start(2);
      int writes = 0;
      for (std::size_t i = 0; i < std::size(values); ++i) {
        const auto d = tr.evaluate(s, valuesFor(t, values[i], isAbove ? 5000 : 0));
        EXPECT_EQ(d.write, isAbove ? aboveWrites[i] : belowWrites[i])
            << logTriggerName(t) << " event " << static_cast<int>(e) << " step " << i;
        writes += d.write;
      }
      EXPECT_EQ(writes, isAbove ? 2 : 3);
      EXPECT_EQ(tr.tickCount(), 1) << "the counter is left alone";
      for (LogTrigger other : kTriggers) {
        if (other != t) {
          EXPECT_FALSE(tr.latch(other));
        }
      }
    }
  }
}

TEST(LogFirstAndLast, EqualNeitherSetsNorClearsTheLatch) {
  const LogSettings s = settingsFor(LogEvent::FirstLastAboveLimit, LogTrigger::Forward);
  LogTriggers tr;
  EXPECT_FALSE(tr.evaluate(s, {10, 0, 0, 0}).write);
  EXPECT_FALSE(tr.latch(LogTrigger::Forward));
  EXPECT_TRUE(tr.evaluate(s, {10.001, 0, 0, 0}).write);
  EXPECT_TRUE(tr.latch(LogTrigger::Forward));
  EXPECT_FALSE(tr.evaluate(s, {10, 0, 0, 0}).write);
  EXPECT_TRUE(tr.latch(LogTrigger::Forward));
  EXPECT_TRUE(tr.evaluate(s, {9.999, 0, 0, 0}).write);
  EXPECT_FALSE(tr.latch(LogTrigger::Forward));
}

TEST(LogFirstAndLast, EachTriggerHasItsOwnLatchAndSwitchedOffLoggingClearsThem) {
  LogSettings s = settingsFor(LogEvent::FirstLastAboveLimit, LogTrigger::Forward);
  s.limitTexts = {"10", "10", "10", "10"};
  LogTriggers tr;
  EXPECT_TRUE(tr.evaluate(s, {20, 20, 20, 20}).write);
  s.trigger = LogTrigger::Peak;  // a fresh latch: writes its first occurrence
  EXPECT_TRUE(tr.evaluate(s, {20, 20, 20, 20}).write);
  EXPECT_FALSE(tr.evaluate(s, {20, 20, 20, 20}).write);
  EXPECT_TRUE(tr.latch(LogTrigger::Forward));
  EXPECT_TRUE(tr.latch(LogTrigger::Peak));
  tr.clearLatches();
  EXPECT_FALSE(tr.latch(LogTrigger::Forward));
  EXPECT_FALSE(tr.latch(LogTrigger::Peak));
  EXPECT_TRUE(tr.evaluate(s, {20, 20, 20, 20}).write);
}

TEST(LogLimitText, ParsedWithAPointWhateverTheLocale) {
  const std::pair<const char*, std::optional<double>> rows[] = {
      {"0", 0.0},
      {"10", 10.0},
      {"1.5", 1.5},
      {" 2.25 ", 2.25},
      {"-3", -3.0},
      {"+4", 4.0},
      {".5", 0.5},
      {"5.", 5.0},
      {"1e2", 100.0},
      {"2.5E-1", 0.25},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"1,5", std::nullopt},
      {"abc", std::nullopt},
      {"1.2.3", std::nullopt},
      {"10 W", std::nullopt},
      {"inf", std::nullopt},
      {"nan", std::nullopt},
      {"0x10", std::nullopt},
      {"1e", std::nullopt},
      {"-", std::nullopt},
      {"+-1", std::nullopt},
      {"1e999", std::nullopt},
  };
  for (const auto& [text, value] : rows)
    EXPECT_EQ(parseLimitText(text), value) << '"' << text << '"';
}

TEST(LogLimitText, ABadEntryKeepsTheLastValidLimitAndIsReportedOnce) {
  LogSettings s = settingsFor(LogEvent::FirstLastAboveLimit, LogTrigger::Forward);
  LogTriggers tr;
  EXPECT_FALSE(tr.evaluate(s, {5, 0, 0, 0}).write);
  EXPECT_EQ(tr.limitInForce(LogTrigger::Forward), 10);

  s.limitTexts[0] = "1O";  // a letter O
  auto d = tr.evaluate(s, {5, 0, 0, 0});
  ASSERT_TRUE(d.badLimit);
  EXPECT_EQ(d.badLimit->trigger, LogTrigger::Forward);
  EXPECT_EQ(d.badLimit->text, "1O");
  EXPECT_EQ(d.badLimit->limitInForce, 10);
  EXPECT_EQ(d.badLimit->message,
            "The Forward trigger limit '1O' is not a number; the limit stays 10 W.");
  EXPECT_FALSE(d.write);
  // The next ticks stay quiet and go on testing against 10 W.
  for (int i = 0; i < 8; ++i) EXPECT_FALSE(tr.evaluate(s, {5, 0, 0, 0}).badLimit);
  EXPECT_TRUE(tr.evaluate(s, {11, 0, 0, 0}).write);
  // Another bad text is a new entry: reported again.
  s.limitTexts[0] = "1OO";
  d = tr.evaluate(s, {11, 0, 0, 0});
  ASSERT_TRUE(d.badLimit);
  EXPECT_EQ(d.badLimit->text, "1OO");
  // A good text takes over; the same bad text later is reported anew.
  s.limitTexts[0] = "50";
  EXPECT_FALSE(tr.evaluate(s, {11, 0, 0, 0}).badLimit);
  EXPECT_EQ(tr.limitInForce(LogTrigger::Forward), 50);
  s.limitTexts[0] = "1O";
  d = tr.evaluate(s, {11, 0, 0, 0});
  ASSERT_TRUE(d.badLimit);
  EXPECT_EQ(d.badLimit->limitInForce, 50);

  // Before any valid entry the limit is 0.
  LogTriggers fresh;
  LogSettings b = settingsFor(LogEvent::SampleTimeBelowLimit, LogTrigger::Burst);
  b.limitTexts[3] = "x";
  fresh.start(2);
  fresh.sampleTick();
  d = fresh.evaluate(b, {0, 0, 0, -1});
  ASSERT_TRUE(d.badLimit);
  EXPECT_EQ(d.badLimit->limitInForce, 0);
  EXPECT_TRUE(d.write);  // -1 < 0
}

TEST(LogLimitText, SampleTimeAloneNeverLooksAtTheLimit) {
  LogSettings s;
  s.limitTexts = {"bad", "bad", "bad", "bad"};
  LogTriggers tr;
  tr.start(2);
  tr.sampleTick();
  const auto d = tr.evaluate(s, {});
  EXPECT_TRUE(d.write);
  EXPECT_FALSE(d.badLimit);
}

TEST(LogLimitRange, ForwardAndReflectedToFullScalePeakAndBurstToThreeTimes) {
  EXPECT_TRUE(limitInRange(LogTrigger::Forward, 150, 150));
  EXPECT_FALSE(limitInRange(LogTrigger::Forward, 150.1, 150));
  EXPECT_FALSE(limitInRange(LogTrigger::Reflected, 151, 150));  // against the forward scale
  EXPECT_TRUE(limitInRange(LogTrigger::Reflected, 20, 150));
  EXPECT_TRUE(limitInRange(LogTrigger::Peak, 450, 150));
  EXPECT_FALSE(limitInRange(LogTrigger::Burst, 450.5, 150));
  EXPECT_FALSE(limitInRange(LogTrigger::Peak, -0.1, 150));
  EXPECT_TRUE(limitInRange(LogTrigger::Burst, 0, 150));
}

}  // namespace
}  // namespace zrq::core
