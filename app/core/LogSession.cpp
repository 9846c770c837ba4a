#include "core/LogSession.h"

#include "core/PanelValues.h"

namespace zrq::core {

LogSnapshot logSnapshot(const InstrumentState& s) {
  const PanelSettings settings = panelSettings(s);
  LogSnapshot snap;
  snap.values = computeLogValues(s.reading, settings);
  snap.peakVswr = computePanel(s.reading, settings).peakVswr;
  return snap;
}

LogRecordInput logRecordInput(const InstrumentState& s, const LogSnapshot& snap,
                              const LogDateTime& when, DateOrder order) {
  LogRecordInput in;
  in.when = when;
  in.dateOrder = order;
  in.sensorSerial = s.sensorSerial;
  in.measType = measTypeCode(s.measType);
  in.offsetDb = s.offsetDb;
  in.ccdfLimit = s.ccdfLimit;
  in.filterHz = s.filterHz;
  in.fwdFullScale = s.fwdFullScale;
  in.rflFullScale = s.rflFullScale;
  in.temperature = s.reading.temperature;
  in.fwdAvgPower = s.reading.fwdAvgPower;
  in.rflPowerRaw = s.reading.rflPowerRaw;
  in.scaleCode = s.reading.scaleCode;
  in.dutyCycle = s.reading.dutyCycle;
  in.peakW = snap.values.peakW;
  in.burstW = snap.values.burstW;
  in.vswr = snap.peakVswr;
  in.crestFactor = snap.values.crestFactor;
  in.ccdfFactor = snap.values.ccdfFactor;
  return in;
}

TriggerValues logTriggerValues(const InstrumentState& s, const LogSnapshot& snap) {
  const LogPowers p =
      prepareLogPowers(s.reading.fwdAvgPower, s.reading.rflPowerRaw, s.reading.scaleCode,
                       s.fwdFullScale, s.rflFullScale, s.offsetDb);
  return {p.forwardW, p.reflectedW, snap.values.peakW, snap.values.burstW};
}

void LogSession::choose(const std::string& path, int intervalTicks) {
  fileName_ = path;
  chosen_ = true;
  triggers_.setInterval(intervalTicks);
}

LogFileResult LogSession::activate() {
  if (!chosen_) return {false, 0, "No log file has been chosen."};
  if (active_) return {};
  LogFileResult r = file_.open(fileName_);
  if (!r) return r;
  active_ = true;
  triggers_.start();
  return r;
}

void LogSession::close() {
  file_.close();
  chosen_ = false;
  active_ = false;
  triggers_.stop();
}

void LogSession::setupConfirmed(int intervalTicks) {
  triggers_.setInterval(intervalTicks);
  triggers_.restartSample();
}

LogTickResult LogSession::tick(const LogSettings& settings, const InstrumentState& s,
                               const LogSnapshot& snap, const LogDateTime& when, DateOrder order,
                               std::int64_t nowMs) {
  LogTickResult r;
  if (!active_) return r;
  // A stalled sensor's last reading is no measurement of now.
  if (readingIsStale(s, nowMs)) {
    r.stale = true;
    return r;
  }
  const TriggerDecision d = triggers_.evaluate(settings, logTriggerValues(s, snap));
  r.badLimit = d.badLimit;
  if (!d.write) return r;
  write(buildLogRecord(logRecordInput(s, snap, when, order)), r);
  return r;
}

LogTickResult LogSession::logEvent(const InstrumentState& s, const LogDateTime& when,
                                   DateOrder order, std::string_view eventText) {
  LogTickResult r;
  if (!active_) return r;
  write(buildLogEventRecord(logRecordInput(s, logSnapshot(s), when, order), eventText), r);
  return r;
}

void LogSession::write(const std::string& record, LogTickResult& r) {
  LogFileResult w = file_.append(record);
  if (w) {
    r.wrote = true;
  } else {
    r.error = std::move(w);
    close();
  }
}

}  // namespace zrq::core
