// Limit-triggered logging end to end: tks7730-sim steps its forward power by
// script, the real library carries the data lines, the readings core decodes
// them, and the log triggers and writer record the crossings. The file is
// read back with Python's csv module.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "E2EFixture.h"
#include "LogRun.h"
#include "core/DataString.h"
#include "core/LogFile.h"
#include "core/LogRecord.h"
#include "core/LogTriggers.h"

namespace zrq::comm::test {
namespace {

namespace fs = std::filesystem;
using namespace zrq::core;

class LogE2E : public CommE2E {
 protected:
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir = fs::temp_directory_path() / ("zrq-log-e2e-" + std::to_string(::getpid()));
};

TEST_F(LogE2E, FirstAndLastOccurrenceAboveALimitWritesTwoRecordsForOneExcursion) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  fs::create_directories(dir);
  const fs::path script = dir / "power.txt";
  { std::ofstream(script) << "# below, above 100 W, below again\n0 20\n1500 120\n3500 20\n"; }
  auto sim = startSim({"--banner", "0", "--interval", "100", "--drift", "0", "--noise", "0",
                       "--power", "20", "--power-script", script.string()});
  ASSERT_TRUE(sim->ok());
  auto port = openSerial(*sim);
  port->startDataStream();
  ASSERT_EQ(sim->lettersWhen("D"), "D");

  LogSettings settings;
  settings.event = LogEvent::FirstLastAboveLimit;
  settings.trigger = LogTrigger::Forward;
  settings.limitTexts[0] = "100";
  LogTriggers triggers;
  triggers.start(settings.intervalTicks());
  const fs::path file = dir / "log.csv";
  LogFile log;
  ASSERT_TRUE(log.open(file.string()));

  SensorReading reading;
  DecodeInputs inputs;
  bool changed = false;
  bool sawHigh = false, backLow = false;
  int writes = 0, lowAfterHigh = 0, ticks = 0;
  // Display ticks until the power has gone up and come down again, and a few
  // more ticks after that to show nothing else is written. A line is fetched
  // every twelfth tick, as the panel does: a fetch purges, and on a 9600-baud
  // line a line takes longer than a tick to arrive.
  const bool done = eventually(
      [&] {
        const std::string line = ticks++ % 12 == 0 ? port->readDataLine() : std::string();
        if (!line.empty() &&
            decodeDataString(line, inputs, reading, changed).outcome == DecodeOutcome::Accepted) {
          if (reading.fwdAvgPower > 100) sawHigh = true;
          if (sawHigh && reading.fwdAvgPower < 100) backLow = true;
          if (backLow) ++lowAfterHigh;
        }
        const LogPowers p = prepareLogPowers(reading.fwdAvgPower, reading.rflPowerRaw,
                                             reading.scaleCode, 150, 15, 0);
        const TriggerDecision d = triggers.evaluate(
            settings, {p.forwardW, p.reflectedW, reading.peakPower, reading.burstPower});
        EXPECT_FALSE(d.badLimit);
        if (d.write) {
          LogRecordInput in;
          in.when = LogDateTime::now();
          in.sensorSerial = "12345";
          in.temperature = reading.temperature;
          in.fwdAvgPower = reading.fwdAvgPower;
          in.rflPowerRaw = reading.rflPowerRaw;
          in.scaleCode = reading.scaleCode;
          in.dutyCycle = reading.dutyCycle;
          in.peakW = reading.peakPower;
          in.burstW = reading.burstPower;
          in.crestFactor = reading.crestFactor;
          EXPECT_TRUE(log.append(buildLogRecord(in)));
          ++writes;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the display tick's pace
        return lowAfterHigh >= 3;
      },
      20000);
  ASSERT_TRUE(done) << "high seen " << sawHigh << ", low again " << backLow;
  log.close();
  EXPECT_EQ(writes, 2);

  const logger::test::ReadBack back = logger::test::readLog(file.string(), true);
  ASSERT_TRUE(back.ok) << back.why;
  const auto& records = back.records;
  ASSERT_EQ(records.size(), 2u);
  // The first record is the first value past the limit, the second the
  // first value back.
  EXPECT_EQ(records[0].at(7), "120.000000");
  EXPECT_EQ(records[1].at(7), "20.000000");
  EXPECT_EQ(records[0].at(20), "NA");
}

}  // namespace
}  // namespace zrq::comm::test
