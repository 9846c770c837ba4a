#include "core/LogTriggers.h"

#include "core/ReadingFormat.h"

namespace zrq::core {

double TriggerValues::of(LogTrigger t) const {
  switch (t) {
    case LogTrigger::Reflected:
      return reflectedW;
    case LogTrigger::Peak:
      return peakW;
    case LogTrigger::Burst:
      return burstW;
    default:
      return forwardW;
  }
}

void LogTriggers::start(int intervalTicks) {
  setInterval(intervalTicks);
  tickCount_ = intervalTicks_ - 1;
}

void LogTriggers::stop() { tickCount_ = 0; }

void LogTriggers::setInterval(int intervalTicks) {
  intervalTicks_ = intervalTicks < 1 ? 1 : intervalTicks;
}

double LogTriggers::currentLimit(const LogSettings& s, std::optional<BadLimit>& bad) {
  const auto i = static_cast<std::size_t>(s.trigger);
  const std::string& text = s.limitText(s.trigger);
  if (auto v = parseLimitText(text)) {
    limits_[i] = *v;
    reportedBad_[i].reset();
    return *v;
  }
  if (reportedBad_[i] != text) {
    reportedBad_[i] = text;
    BadLimit b;
    b.trigger = s.trigger;
    b.text = text;
    b.limitInForce = limits_[i];
    b.message = "The " + std::string(logTriggerName(s.trigger)) + " trigger limit '" + text +
                "' is not a number; the limit stays " + shortestText(limits_[i]) + " W.";
    bad = std::move(b);
  }
  return limits_[i];
}

TriggerDecision LogTriggers::evaluate(const LogSettings& settings, const TriggerValues& values) {
  TriggerDecision d;
  LogSettings s = settings;
  // A code outside the radio group (a cast from a stray int) watches forward.
  if (static_cast<int>(s.trigger) >= kLogTriggers) s.trigger = LogTrigger::Forward;
  bool& latch = latches_[static_cast<std::size_t>(s.trigger)];
  const double v = values.of(s.trigger);

  auto sample = [&] {
    if (!sampleDue()) return false;
    tickCount_ = 0;
    return true;
  };
  switch (s.event) {
    case LogEvent::SampleTime:
      d.write = sample();
      break;
    case LogEvent::SampleTimeAboveLimit: {
      const double limit = currentLimit(s, d.badLimit);
      d.write = sample() && v > limit;
      break;
    }
    case LogEvent::SampleTimeBelowLimit: {
      const double limit = currentLimit(s, d.badLimit);
      d.write = sample() && v < limit;
      break;
    }
    case LogEvent::FirstLastAboveLimit:
    case LogEvent::FirstLastBelowLimit: {
      const double limit = currentLimit(s, d.badLimit);
      const bool above = s.event == LogEvent::FirstLastAboveLimit;
      const bool past = above ? v > limit : v < limit;
      const bool back = above ? v < limit : v > limit;  // equal is neither
      if (past && !latch) {
        latch = true;
        d.write = true;
      } else if (back && latch) {
        latch = false;
        d.write = true;
      }
      break;
    }
  }
  return d;
}

}  // namespace zrq::core
