// zrq-log's command line: what each option sets, and what it refuses.
#include <gtest/gtest.h>

#include "LoggerOptions.h"

namespace zrq::logger {
namespace {

using core::LogEvent;
using core::LogTimeUnit;
using core::LogTrigger;
using core::MeasType;

ParseResult parse(std::vector<std::string> extra) {
  std::vector<std::string> args{"--port", "COM1", "--out", "/tmp/x.csv"};
  args.insert(args.end(), extra.begin(), extra.end());
  return parseLoggerArgs(args);
}

TEST(LoggerOptions, DefaultsAreThoseOfTheSetUpDialogAndTheMainWindow) {
  const ParseResult r = parse({});
  ASSERT_TRUE(r.options) << r.error;
  const LoggerOptions& o = *r.options;
  EXPECT_EQ(o.port, "COM1");
  EXPECT_EQ(o.out, "/tmp/x.csv");
  EXPECT_EQ(o.measType, MeasType::Average);
  EXPECT_EQ(o.log.event, LogEvent::SampleTime);
  EXPECT_EQ(o.log.trigger, LogTrigger::Forward);
  EXPECT_EQ(o.log.intervalTicks(), 2);
  EXPECT_EQ(o.offsetDb, 0.0f);
  EXPECT_EQ(o.ccdfLimit, 50.0f);
  EXPECT_EQ(o.filterHz, 4500.0f);
  EXPECT_FALSE(o.seconds);
  EXPECT_FALSE(o.records);
}

TEST(LoggerOptions, EveryOptionSetsItsSetting) {
  const ParseResult r =
      parse({"--type", "ccdf", "--sample=5m", "--event", "first-last-below", "--trigger", "peak",
             "--limit", "12.5", "--offset", "3", "--ccdf-limit", "20", "--filter", "full",
             "--seconds", "2.5", "--records", "7"});
  ASSERT_TRUE(r.options) << r.error;
  const LoggerOptions& o = *r.options;
  EXPECT_EQ(o.measType, MeasType::CCDF);
  EXPECT_EQ(o.log.timeUnit, LogTimeUnit::Minutes);
  EXPECT_EQ(o.log.sampleTime, 5);
  EXPECT_EQ(o.log.intervalTicks(), 600);
  EXPECT_EQ(o.log.event, LogEvent::FirstLastBelowLimit);
  EXPECT_EQ(o.log.trigger, LogTrigger::Peak);
  EXPECT_EQ(o.log.limitText(LogTrigger::Peak), "12.5");
  EXPECT_EQ(o.offsetDb, 3.0f);
  EXPECT_EQ(o.ccdfLimit, 20.0f);
  EXPECT_EQ(o.filterHz, 10000.0f);
  EXPECT_DOUBLE_EQ(*o.seconds, 2.5);
  EXPECT_EQ(*o.records, 7);

  EXPECT_EQ(parse({"--filter", "400k"}).options->filterHz, 400.0f);
  EXPECT_EQ(parse({"--sample", "60h"}).options->log.intervalTicks(), 432000);
  EXPECT_EQ(parse({"--type", "crest"}).options->measType, MeasType::Crest);
  EXPECT_EQ(parse({"--event", "above", "--limit", "1"}).options->log.event,
            LogEvent::SampleTimeAboveLimit);
}

TEST(LoggerOptions, BadArgumentsAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--sample", "0s"},
      {"--sample", "61s"},
      {"--sample", "5d"},
      {"--sample", "s"},
      {"--sample", "1.5s"},
      {"--type", "rms"},
      {"--event", "sometimes"},
      {"--trigger", "side"},
      {"--limit", "abc"},
      {"--limit", "-1"},
      {"--limit", "1,5"},
      {"--offset", "101"},
      {"--offset", "x"},
      {"--ccdf-limit", "0"},
      {"--filter", "1k"},
      {"--seconds", "0"},
      {"--seconds", "inf"},
      {"--records", "0"},
      {"--records", "2.5"},
      {"--bogus"},
      {"--seconds"},
      {"--event", "above"},  // a limit event without a limit
      {"--type", "ccdf", "--trigger", "burst"},
      {"--scpi", "host:5025"},
  };
  for (const auto& args : bad) {
    const ParseResult r = parse(args);
    EXPECT_FALSE(r.options) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(r.error.empty());
  }
  EXPECT_FALSE(parseLoggerArgs({"--out", "x.csv"}).options);  // no port
  EXPECT_FALSE(parseLoggerArgs({"--port", "COM1"}).options);  // no file
  // Driven by scripts, it needs no log file.
  const auto scripted = parseLoggerArgs({"--port", "COM1", "--scpi", "0.0.0.0:6000"}).options;
  ASSERT_TRUE(scripted && scripted->scpi);
  EXPECT_EQ(scripted->scpi->host, "0.0.0.0");
  EXPECT_EQ(scripted->scpi->port, 6000);
  // Help and version need nothing else.
  EXPECT_TRUE(parseLoggerArgs({"--help"}).options->help);
  EXPECT_TRUE(parseLoggerArgs({"--version"}).options->version);
  EXPECT_NE(loggerUsage().find("--ccdf-limit"), std::string::npos);
}

TEST(LoggerOptions, UsbPortNamesGiveTheDeviceIndex) {
  EXPECT_EQ(usbPortIndex("7730USB1"), 0);
  EXPECT_EQ(usbPortIndex("7730USB12"), 11);
  EXPECT_FALSE(usbPortIndex("7730USB0"));
  EXPECT_FALSE(usbPortIndex("7730USB"));
  EXPECT_FALSE(usbPortIndex("7730USBx"));
  EXPECT_FALSE(usbPortIndex("COM1"));
  EXPECT_FALSE(usbPortIndex("/dev/7730USB1"));
}

}  // namespace
}  // namespace zrq::logger
