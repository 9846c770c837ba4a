#include "LoggerOptions.h"

#include <cmath>
#include <cstdlib>

namespace zrq::logger {

namespace {

// "." decimals whatever the locale.
std::optional<double> number(const std::string& text) { return core::parseLimitText(text); }

bool parseSample(const std::string& text, LoggerOptions& o) {
  if (text.size() < 2) return false;
  const char unit = text.back();
  const std::string digits = text.substr(0, text.size() - 1);
  if (digits.empty() || digits.size() > 2) return false;
  for (char c : digits)
    if (c < '0' || c > '9') return false;
  const int n = std::atoi(digits.c_str());
  if (n < core::kMinSampleTime || n > core::kMaxSampleTime) return false;
  switch (unit) {
    case 's':
      o.log.timeUnit = core::LogTimeUnit::Seconds;
      break;
    case 'm':
      o.log.timeUnit = core::LogTimeUnit::Minutes;
      break;
    case 'h':
      o.log.timeUnit = core::LogTimeUnit::Hours;
      break;
    default:
      return false;
  }
  o.log.sampleTime = n;
  return true;
}

}  // namespace

ParseResult parseLoggerArgs(const std::vector<std::string>& args) {
  ParseResult r;
  LoggerOptions o;
  bool limitGiven = false;
  auto fail = [&](const std::string& why) {
    r.error = why;
    return r;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
      continue;
    }
    if (a == "--version") {
      o.version = true;
      continue;
    }
    std::string name = a, value;
    bool hasValue = false;
    if (const auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      hasValue = true;
    }
    static const char* const kValued[] = {
        "--port",   "--out",        "--type",   "--sample",  "--event",   "--trigger", "--limit",
        "--offset", "--ccdf-limit", "--filter", "--seconds", "--records", "--scpi"};
    bool known = false;
    for (const char* k : kValued) known = known || name == k;
    if (!known) return fail("unknown argument: " + a);
    if (!hasValue) {
      if (i + 1 >= args.size()) return fail(name + " needs a value");
      value = args[++i];
    }
    if (name == "--port") {
      if (value.empty()) return fail("--port needs a value");
      o.port = value;
    } else if (name == "--out") {
      if (value.empty()) return fail("--out needs a value");
      o.out = value;
    } else if (name == "--type") {
      using core::MeasType;
      if (value == "average")
        o.measType = MeasType::Average;
      else if (value == "peak")
        o.measType = MeasType::Peak;
      else if (value == "burst")
        o.measType = MeasType::Burst;
      else if (value == "crest")
        o.measType = MeasType::Crest;
      else if (value == "ccdf")
        o.measType = MeasType::CCDF;
      else
        return fail("--type must be average, peak, burst, crest or ccdf");
    } else if (name == "--sample") {
      if (!parseSample(value, o)) return fail("--sample must be 1 to 60 followed by s, m or h");
    } else if (name == "--event") {
      using core::LogEvent;
      if (value == "sample")
        o.log.event = LogEvent::SampleTime;
      else if (value == "above")
        o.log.event = LogEvent::SampleTimeAboveLimit;
      else if (value == "first-last-above")
        o.log.event = LogEvent::FirstLastAboveLimit;
      else if (value == "below")
        o.log.event = LogEvent::SampleTimeBelowLimit;
      else if (value == "first-last-below")
        o.log.event = LogEvent::FirstLastBelowLimit;
      else
        return fail("--event must be sample, above, first-last-above, below or first-last-below");
    } else if (name == "--trigger") {
      using core::LogTrigger;
      if (value == "forward")
        o.log.trigger = LogTrigger::Forward;
      else if (value == "reflected")
        o.log.trigger = LogTrigger::Reflected;
      else if (value == "peak")
        o.log.trigger = LogTrigger::Peak;
      else if (value == "burst")
        o.log.trigger = LogTrigger::Burst;
      else
        return fail("--trigger must be forward, reflected, peak or burst");
    } else if (name == "--limit") {
      const auto w = number(value);
      if (!w || *w < 0) return fail("--limit must be a number of watts, 0 or more");
      limitGiven = true;
      for (std::string& t : o.log.limitTexts) t = value;
    } else if (name == "--offset") {
      const auto db = number(value);
      if (!db || *db < 0 || *db > 100) return fail("--offset must be 0 to 100 dB");
      o.offsetDb = static_cast<float>(*db);
    } else if (name == "--ccdf-limit") {
      const auto w = number(value);
      if (!w || *w <= 0 || *w > 1e6) return fail("--ccdf-limit must be a positive number of watts");
      o.ccdfLimit = static_cast<float>(*w);
    } else if (name == "--filter") {
      if (value == "4.5k")
        o.filterHz = 4500;
      else if (value == "400k")
        o.filterHz = 400;
      else if (value == "full")
        o.filterHz = 10000;
      else
        return fail("--filter must be 4.5k, 400k or full");
    } else if (name == "--seconds") {
      const auto s = number(value);
      if (!s || *s <= 0 || !std::isfinite(*s)) return fail("--seconds must be a positive number");
      o.seconds = *s;
    } else if (name == "--scpi") {
      remote::ListenAddress a;
      std::string why;
      if (!remote::parseListenAddress(value, a, &why)) return fail("--scpi: " + why);
      o.scpi = a;
    } else if (name == "--records") {
      const auto n = number(value);
      if (!n || *n < 1 || *n != std::floor(*n) || *n > 1e15)
        return fail("--records must be a whole number, 1 or more");
      o.records = static_cast<long>(*n);
    }
  }
  if (o.help || o.version) {
    r.options = o;
    return r;
  }
  if (o.port.empty()) return fail("--port is required");
  if (o.out.empty() && !o.scpi) return fail("--out is required (or --scpi)");
  if (core::eventUsesLimit(o.log.event) && !limitGiven) return fail("this --event needs --limit");
  if (o.log.trigger == core::LogTrigger::Burst && o.measType == core::MeasType::CCDF)
    return fail("the burst trigger is not available with --type ccdf");
  r.options = o;
  return r;
}

std::string loggerUsage() {
  return "Usage: zrq-log --port PORT --out FILE [--type average|peak|burst|crest|ccdf]\n"
         "               [--sample N{s|m|h}] [--event sample|above|first-last-above|below|"
         "first-last-below]\n"
         "               [--trigger forward|reflected|peak|burst] [--limit W] [--offset DB]\n"
         "               [--ccdf-limit W] [--filter 4.5k|400k|full] [--seconds S] [--records N]\n"
         "               [--scpi [ADDR:]PORT] [--version] [--help]\n"
         "Logs the TKS7730's readings to a CSV file without a window, as the front panel's\n"
         "Logging menu would: the same triggers, the same 21 columns, appended to FILE\n"
         "(header lines only when FILE is new).\n"
         "  --port PORT   COM1, 7730USB1, a path from ZRQ_SERIAL_PORTS, or a device path\n"
         "  --out FILE    the log file\n"
         "  --type        measurement type (default average)\n"
         "  --sample      sample time, 1 to 60 seconds, minutes or hours (default 1s)\n"
         "  --event       when a record is written (default sample)\n"
         "  --trigger     the quantity the limit events watch (default forward)\n"
         "  --limit W     the trigger limit in watts (needed by every event but sample)\n"
         "  --offset DB   offset, 0 to 100 dB (default 0)\n"
         "  --ccdf-limit  CCDF limit in watts (default 50)\n"
         "  --filter      video filter (default 4.5k)\n"
         "  --seconds S   stop after S seconds of streaming\n"
         "  --records N   stop after N records\n"
         "  --scpi [ADDR:]PORT  answer SCPI commands on this TCP port (5025 is usual), on\n"
         "                127.0.0.1 unless ADDR says otherwise (0.0.0.0: the whole\n"
         "                network, without a password); --out may then be left out\n"
         "SIGINT or SIGTERM stop it after the record in progress.\n"
         "Exit status: 0 ran to the end, 1 sensor unreachable or lost or the log file not\n"
         "written, 2 bad arguments.\n";
}

}  // namespace zrq::logger
