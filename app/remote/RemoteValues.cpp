#include "RemoteValues.h"

#include <arpa/inet.h>

#include <charconv>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "core/LogValues.h"
#include "core/PanelValues.h"
#include "core/PowerMath.h"

namespace zrq::remote {

using core::MeasType;

namespace {

scpi::Filter filterOf(float hz) {
  if (hz == 400) return scpi::Filter::K400;
  if (hz == 10000) return scpi::Filter::Full;
  return scpi::Filter::K4_5;
}

float hzOf(scpi::Filter f) {
  switch (f) {
    case scpi::Filter::K400:
      return 400;
    case scpi::Filter::Full:
      return 10000;
    case scpi::Filter::K4_5:
      break;
  }
  return 4500;
}

}  // namespace

scpi::Settings settingsOf(const core::InstrumentState& s) {
  scpi::Settings out;
  // No sensor streaming (type 0): the type the next connect starts with.
  const int code = core::measTypeCode(s.measType == MeasType::None ? s.typeAtConnect : s.measType);
  out.function =
      code >= 1 && code <= 5 ? static_cast<scpi::Function>(code) : scpi::Function::Average;
  out.unit = s.fwdUnit == core::PowerUnit::dBm ? scpi::PowerUnit::Dbm : scpi::PowerUnit::Watt;
  out.offsetDb = s.offsetDb;
  out.ccdfLimitW = s.ccdfLimit;
  out.filter = filterOf(s.filterHz);
  return out;
}

void selectMeasType(core::InstrumentState& s, MeasType type) {
  s.measType = type;
  auto& r = s.reading;
  switch (type) {
    case MeasType::Average:
      r.selectedPower = core::rawPowerInWatts(r.fwdAvgPower, r.scaleCode);
      break;
    case MeasType::Peak:
      r.selectedPower = core::rawPowerInWatts(r.peakPower, r.scaleCode);
      break;
    case MeasType::Burst:
      r.selectedPower = core::rawPowerInWatts(r.burstPower, r.scaleCode);
      break;
    case MeasType::Crest:
      r.selectedPower = r.crestFactor;
      break;
    case MeasType::CCDF:
      r.selectedPower = r.ccdfFactor;
      break;
    default:
      break;
  }
  s.settingsChanged = true;
}

bool applySettings(core::InstrumentState& s, const scpi::Settings& to) {
  const scpi::Settings was = settingsOf(s);
  s.offsetDb = static_cast<float>(to.offsetDb);
  // The panel's unit button leaves the forward unit alone in Crest and CCDF.
  if (to.unit != was.unit && s.measType != MeasType::Crest && s.measType != MeasType::CCDF)
    s.fwdUnit = to.unit == scpi::PowerUnit::Dbm ? core::PowerUnit::dBm : core::PowerUnit::AutoW;
  if (to.ccdfLimitW != was.ccdfLimitW) {
    s.ccdfLimit = static_cast<float>(to.ccdfLimitW);
    s.settingsChanged = true;
  }
  if (to.filter != was.filter) {
    s.filterHz = hzOf(to.filter);
    s.settingsChanged = true;
  }
  const auto type = static_cast<MeasType>(static_cast<int>(to.function));
  if (s.measType == MeasType::None) {
    s.typeAtConnect = type;
    return false;
  }
  if (s.measType == type) return false;
  selectMeasType(s, type);
  return true;
}

scpi::Reading readingOf(const core::InstrumentState& s, std::uint64_t sequence, std::string time) {
  const core::PanelSettings ps = core::panelSettings(s);
  const core::SensorReading& r = s.reading;
  const core::LogValues lv = core::computeLogValues(r, ps);
  scpi::Reading out;
  out.sequence = sequence;
  out.time = std::move(time);
  const int code = r.reportedType;
  out.function =
      code >= 1 && code <= 5 ? static_cast<scpi::Function>(code) : scpi::Function::Average;
  const auto type = static_cast<MeasType>(static_cast<int>(out.function));
  // The peak window shows peak power and VSWR in every type; the burst window
  // has no burst power in CCDF; the two ratios belong to their own types.
  out.forwardAverageW = lv.fwdAvgW;
  out.forwardPeakW = lv.peakW;
  if (type != MeasType::CCDF) out.forwardBurstW = lv.burstW;
  if (type == MeasType::Crest)
    out.crestFactorDb = core::convertPower(core::PowerUnit::dB, r.crestFactor);
  if (type == MeasType::CCDF) out.ccdfPercent = r.ccdfFactor;
  out.reflectedW = lv.rflW;
  // The Average read-out's ratios, in every type: the panel's own pair in
  // other types is taken against the type's value, not the forward power.
  out.rho = core::reflectionRatio(core::PowerUnit::Rho, lv.rflW, lv.fwdAvgW);
  out.vswr = core::reflectionRatio(core::PowerUnit::VSWR, lv.rflW, lv.fwdAvgW);
  out.returnLossDb = core::reflectionRatio(core::PowerUnit::ReturnLoss, lv.rflW, lv.fwdAvgW);
  out.temperatureC = r.temperature;
  return out;
}

std::string zeroCalibrationRefusal(bool running, bool streaming) {
  if (running) return "a zero calibration is already running";
  if (!streaming) return "no sensor is streaming";
  return {};
}

std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  std::string out;
  for (char c : text)
    if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string isoLocalTime() {
  return isoLocalTime(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count());
}

std::string isoLocalTime(std::int64_t epochMs) {
  // Floor, so that times before the epoch keep a positive millisecond field.
  std::int64_t ms = epochMs % 1000;
  if (ms < 0) ms += 1000;
  const std::time_t t = static_cast<std::time_t>((epochMs - ms) / 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  char date[32];
  char zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
  std::strftime(zone, sizeof zone, "%z", &tm);  // +0100
  char out[64];
  std::snprintf(out, sizeof out, "%s.%03d%.3s:%.2s", date, static_cast<int>(ms), zone, zone + 3);
  return out;
}

bool parseListenAddress(std::string_view text, ListenAddress& out, std::string* why) {
  auto fail = [&](const std::string& w) {
    if (why) *why = w;
    return false;
  };
  ListenAddress a;
  std::string_view portText = text;
  if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
    a.host = std::string(text.substr(0, colon));
    portText = text.substr(colon + 1);
    in_addr ip{};
    if (inet_pton(AF_INET, a.host.c_str(), &ip) != 1)
      return fail("\"" + a.host + "\" is not an IPv4 address (such as 127.0.0.1 or 0.0.0.0)");
  }
  int port = -1;
  const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() ||
      port < 0 || port > 65535)
    return fail("\"" + std::string(portText) + "\" is not a port number (0 to 65535)");
  a.port = port;
  out = a;
  return true;
}

core::QuantityValues quantityValues(const scpi::Reading& r) {
  using Q = core::AlarmQuantity;
  core::QuantityValues v{};
  auto set = [&](Q q, const std::optional<double>& x) { v[static_cast<std::size_t>(q)] = x; };
  set(Q::ForwardAverageW, r.forwardAverageW);
  if (r.forwardAverageW && *r.forwardAverageW > 0)
    set(Q::ForwardAverageDbm, 10 * std::log10(*r.forwardAverageW) + 30);
  set(Q::ForwardPeakW, r.forwardPeakW);
  set(Q::ForwardBurstW, r.forwardBurstW);
  set(Q::CrestFactorDb, r.crestFactorDb);
  set(Q::CcdfPercent, r.ccdfPercent);
  set(Q::ReflectedW, r.reflectedW);
  set(Q::Rho, r.rho);
  set(Q::Vswr, r.vswr);
  set(Q::ReturnLossDb, r.returnLossDb);
  return v;
}

}  // namespace zrq::remote
