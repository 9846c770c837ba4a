#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/DataString.h"
#include "core/ReadingFormat.h"
#include "DataStringBuilder.h"

namespace zrq::core {
namespace {

using test::buildDataString;
using test::DataFields;

struct Decoded {
  DecodeResult result;
  SensorReading reading;
  bool settingsChanged = false;
};

Decoded decode(const std::string& s, const DecodeInputs& in = {}, SensorReading start = {}) {
  Decoded d;
  d.reading = start;
  d.result = decodeDataString(s, in, d.reading, d.settingsChanged);
  return d;
}

// A reading whose every field differs from what the test strings carry, so
// "unchanged" is visible.
SensorReading marked() {
  SensorReading r;
  r.burstPower = -1;
  r.temperature = -2;
  r.fwdAvgPower = -3;
  r.rflPowerRaw = -4;
  r.rflPower = -4.5;
  r.peakPower = -5;
  r.spareValue = -6;
  r.reportedType = -7;
  r.scaleCode = 77;
  r.ccdfFactor = -9;
  r.crestFactor = -10;
  r.dutyCycle = -11;
  r.selectedPower = -12;
  r.fwdAvgPowerClamped = -13;
  return r;
}

void expectSame(const SensorReading& a, const SensorReading& b) {
  EXPECT_EQ(a.burstPower, b.burstPower);
  EXPECT_EQ(a.temperature, b.temperature);
  EXPECT_EQ(a.fwdAvgPower, b.fwdAvgPower);
  EXPECT_EQ(a.rflPowerRaw, b.rflPowerRaw);
  EXPECT_EQ(a.rflPower, b.rflPower);
  EXPECT_EQ(a.peakPower, b.peakPower);
  EXPECT_EQ(a.spareValue, b.spareValue);
  EXPECT_EQ(a.reportedType, b.reportedType);
  EXPECT_EQ(a.scaleCode, b.scaleCode);
  EXPECT_EQ(a.ccdfFactor, b.ccdfFactor);
  EXPECT_EQ(a.crestFactor, b.crestFactor);
  EXPECT_EQ(a.dutyCycle, b.dutyCycle);
  EXPECT_EQ(a.selectedPower, b.selectedPower);
  EXPECT_EQ(a.fwdAvgPowerClamped, b.fwdAvgPowerClamped);
}

// Every field a distinct value, so a field read from the wrong columns shows.
DataFields distinctFields(const char* type = " 1", const char* scale = " 9") {
  return DataFields()
      .set(1, "+1.1000E+00")
      .set(2, "+2.2500E+01")
      .set(3, "+3.3000E+00")
      .set(4, "+4.4000E-01")
      .set(5, "+5.5000E+00")
      .set(6, "+6.6000E+00")
      .set(7, type)
      .set(8, scale)
      .set(9, "+9.9000E-01")
      .set(10, "+1.0100E+01")
      .set(11, "+1.1110E+01");
}

void expectDistinct(const SensorReading& r) {
  EXPECT_DOUBLE_EQ(r.burstPower, 1.1);
  EXPECT_FLOAT_EQ(r.temperature, 22.5f);
  EXPECT_DOUBLE_EQ(r.fwdAvgPower, 3.3);
  EXPECT_DOUBLE_EQ(r.rflPowerRaw, 0.44);
  EXPECT_DOUBLE_EQ(r.rflPower, 0.44);
  EXPECT_DOUBLE_EQ(r.peakPower, 5.5);
  EXPECT_DOUBLE_EQ(r.spareValue, 6.6);
  EXPECT_EQ(r.reportedType, 1);
  EXPECT_EQ(r.scaleCode, 9);
  EXPECT_DOUBLE_EQ(r.ccdfFactor, 0.99);
  EXPECT_DOUBLE_EQ(r.crestFactor, 10.1);
  EXPECT_DOUBLE_EQ(r.dutyCycle, 11.11);
  EXPECT_DOUBLE_EQ(r.selectedPower, 3.3);
  EXPECT_DOUBLE_EQ(r.fwdAvgPowerClamped, 3.3);
}

// ---- Layouts --------------------------------------------------------------

TEST(DataStringLayouts, BothLayoutsPlaceEveryFieldAtItsColumns) {
  const std::string a = buildDataString(distinctFields(), DataStringLayout::A);
  const std::string b = buildDataString(distinctFields(), DataStringLayout::B);
  ASSERT_EQ(endMarkerPosition(a), 116u);
  ASSERT_EQ(endMarkerPosition(b), 119u);
  // The commas of both layouts, 1-based.
  for (std::size_t pos : {1, 13, 26, 38, 50, 62, 74, 77, 80, 92, 104})
    EXPECT_EQ(a[pos - 1], ',') << pos;
  for (std::size_t pos : {1, 13, 26, 38, 50, 62, 74, 77, 80, 83, 95, 107})
    EXPECT_EQ(b[pos - 1], ',') << pos;

  for (const auto& s : {a, b}) {
    auto d = decode(s);
    ASSERT_EQ(d.result.outcome, DecodeOutcome::Accepted) << d.result.errorText;
    expectDistinct(d.reading);
  }
  EXPECT_EQ(decode(a).result.layout, DataStringLayout::A);
  EXPECT_EQ(decode(b).result.layout, DataStringLayout::B);
}

TEST(DataStringLayouts, LayoutBSkipsTheExtraFieldAndReadsTheTypeAfterIt) {
  DataFields f = distinctFields(" 2");
  f.extraB = " 1";  // would be a matching type if it were read as field 7
  auto d = decode(buildDataString(f, DataStringLayout::B));
  EXPECT_EQ(d.result.outcome, DecodeOutcome::TypeMismatch);
  EXPECT_EQ(d.reading.reportedType, 2);

  f.extraB = "xx";  // never converted
  EXPECT_EQ(decode(buildDataString(f, DataStringLayout::B)).reading.reportedType, 2);
}

TEST(DataStringLayouts, AnythingAfterTheEndMarkerAndATrailingReturnAreIgnored) {
  const std::string a = buildDataString(distinctFields(), DataStringLayout::A);
  for (const std::string& s :
       {a + "\r", a + "\r\n", a + "garbage,,1,2", a + std::string(50, 'x')}) {
    auto d = decode(s);
    ASSERT_EQ(d.result.outcome, DecodeOutcome::Accepted);
    expectDistinct(d.reading);
  }
}

TEST(DataStringLayouts, FieldsAreStrippedOfBlanksAndControlCharacters) {
  DataFields f = distinctFields();
  f.set(3, "\t3.3\x01  ")
      .set(7, "1\r")
      .set(8,
           "\x7f"
           "9");
  auto d = decode(buildDataString(f, DataStringLayout::A));
  ASSERT_EQ(d.result.outcome, DecodeOutcome::Accepted) << d.result.errorText;
  EXPECT_DOUBLE_EQ(d.reading.fwdAvgPower, 3.3);
  EXPECT_EQ(d.reading.scaleCode, 9);
}

TEST(DataStringLayouts, RealFieldsAcceptSignsExponentsAndPlainDecimals) {
  const std::vector<std::pair<std::string, double>> rows = {
      {"+1.0000E+02", 100.0}, {"-1.0000E+02", -100.0},
      {"1.5e-3", 0.0015},     {"42", 42.0},
      {"-.5", -0.5},          {"7.", 7.0},
      {"1E2", 100.0},         {"+0", 0.0},
      {"1.0E-400", 0.0},      {"-1e-999", 0.0}};
  for (const auto& [text, value] : rows) {
    auto d = decode(buildDataString(DataFields().set(3, text), DataStringLayout::A));
    ASSERT_EQ(d.result.outcome, DecodeOutcome::Accepted) << text << ": " << d.result.errorText;
    EXPECT_DOUBLE_EQ(d.reading.fwdAvgPower, value) << text;
  }
}

// ---- Outcomes -----------------------------------------------------------

TEST(DataStringOutcomes, UnusableWhenEmptyOrTheFirstCharacterIsNotAComma) {
  const std::string good = buildDataString(distinctFields(), DataStringLayout::A);
  for (const std::string& s : {std::string(), std::string(" ") + good, "\r" + good, "D" + good,
                               good.substr(1), std::string("\0", 1) + good}) {
    const SensorReading start = marked();
    auto d = decode(s, {}, start);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::Unusable);
    EXPECT_FALSE(d.settingsChanged);
    expectSame(d.reading, start);
  }
}

TEST(DataStringOutcomes, IgnoredWhenTheEndMarkerIsAnywhereElse) {
  const std::string a = buildDataString(distinctFields(), DataStringLayout::A);
  std::string longer = a;
  longer.insert(3, " ");  // one character more in front of the marker: 117
  std::string shorter = a;
  shorter.erase(3, 1);  // 115
  std::string early = a;
  early[12] = ',';
  early[13] = ',';  // a ",," long before the end
  for (const std::string& s : {longer, shorter, early, a.substr(0, a.size() - 2), std::string(","),
                               std::string(",,"), std::string(200, ',')}) {
    const SensorReading start = marked();
    auto d = decode(s, {}, start);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::Ignored) << s;
    EXPECT_FALSE(d.settingsChanged);
    expectSame(d.reading, start);
  }
  EXPECT_EQ(endMarkerPosition(longer), 117u);
}

TEST(DataStringOutcomes, TypeMismatchStoresRawFieldsSetsTheFlagAndKeepsDerivedValues) {
  DecodeInputs in;
  in.measType = MeasType::Peak;
  const SensorReading start = marked();
  auto d = decode(buildDataString(distinctFields(" 1"), DataStringLayout::A), in, start);
  EXPECT_EQ(d.result.outcome, DecodeOutcome::TypeMismatch);
  EXPECT_TRUE(d.settingsChanged);
  EXPECT_DOUBLE_EQ(d.reading.peakPower, 5.5);
  EXPECT_DOUBLE_EQ(d.reading.rflPowerRaw, 0.44);
  EXPECT_EQ(d.reading.reportedType, 1);
  EXPECT_EQ(d.reading.selectedPower, start.selectedPower);
  EXPECT_EQ(d.reading.fwdAvgPowerClamped, start.fwdAvgPowerClamped);
  EXPECT_EQ(d.reading.rflPower, start.rflPower);
}

TEST(DataStringOutcomes, ARequestedZeroCalibrationSkipsTheTypeCheck) {
  DecodeInputs in;
  in.measType = MeasType::Peak;
  in.zeroCalRequested = true;
  auto d = decode(buildDataString(distinctFields(" 1"), DataStringLayout::A), in);
  EXPECT_EQ(d.result.outcome, DecodeOutcome::Accepted);
  EXPECT_FALSE(d.settingsChanged);
  EXPECT_DOUBLE_EQ(d.reading.selectedPower, 5.5);  // the selected type's value
}

TEST(DataStringOutcomes, TheDecoderNeverClearsSettingsChanged) {
  SensorReading r;
  bool changed = true;
  auto res =
      decodeDataString(buildDataString(distinctFields(), DataStringLayout::A), {}, r, changed);
  EXPECT_EQ(res.outcome, DecodeOutcome::Accepted);
  EXPECT_TRUE(changed);
}

// ---- Conversion errors ----------------------------------------------------

// Conversion order: 1, 2, 3, 4, 5, 6, 9, 10, 11, 8, 7. A bad field leaves
// every field before it in that order updated and every later one untouched.
TEST(DataStringConversionErrors, FieldsBeforeTheBadOneAreUpdatedLaterOnesAreNot) {
  const int order[] = {1, 2, 3, 4, 5, 6, 9, 10, 11, 7};  // 8 never fails
  for (int bad : order) {
    for (DataStringLayout layout : {DataStringLayout::A, DataStringLayout::B}) {
      DataFields f = distinctFields();
      f.set(bad, bad == 7 ? "x1" : "1.2.3");
      const SensorReading start = marked();
      auto d = decode(buildDataString(f, layout), {}, start);
      ASSERT_EQ(d.result.outcome, DecodeOutcome::ConversionError) << bad;
      EXPECT_EQ(d.result.errorField, bad);
      EXPECT_NE(d.result.errorText.find(bad == 7 ? "'x1'" : "'1.2.3'"), std::string::npos)
          << d.result.errorText;
      EXPECT_NE(d.result.errorText.find(bad == 7 ? "integer" : "floating point"),
                std::string::npos);
      EXPECT_FALSE(d.settingsChanged);

      auto rank = [&](int field) {
        const int full[] = {1, 2, 3, 4, 5, 6, 9, 10, 11, 8, 7};
        for (int i = 0; i < 11; ++i)
          if (full[i] == field) return i;
        return -1;
      };
      const bool updated[12] = {false,
                                rank(1) < rank(bad),
                                rank(2) < rank(bad),
                                rank(3) < rank(bad),
                                rank(4) < rank(bad),
                                rank(5) < rank(bad),
                                rank(6) < rank(bad),
                                rank(7) < rank(bad),
                                rank(8) < rank(bad),
                                rank(9) < rank(bad),
                                rank(10) < rank(bad),
                                rank(11) < rank(bad)};
      const SensorReading& r = d.reading;
      EXPECT_EQ(r.burstPower, updated[1] ? 1.1 : start.burstPower) << bad;
      EXPECT_EQ(r.temperature, updated[2] ? 22.5f : start.temperature) << bad;
      EXPECT_EQ(r.fwdAvgPower, updated[3] ? 3.3 : start.fwdAvgPower) << bad;
      EXPECT_EQ(r.rflPowerRaw, updated[4] ? 0.44 : start.rflPowerRaw) << bad;
      EXPECT_EQ(r.peakPower, updated[5] ? 5.5 : start.peakPower) << bad;
      EXPECT_EQ(r.spareValue, updated[6] ? 6.6 : start.spareValue) << bad;
      EXPECT_EQ(r.reportedType, start.reportedType) << bad;  // always last
      EXPECT_EQ(r.scaleCode, updated[8] ? 9 : start.scaleCode) << bad;
      EXPECT_EQ(r.ccdfFactor, updated[9] ? 0.99 : start.ccdfFactor) << bad;
      EXPECT_EQ(r.crestFactor, updated[10] ? 10.1 : start.crestFactor) << bad;
      EXPECT_EQ(r.dutyCycle, updated[11] ? 11.11 : start.dutyCycle) << bad;
      // Derived values are never touched by a failed decoding.
      EXPECT_EQ(r.rflPower, start.rflPower);
      EXPECT_EQ(r.selectedPower, start.selectedPower);
      EXPECT_EQ(r.fwdAvgPowerClamped, start.fwdAvgPowerClamped);
    }
  }
}

TEST(DataStringConversionErrors, TextsThatAreNotDecimalNumbersFail) {
  for (const char* text : {"", "   ", "abc", "inf", "nan", "-inf", "0x1p3", "1e", "1e+", "+", "-",
                           ".", "1.0.0", "1,0", "1 0", "1e5.5", "++1", "1e999", "\xC2\xB5"}) {
    auto d = decode(buildDataString(distinctFields().set(1, text), DataStringLayout::A));
    EXPECT_EQ(d.result.outcome, DecodeOutcome::ConversionError) << "'" << text << "'";
    EXPECT_EQ(d.result.errorField, 1);
  }
}

TEST(DataStringConversionErrors, TheTypeFieldIsStrict) {
  for (const char* text : {"", "1.", "a", "1x", "--", "+"}) {
    auto d = decode(buildDataString(distinctFields().set(7, text), DataStringLayout::A));
    EXPECT_EQ(d.result.outcome, DecodeOutcome::ConversionError) << "'" << text << "'";
    EXPECT_EQ(d.result.errorField, 7);
  }
  auto signedType = decode(buildDataString(distinctFields().set(7, "+1"), DataStringLayout::A));
  EXPECT_EQ(signedType.result.outcome, DecodeOutcome::Accepted);
}

TEST(DataStringConversionErrors, TheScaleFieldIsLenient) {
  const std::vector<std::pair<std::string, int>> rows = {
      {"10", 10}, {" 9", 9}, {"+9", 9}, {"xx", 0}, {"", 0}, {"-1", 0}, {"9.", 0}, {"99", 99}};
  for (const auto& [text, code] : rows) {
    SensorReading start = marked();
    auto d = decode(buildDataString(distinctFields().set(8, text), DataStringLayout::A), {}, start);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::Accepted) << text;
    EXPECT_EQ(d.reading.scaleCode, code) << text;
  }
}

TEST(DataStringConversionErrors, ATemperatureBeyondFloatRangeIsAnErrorNotInfinity) {
  auto d = decode(buildDataString(distinctFields().set(2, "+1.0000E+300"), DataStringLayout::A));
  EXPECT_EQ(d.result.outcome, DecodeOutcome::ConversionError);
  EXPECT_EQ(d.result.errorField, 2);
  EXPECT_FLOAT_EQ(d.reading.temperature, 25.0f);
}

TEST(DataStringConversionErrors, ABadFieldIsQuotedWithUnprintableBytesAsHex) {
  auto d = decode(buildDataString(distinctFields().set(3,
                                                       "1\x7f"
                                                       "2\x80"),
                                  DataStringLayout::A));
  ASSERT_EQ(d.result.outcome, DecodeOutcome::ConversionError);
  EXPECT_NE(d.result.errorText.find("'1\\x7F2\\x80'"), std::string::npos) << d.result.errorText;
  EXPECT_EQ(printableBytes(std::string("a\0 ~\x1f\xff", 6)), "a\\x00 ~\\x1F\\xFF");
  EXPECT_EQ(printableBytes(""), "");
}

// ---- Selection, clamps and scale ----------------------------------------

struct ClampRow {
  const char* name;
  MeasType type;
  int field;  // the field carrying `value`
  double value;
  double fullScale;
  std::uint16_t mask;
  double selected;  // expected selectedPower
};

TEST(DataStringClamps, TheMainReadingIsClampedByTypeAndFeature) {
  const ClampRow rows[] = {
      {"average below", MeasType::Average, 3, 100, 150, 0x13DF, 100},
      {"average at 1.5 FS", MeasType::Average, 3, 225, 150, 0x13DF, 225},
      {"average above", MeasType::Average, 3, 300, 150, 0x13DF, 225},
      {"average negative", MeasType::Average, 3, -5, 150, 0x13DF, -5},
      {"peak at 2.7 FS", MeasType::Peak, 5, 405, 150, 0x13DF, 405},
      {"peak 400", MeasType::Peak, 5, 400, 150, 0x13DF, 400},
      {"peak above 2.7 FS", MeasType::Peak, 5, 500, 150, 0x13DF, 850.5},
      {"peak just above", MeasType::Peak, 5, 405.001, 150, 0x13DF, 850.5},
      {"peak without the feature", MeasType::Peak, 5, 300, 150, 0x03DF, 225},
      {"burst above 2.7 FS", MeasType::Burst, 1, 1000, 150, 0x1000, 850.5},
      {"burst between", MeasType::Burst, 1, 300, 150, 0x1000, 300},
      {"burst without the feature", MeasType::Burst, 1, 300, 150, 0, 225},
      {"crest", MeasType::Crest, 10, 12, 150, 0x13DF, 12},
      {"crest above 1.5 FS", MeasType::Crest, 10, 300, 150, 0x13DF, 225},
      {"ccdf", MeasType::CCDF, 9, 0.5, 150, 0x13DF, 0.5},
      {"ccdf above 1.5 FS", MeasType::CCDF, 9, 1000, 150, 0x13DF, 225},
      {"small sensor", MeasType::Average, 3, 20, 10, 0x13DF, 15},
  };
  for (const auto& row : rows) {
    const char* code = row.type == MeasType::Average ? " 1"
                       : row.type == MeasType::Peak  ? " 2"
                       : row.type == MeasType::Burst ? " 3"
                       : row.type == MeasType::Crest ? " 4"
                                                     : " 5";
    DataFields f = distinctFields(code);
    f.set(row.field, shortestText(row.value));
    DecodeInputs in;
    in.measType = row.type;
    in.fwdFullScale = static_cast<float>(row.fullScale);
    in.featureMask = row.mask;
    auto d = decode(buildDataString(f, DataStringLayout::A), in);
    ASSERT_EQ(d.result.outcome, DecodeOutcome::Accepted) << row.name << d.result.errorText;
    EXPECT_DOUBLE_EQ(d.reading.selectedPower, row.selected) << row.name;
  }
}

TEST(DataStringClamps, UnknownSelectedTypesSelectZero) {
  for (MeasType t : {MeasType::None, static_cast<MeasType>(6), static_cast<MeasType>(200)}) {
    DecodeInputs in;
    in.measType = t;
    in.zeroCalRequested = true;
    auto d = decode(buildDataString(distinctFields(), DataStringLayout::A), in);
    ASSERT_EQ(d.result.outcome, DecodeOutcome::Accepted);
    EXPECT_EQ(d.reading.selectedPower, 0.0);
  }
}

TEST(DataStringClamps, ForwardAverageAndReflectedClampAtTheirBounds) {
  struct Row {
    double fwd, rfl, fwdClamped, rflClamped;
  } rows[] = {
      {100, 10, 100, 10},         {225, 22.5, 225, 22.5},  // at the bounds: unchanged
      {225.01, 22.51, 225, 22.5}, {300, 40, 225, 22.5},   {-1, -1, -1, -1},
  };
  for (const auto& row : rows) {
    DataFields f = distinctFields();
    f.set(3, shortestText(row.fwd)).set(4, shortestText(row.rfl));
    auto d = decode(buildDataString(f, DataStringLayout::A));
    ASSERT_EQ(d.result.outcome, DecodeOutcome::Accepted);
    EXPECT_DOUBLE_EQ(d.reading.fwdAvgPowerClamped, row.fwdClamped) << row.fwd;
    EXPECT_DOUBLE_EQ(d.reading.rflPower, row.rflClamped) << row.rfl;
    EXPECT_DOUBLE_EQ(d.reading.rflPowerRaw, row.rfl) << row.rfl;
    EXPECT_DOUBLE_EQ(d.reading.fwdAvgPower, row.fwd);
  }
}

TEST(DataStringScale, KilowattScaleConvertsOnlyTheDerivedPowers) {
  struct Row {
    const char* scale;
    MeasType type;
    const char* code;
    double selected, fwd, rfl;
  } rows[] = {
      {" 9", MeasType::Average, " 1", 100, 100, 0.44},
      {"10", MeasType::Average, " 1", 100000, 100000, 440},
      {"10", MeasType::Peak, " 2", 5500, 100000, 440},
      {"10", MeasType::Burst, " 3", 1100, 100000, 440},
      // Ratios are never scaled, and with them neither are the other two.
      {"10", MeasType::Crest, " 4", 10.1, 100, 0.44},
      {"10", MeasType::CCDF, " 5", 0.99, 100, 0.44},
      {" 0", MeasType::Average, " 1", 100, 100, 0.44},
      {"11", MeasType::Average, " 1", 100, 100, 0.44},
  };
  for (const auto& row : rows) {
    DataFields f = distinctFields(row.code, row.scale);
    f.set(3, "+1.0000E+02");
    DecodeInputs in;
    in.measType = row.type;
    auto d = decode(buildDataString(f, DataStringLayout::A), in);
    ASSERT_EQ(d.result.outcome, DecodeOutcome::Accepted);
    EXPECT_DOUBLE_EQ(d.reading.selectedPower, row.selected) << row.scale << " " << row.code;
    EXPECT_DOUBLE_EQ(d.reading.fwdAvgPowerClamped, row.fwd) << row.scale << " " << row.code;
    EXPECT_DOUBLE_EQ(d.reading.rflPower, row.rfl) << row.scale << " " << row.code;
    // Raw fields stay as received.
    EXPECT_DOUBLE_EQ(d.reading.fwdAvgPower, 100);
    EXPECT_DOUBLE_EQ(d.reading.rflPowerRaw, 0.44);
    EXPECT_DOUBLE_EQ(d.reading.peakPower, 5.5);
    EXPECT_DOUBLE_EQ(d.reading.burstPower, 1.1);
  }
}

TEST(DataStringScale, ClampingComesBeforeScaling) {
  DataFields f = distinctFields(" 1", "10");
  f.set(3, "300").set(4, "40");
  auto d = decode(buildDataString(f, DataStringLayout::A));
  EXPECT_DOUBLE_EQ(d.reading.selectedPower, 225000);
  EXPECT_DOUBLE_EQ(d.reading.fwdAvgPowerClamped, 225000);
  EXPECT_DOUBLE_EQ(d.reading.rflPower, 22500);
  EXPECT_DOUBLE_EQ(d.reading.rflPowerRaw, 40);
}

// ---- Robustness ---------------------------------------------------------

TEST(DataStringRobustness, EveryLengthOfJunkAndOfTruncatedStringsIsHandled) {
  const std::string good = buildDataString(distinctFields(), DataStringLayout::B);
  std::string junk;
  unsigned seed = 12345;
  for (std::size_t len = 0; len <= 130; ++len) {
    for (int variant = 0; variant < 4; ++variant) {
      std::string s;
      for (std::size_t i = 0; i < len; ++i) {
        seed = seed * 1103515245u + 12345u;
        const char c = static_cast<char>(seed >> 16);
        s += variant == 0   ? c
             : variant == 1 ? (i == 0 ? ',' : ",,0.\0 e+-"[(seed >> 20) % 10])
             : variant == 2 ? (i < good.size() ? good[i] : c)
                            : (i == 0 ? ',' : static_cast<char>(c | 0x80));
      }
      SensorReading r = marked();
      bool changed = false;
      auto res = decodeDataString(s, {}, r, changed);
      if (len < 116) {
        EXPECT_TRUE(res.outcome == DecodeOutcome::Unusable || res.outcome == DecodeOutcome::Ignored)
            << len;
        expectSame(r, marked());
      }
    }
  }
}

TEST(DataStringRobustness, LongBinaryInputIsHandled) {
  const std::string good = buildDataString(distinctFields(), DataStringLayout::A);
  std::string binary(10240, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 131 + 7);
  binary[0] = ',';
  for (const std::string& s :
       {binary, good + binary, std::string(10240, '\0'), "," + std::string(10239, '\xff')}) {
    SensorReading r = marked();
    bool changed = false;
    auto res = decodeDataString(s, {}, r, changed);
    EXPECT_NE(res.outcome, DecodeOutcome::TypeMismatch);
  }
  // A valid string followed by 10 kB of junk is still the valid string.
  SensorReading r;
  bool changed = false;
  EXPECT_TRUE(decodeDataString(good + binary, {}, r, changed).accepted());
  expectDistinct(r);
}

}  // namespace
}  // namespace zrq::core
