// What the remote-control engine needs of the program that serves it: the
// front panel and the headless programs each implement this on the thread
// that owns the sensor, and the engine calls it on that thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zrq::scpi {

// The sensor's measurement types, numbered as the sensor numbers them.
enum class Function : std::uint8_t { Average = 1, Peak = 2, Burst = 3, Crest = 4, Ccdf = 5 };

enum class PowerUnit : std::uint8_t { Dbm, Watt };

// The video filter: the panel's "4.5 KHz", "400 KHz" and "Full".
enum class Filter : std::uint8_t { K4_5, K400, Full };

// The settings a script may read and set; the panel's own, not a copy.
struct Settings {
  Function function = Function::Average;
  PowerUnit unit = PowerUnit::Watt;  // the forward read-out's unit
  double offsetDb = 0;               // 0..100
  double ccdfLimitW = 50;            // 2..400
  Filter filter = Filter::K4_5;
  friend bool operator==(const Settings&, const Settings&) = default;
};

inline constexpr double kOffsetMinDb = 0, kOffsetMaxDb = 100;
inline constexpr double kCcdfLimitMinW = 2, kCcdfLimitMaxW = 400;

// One accepted data line, as the panel shows it: powers in watts, limited and
// offset; ratios as they are. A quantity the line's type does not give is
// empty.
struct Reading {
  std::uint64_t sequence = 0;             // counts accepted lines; new line, new number
  std::string time;                       // ISO 8601 with the time zone, when accepted
  Function function = Function::Average;  // the type the sensor reported
  std::optional<double> forwardAverageW, forwardPeakW, forwardBurstW;
  std::optional<double> crestFactorDb, ccdfPercent;
  std::optional<double> reflectedW, rho, vswr, returnLossDb;
  double temperatureC = 0;
};

// A reading as FETCh:ALL? answers it: time,function,forward average W,peak W,
// burst W,crest dB,CCDF %,reflected W,rho,VSWR,return loss dB,temperature C;
// a quantity the reading does not give is an empty field.
std::string allFields(const Reading& r);
inline constexpr const char* kAllFieldsHeader =
    "time,function,forward average W,peak W,burst W,crest dB,CCDF %,reflected W,rho,VSWR,"
    "return loss dB,temperature C";

struct Identity {
  std::string serial = "0";  // "0" while no sensor is connected
  std::string firmware = "0";
};

class Instrument {
 public:
  virtual ~Instrument() = default;

  virtual Identity identity() const = 0;
  // Connected and streaming (readings arrive).
  virtual bool streaming() const = 0;
  // The latest accepted reading; empty before the first one.
  virtual std::optional<Reading> latest() const = 0;

  virtual Settings settings() const = 0;
  // Applies settings already checked against their ranges, exactly as the
  // panel applies its own: kept while no sensor is connected and sent to it
  // at the next connect.
  virtual void apply(const Settings& s) = 0;
  // Why these settings cannot be applied now (-221), or empty: the panel
  // refuses CCDF while the log's burst trigger is chosen, for one.
  virtual std::string conflict(const Settings& /*s*/) const { return {}; }

  // Starts the zero calibration the panel's button starts. False with the
  // reason when it cannot start (no sensor, one already running).
  virtual bool startZeroCalibration(std::string* why) = 0;
  virtual bool zeroCalibrationRunning() const = 0;
  // How SYSTem:CHANnel:LIST? names the sensor (its port or a user's label).
  virtual std::string label() const { return {}; }
};

}  // namespace zrq::scpi
