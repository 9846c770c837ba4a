#include "core/LogRecord.h"

#include <cmath>

#include "core/PanelValues.h"
#include "core/PowerMath.h"

namespace zrq::core {

std::string logHeaderText() {
  std::string s;
  s.reserve(kLogHeaderLine1.size() + kLogHeaderLine2.size() + 4);
  s += kLogHeaderLine1;
  s += kLogLineEnd;
  s += kLogHeaderLine2;
  s += kLogLineEnd;
  return s;
}

LogPowers prepareLogPowers(double fwdAvgPower, double rflPowerRaw, std::uint8_t scaleCode,
                           double fwdFullScale, double rflFullScale, float offsetDb) {
  LogPowers p;
  // A kilowatt sensor sends kW: without this its log would read 1000 times low.
  p.forwardW = rawPowerInWatts(fwdAvgPower, scaleCode);
  p.reflectedW = rawPowerInWatts(rflPowerRaw, scaleCode);
  if (p.forwardW > 3 * fwdFullScale) p.forwardW = 3 * fwdFullScale;
  if (p.reflectedW > 3 * rflFullScale) p.reflectedW = 3 * rflFullScale;
  p.rho = reflectionRatio(PowerUnit::Rho, p.reflectedW, p.forwardW);
  p.returnLoss = reflectionRatio(PowerUnit::ReturnLoss, p.reflectedW, p.forwardW);
  if (offsetDb > 0) {
    const double k = offsetFactor(offsetDb);
    p.forwardW *= k;
    p.reflectedW *= k;
  }
  return p;
}

namespace {

void field(std::string& out) { out += ','; }

void fixedField(std::string& out, double v, int sig, int decimals) {
  appendLogFixed(out, v, sig, decimals);
  out += ',';
}

void watts(std::string& out, double w) {
  fixedField(out, w, 5, 6);
  fixedField(out, convertPower(PowerUnit::dBm, w), 5, 6);
}

}  // namespace

void appendLogRecord(std::string& out, const LogRecordInput& in) {
  appendLogDate(out, in.when, in.dateOrder);
  field(out);
  appendLogTime(out, in.when);
  field(out);
  appendLogText(out, in.sensorSerial);
  field(out);
  fixedField(out, in.temperature, 5, 6);
  appendLogGeneral(out, in.offsetDb);
  field(out);
  appendLogGeneral(out, in.ccdfLimit);
  field(out);
  appendLogFilter(out, in.filterHz);
  field(out);

  const bool ccdf = in.measType == 5;
  if (in.measType < 1 || in.measType > 5) {
    out += ",,,";
    out += kLogLineEnd;
    return;
  }
  const LogPowers p = prepareLogPowers(in.fwdAvgPower, in.rflPowerRaw, in.scaleCode,
                                       in.fwdFullScale, in.rflFullScale, in.offsetDb);
  watts(out, p.forwardW);               // 8, 9
  watts(out, p.reflectedW);             // 10, 11
  fixedField(out, p.rho, 2, 3);         // 12
  fixedField(out, in.vswr, 3, 3);       // 13
  fixedField(out, p.returnLoss, 5, 2);  // 14
  watts(out, in.peakW);                 // 15, 16
  if (ccdf) {
    out += "NA,NA,NA,";  // 17, 18, 19
  } else {
    watts(out, in.burstW);  // 17, 18
    // Two decimals, no limit on significant digits.
    fixedField(out, in.dutyCycle, 17, 2);  // 19
  }
  fixedField(out, in.crestFactor, 5, 6);  // 20
  if (ccdf)
    fixedField(out, in.ccdfFactor, 5, 6);  // 21
  else
    out += "NA,";
  out += kLogLineEnd;
}

std::string buildLogRecord(const LogRecordInput& in) {
  std::string s;
  s.reserve(320);
  appendLogRecord(s, in);
  return s;
}

std::string buildLogEventRecord(const LogRecordInput& in, std::string_view eventText) {
  std::string s = buildLogRecord(in);
  s.resize(s.size() - kLogLineEnd.size());
  appendLogText(s, eventText);
  s += kLogLineEnd;
  return s;
}

}  // namespace zrq::core
