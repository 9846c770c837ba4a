// The record of the CSV log: its 21 fields, the "NA" rules per measurement
// type, the value preparation and the header lines.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/LogRecord.h"

namespace zrq::core {
namespace {

// Splits a record that holds no quoted field; the last entry is what follows
// the final comma.
std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> f(1);
  for (char c : line) {
    if (c == ',')
      f.emplace_back();
    else
      f.back() += c;
  }
  return f;
}

LogRecordInput sample() {
  LogRecordInput in;
  in.when = {2026, 12, 8, 9, 3, 7};
  in.dateOrder = DateOrder::MonthDayYear;
  in.sensorSerial = "12345";
  in.measType = 1;
  in.temperature = 28.31f;
  in.fwdAvgPower = 100;
  in.rflPowerRaw = 1;
  in.dutyCycle = 80;
  in.peakW = 160;
  in.burstW = 125;
  in.vswr = 1.2222222;
  in.crestFactor = 1.6;
  in.ccdfFactor = 12.5;
  return in;
}

// Fields of a record, 1-based as the header numbers them; checks the frame.
std::vector<std::string> fieldsOf(const LogRecordInput& in) {
  const std::string line = buildLogRecord(in);
  EXPECT_GE(line.size(), 2u);
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line only";
  auto f = split(line.substr(0, line.size() - 2));
  EXPECT_EQ(f.back(), "") << "every field is followed by a comma";
  f.pop_back();
  f.insert(f.begin(), "");  // index 0 unused
  return f;
}

TEST(LogRecord, AverageRecordFieldByField) {
  const auto f = fieldsOf(sample());
  ASSERT_EQ(f.size(), 22u);
  EXPECT_EQ(f[1], "12/8/2026");
  EXPECT_EQ(f[2], "09:03:07");
  EXPECT_EQ(f[3], "12345");
  EXPECT_EQ(f[4], "28.310000");
  EXPECT_EQ(f[5], "0");
  EXPECT_EQ(f[6], "50");
  EXPECT_EQ(f[7], "4.5 KHz");
  EXPECT_EQ(f[8], "100.000000");
  EXPECT_EQ(f[9], "50.000000");
  EXPECT_EQ(f[10], "1.000000");
  EXPECT_EQ(f[11], "30.000000");
  EXPECT_EQ(f[12], "0.100");
  EXPECT_EQ(f[13], "1.220");
  EXPECT_EQ(f[14], "-20.00");
  EXPECT_EQ(f[15], "160.000000");
  EXPECT_EQ(f[16], "52.041000");
  EXPECT_EQ(f[17], "125.000000");
  EXPECT_EQ(f[18], "50.969000");
  EXPECT_EQ(f[19], "80.00");
  EXPECT_EQ(f[20], "1.600000");
  EXPECT_EQ(f[21], "NA");
}

TEST(LogRecord, NotApplicableFieldsPerMeasurementType) {
  for (int type = 1; type <= 5; ++type) {
    auto in = sample();
    in.measType = type;
    const auto f = fieldsOf(in);
    ASSERT_EQ(f.size(), 22u) << type;
    if (type == 5) {
      EXPECT_EQ(f[17], "NA");
      EXPECT_EQ(f[18], "NA");
      EXPECT_EQ(f[19], "NA");
      EXPECT_EQ(f[21], "12.500000");
    } else {
      EXPECT_EQ(f[17], "125.000000") << type;
      EXPECT_EQ(f[19], "80.00") << type;
      EXPECT_EQ(f[21], "NA") << type;
    }
    EXPECT_EQ(f[20], "1.600000") << type;
  }
}

TEST(LogRecord, NoMeasurementWritesTheFirstSevenFieldsOnly) {
  for (int type : {0, 6, -1, 255}) {
    auto in = sample();
    in.measType = type;
    EXPECT_EQ(buildLogRecord(in), "12/8/2026,09:03:07,12345,28.310000,0,50,4.5 KHz,,,,\r\n")
        << type;
  }
}

TEST(LogRecord, ForwardIsLimitedToThreeTimesFullScale) {
  auto in = sample();
  in.fwdAvgPower = 500;
  in.rflPowerRaw = 60;  // above 3 x 15 W
  auto f = fieldsOf(in);
  EXPECT_EQ(f[8], "450.000000");
  EXPECT_EQ(f[9], "56.532000");
  EXPECT_EQ(f[10], "45.000000");
  // rho from the limited values: sqrt(45 / 450)
  EXPECT_EQ(f[12], "0.320");
  EXPECT_EQ(f[14], "-10.00");

  in.fwdAvgPower = 450;  // exactly the limit stays
  in.fwdFullScale = 150;
  EXPECT_EQ(fieldsOf(in)[8], "450.000000");
  in.fwdFullScale = 1000;  // the limit follows the sensor's full scale
  in.fwdAvgPower = 2500;
  EXPECT_EQ(fieldsOf(in)[8], "2500.000000");
  in.fwdAvgPower = 3500;
  EXPECT_EQ(fieldsOf(in)[8], "3000.000000");
}

TEST(LogRecord, KilowattReadingsAreLoggedInWatts) {
  auto in = sample();
  in.scaleCode = 10;
  in.fwdAvgPower = 0.1;    // kW
  in.rflPowerRaw = 0.001;  // kW
  auto f = fieldsOf(in);
  EXPECT_EQ(f[8], "100.000000");
  EXPECT_EQ(f[10], "1.000000");
  EXPECT_EQ(f[12], "0.100");
}

TEST(LogRecord, OffsetMultipliesThePowersButNotTheRatios) {
  auto in = sample();
  in.offsetDb = 0;
  auto f0 = fieldsOf(in);
  in.offsetDb = 3;
  auto f3 = fieldsOf(in);
  EXPECT_EQ(f3[5], "3");
  EXPECT_EQ(f3[8], "199.530000");  // 100 x 10^0.3
  EXPECT_EQ(f3[9], "53.000000");
  EXPECT_EQ(f3[10], "1.995300");
  EXPECT_EQ(f3[12], f0[12]);
  EXPECT_EQ(f3[14], f0[14]);
  // Peak, burst and the factors arrive already prepared: not offset again.
  EXPECT_EQ(f3[15], f0[15]);
  EXPECT_EQ(f3[17], f0[17]);
  // The limit comes before the offset.
  in.fwdAvgPower = 500;
  EXPECT_EQ(fieldsOf(in)[8], "897.870000");  // 450 x 10^0.3
  // In every type, Crest and CCDF included.
  in.measType = 4;
  EXPECT_EQ(fieldsOf(in)[8], "897.870000");

  in = sample();
  in.offsetDb = 0.1f;
  f0 = fieldsOf(in);
  EXPECT_EQ(f0[5], "0.100000001490116");
  EXPECT_EQ(f0[8], "102.330000");
  in.offsetDb = -3;  // a negative offset is not applied
  EXPECT_EQ(fieldsOf(in)[8], "100.000000");
  EXPECT_EQ(fieldsOf(in)[5], "-3");
}

TEST(LogRecord, ReflectionFiguresAtTheirEdges) {
  auto in = sample();
  in.rflPowerRaw = 0;  // no reflection measured: rho 1, return loss 0
  auto f = fieldsOf(in);
  EXPECT_EQ(f[12], "1.000");
  EXPECT_EQ(f[14], "0.00");
  EXPECT_EQ(f[10], "0.000000");
  EXPECT_EQ(f[11], "-99.990000");  // the dBm floor of no power
  in.rflPowerRaw = 4;              // rho 0.2
  f = fieldsOf(in);
  EXPECT_EQ(f[12], "0.200");
  EXPECT_EQ(f[14], "-13.98");
  in.vswr = 1234.5;
  EXPECT_EQ(fieldsOf(in)[13], "1.23E3");
}

TEST(LogRecord, SettingsFields) {
  auto in = sample();
  in.ccdfLimit = 12.5f;
  in.filterHz = 10000;
  in.sensorSerial = "";
  auto f = fieldsOf(in);
  EXPECT_EQ(f[3], "");
  EXPECT_EQ(f[6], "12.5");
  EXPECT_EQ(f[7], "Full");
  in.filterHz = 400;
  in.temperature = -5.25f;
  f = fieldsOf(in);
  EXPECT_EQ(f[7], "400 KHz");
  EXPECT_EQ(f[4], "-5.250000");
  in.dateOrder = DateOrder::DayMonthYear;
  EXPECT_EQ(fieldsOf(in)[1], "8/12/2026");
}

TEST(LogRecord, ASerialNumberWithACommaStaysOneField) {
  auto in = sample();
  in.sensorSerial = "12,345";
  const std::string line = buildLogRecord(in);
  EXPECT_NE(line.find(",\"12,345\","), std::string::npos) << line;
}

// The event takes the place after field 21 that is empty in a plain record.
TEST(LogRecord, AnEventRecordIsThePlainOneWithTheEventAfterField21) {
  const std::string plain = buildLogRecord(sample());
  const std::string event = buildLogEventRecord(sample(), "Alarm raised: vswr 2, or more");
  EXPECT_EQ(event, plain.substr(0, plain.size() - 2) + "\"Alarm raised: vswr 2, or more\"\r\n");
}

TEST(LogRecord, AppendKeepsWhatIsAlreadyInTheBuffer) {
  std::string out = "x";
  appendLogRecord(out, sample());
  EXPECT_EQ(out, "x" + buildLogRecord(sample()));
}

TEST(LogHeader, TwoLinesOf21FieldsWithoutATrailingComma) {
  for (auto line : {kLogHeaderLine1, kLogHeaderLine2}) {
    EXPECT_EQ(split(std::string(line)).size(), 21u) << line;
    EXPECT_NE(line.back(), ',');
  }
  EXPECT_EQ(logHeaderText(),
            std::string(kLogHeaderLine1) + "\r\n" + std::string(kLogHeaderLine2) + "\r\n");
  const auto names = split(std::string(kLogHeaderLine2));
  EXPECT_EQ(names[0], "Date");
  EXPECT_EQ(names[13], " Return Loss");
  EXPECT_EQ(names[20], " Factor");
  const auto groups = split(std::string(kLogHeaderLine1));
  EXPECT_EQ(groups[7], "Average");
  EXPECT_EQ(groups[14], "Peak");
  EXPECT_EQ(groups[16], "Burst");
  EXPECT_EQ(groups[19], "Crest");
  EXPECT_EQ(groups[20], "CCDF");
}

TEST(LogPowersPreparation, OrderLimitThenRatiosThenOffset) {
  auto p = prepareLogPowers(500, 60, 9, 150, 15, 10);
  EXPECT_DOUBLE_EQ(p.forwardW, 4500);
  EXPECT_DOUBLE_EQ(p.reflectedW, 450);
  EXPECT_NEAR(p.rho, std::sqrt(0.1), 1e-12);
  EXPECT_NEAR(p.returnLoss, -10, 1e-12);
  p = prepareLogPowers(-1, 0.5, 9, 150, 15, 0);  // a negative reading stays as it is
  EXPECT_DOUBLE_EQ(p.forwardW, -1);
  EXPECT_DOUBLE_EQ(p.rho, 1);
}

}  // namespace
}  // namespace zrq::core
