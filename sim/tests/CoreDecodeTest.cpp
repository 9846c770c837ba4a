// What the simulator streams decodes with the application's readings core.

#include "Engine.h"

#include "core/DataString.h"

#include <gtest/gtest.h>

#include <charconv>

using namespace tks7730sim;
namespace core = zrq::core;

namespace {

std::string num5(double v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 5);
  return std::string(buf, r.ptr);
}

// Streams `ms` of data lines and returns the data strings (carriage return kept,
// as the host's reader hands them over).
std::vector<std::string> stream(SensorConfig c, std::vector<FaultSpec> faults, int type, int ms) {
  auto t = Engine::Clock::time_point{} + std::chrono::hours(1);
  c.bannerCount = 0;
  Engine e(c, faults, "serial", false, nullptr, t);
  std::string g = "G,";
  g += static_cast<char>(type);
  g += "," + num5(0) + "," + num5(4500) + ",";
  g += static_cast<char>(11);
  g += "," + num5(50) + " \r\n";
  e.receive(g, t);
  e.takeOutput();
  e.receive("D\r\n", t);
  std::string out;
  for (int i = 0; i <= ms; i += 10) {
    e.advance(t + std::chrono::milliseconds(i));
    out += e.takeOutput();
  }
  std::vector<std::string> lines;
  size_t p = 0;
  while ((p = out.find('D', p)) != std::string::npos) {
    const size_t cr = out.find('\r', p);
    if (cr == std::string::npos) break;
    lines.push_back(out.substr(p + 1, cr - p));
    p = cr;
  }
  return lines;
}

std::vector<FaultSpec> fault(const char* spec) {
  std::string err;
  return {*parseFault(spec, err)};
}

}  // namespace

TEST(CoreDecode, BothLayoutsAreAcceptedWithTheValuesSent) {
  for (Layout layout : {Layout::A, Layout::B}) {
    SensorConfig c;
    c.layout = layout;
    c.signal.forwardAvgW = 100;
    for (int type = 1; type <= 5; ++type) {
      const auto lines = stream(c, {}, type, 500);
      ASSERT_EQ(lines.size(), 5u);
      for (const auto& l : lines) {
        core::SensorReading r;
        core::DecodeInputs in;
        in.measType = static_cast<core::MeasType>(type);
        bool changed = false;
        const auto res = core::decodeDataString(l, in, r, changed);
        ASSERT_EQ(res.outcome, core::DecodeOutcome::Accepted) << res.errorText << " in " << l;
        EXPECT_EQ(res.layout,
                  layout == Layout::A ? core::DataStringLayout::A : core::DataStringLayout::B);
        EXPECT_FALSE(changed);
        EXPECT_EQ(r.reportedType, type);
        EXPECT_EQ(r.scaleCode, 9);
        EXPECT_NEAR(r.fwdAvgPower, 100, 5);
        EXPECT_NEAR(r.crestFactor, r.peakPower / r.fwdAvgPower, 1e-3);
        EXPECT_NEAR(r.dutyCycle, 80, 1e-9);
        EXPECT_GT(r.rflPowerRaw, 0);
        EXPECT_GT(r.temperature, 20);
      }
    }
  }
}

TEST(CoreDecode, KilowattSensorScalesToWatts) {
  SensorConfig c;
  c.kilowatt = true;
  c.signal.forwardAvgW = 100;
  const auto l = stream(c, {}, 1, 100).at(0);
  core::SensorReading r;
  bool changed = false;
  ASSERT_TRUE(core::decodeDataString(l, core::DecodeInputs{}, r, changed).accepted());
  EXPECT_EQ(r.scaleCode, 10);
  EXPECT_NEAR(r.fwdAvgPower, 0.1, 0.005);
  EXPECT_NEAR(r.selectedPower, 100, 5);
}

TEST(CoreDecode, FaultsReachTheCoreAsTheirOutcomes) {
  SensorConfig c;
  core::DecodeInputs in;
  bool changed = false;
  core::SensorReading r;
  EXPECT_EQ(
      core::decodeDataString(stream(c, fault("layout"), 1, 100).at(0), in, r, changed).outcome,
      core::DecodeOutcome::Ignored);
  EXPECT_EQ(
      core::decodeDataString(stream(c, fault("truncate"), 1, 100).at(0), in, r, changed).outcome,
      core::DecodeOutcome::Ignored);
  const auto nan =
      core::decodeDataString(stream(c, fault("nan,field=4"), 1, 100).at(0), in, r, changed);
  EXPECT_EQ(nan.outcome, core::DecodeOutcome::ConversionError);
  EXPECT_EQ(nan.errorField, 4);
  EXPECT_EQ(
      core::decodeDataString(stream(c, fault("wrong-type"), 1, 100).at(0), in, r, changed).outcome,
      core::DecodeOutcome::TypeMismatch);
  EXPECT_TRUE(changed);
}
