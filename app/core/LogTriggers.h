// When the CSV log writes a record: the sample counter, the five events and
// the four first/last-occurrence latches, as one small state machine.
//
// How a caller drives it (all on one thread):
//
//   LogTriggers triggers;                       // one per application
//
//   // A log file chosen (LogFile1Click):       triggers.setInterval(frmLogFreq->intervalTicks());
//   // Set-up closed with OK (SetUp2Click):     triggers.setInterval(ticks);  // storeIntervalTicks
//   //                                          triggers.restartSample();
//   // Logging switched on (file opened):       triggers.start();  // the stored interval
//   // Logging switched off:                    triggers.stop();
//   // (Cancel in the set-up keeps the stored interval, as the events and
//   //  limits the dialog holds take effect at once through settings().)
//
//   // Every 500 ms tick, while logging:        triggers.sampleTick();
//
//   // Every 250 ms display tick, after the display update:
//   if (!activeChecked) triggers.clearLatches();
//   if (!logActive) return;
//   LogPowers p = prepareLogPowers(reading.fwdAvgPower, reading.rflPowerRaw,
//                                  reading.scaleCode, fwdFS, rflFS, offsetDb);
//   TriggerDecision d = triggers.evaluate(settings,
//                                         {p.forwardW, p.reflectedW, peakW, burstW});
//   if (d.badLimit) show d.badLimit->message once (it is reported once per bad text);
//   if (d.write) { build the record (LogRecord.h) and LogFile::append it;
//                  on error deactivate logging and tell the user }
//
// A limit text that is not a number never stops the trigger: the last valid
// limit of that quantity stays in force (0 until one was valid).
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/LogSettings.h"

namespace zrq::core {

// The watched quantities in watts: forward and reflected prepared like the
// record's (limited, offset); peak and burst as the record's fields 15 and 17.
struct TriggerValues {
  double forwardW = 0;
  double reflectedW = 0;
  double peakW = 0;
  double burstW = 0;

  double of(LogTrigger t) const;
};

struct BadLimit {
  LogTrigger trigger = LogTrigger::Forward;
  std::string text;         // the entry as typed
  double limitInForce = 0;  // the last valid limit, still used
  std::string message;      // a sentence for the user
};

struct TriggerDecision {
  bool write = false;                // write one record now
  std::optional<BadLimit> badLimit;  // set on the first tick a new bad text is seen
};

class LogTriggers {
 public:
  // Logging on: the first sample-time record follows the next 500 ms tick.
  void start() { tickCount_ = intervalTicks_ - 1; }
  void start(int intervalTicks);
  // Logging off: the counter restarts at 0.
  void stop();
  void setInterval(int intervalTicks);
  // Set-up OK: the next sample-time record follows the next 500 ms tick.
  void restartSample() { tickCount_ = intervalTicks_ - 1; }
  void sampleTick() { ++tickCount_; }
  // Every display tick while logging is switched off.
  void clearLatches() { latches_.fill(false); }

  TriggerDecision evaluate(const LogSettings& settings, const TriggerValues& values);

  int tickCount() const { return tickCount_; }
  int intervalTicks() const { return intervalTicks_; }
  bool sampleDue() const { return tickCount_ >= intervalTicks_; }
  bool latch(LogTrigger t) const { return latches_[static_cast<std::size_t>(t)]; }
  // The limit the last evaluation used for a quantity.
  double limitInForce(LogTrigger t) const { return limits_[static_cast<std::size_t>(t)]; }

 private:
  // The limit of the chosen trigger: the text's value, or the last valid one.
  double currentLimit(const LogSettings& s, std::optional<BadLimit>& bad);

  int intervalTicks_ = 2;
  int tickCount_ = 0;
  std::array<bool, kLogTriggers> latches_{};
  std::array<double, kLogTriggers> limits_{};
  std::array<std::optional<std::string>, kLogTriggers> reportedBad_;
};

}  // namespace zrq::core
