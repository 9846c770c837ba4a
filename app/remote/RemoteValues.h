// The remote-control engine's view of the shared instrument state: its
// settings, one reading as the panel shows it, and the listening address a
// user gives on the command line. Qt-free; the panel and zrq-log share it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Alarm.h"
#include "core/InstrumentState.h"
#include "scpi/Instrument.h"

namespace zrq::remote {

scpi::Settings settingsOf(const core::InstrumentState& s);

// Writes the settings into the state as the panel's own controls do: a
// changed type, filter or CCDF limit must reach the sensor (settingsChanged);
// the offset and the forward unit ride along with the next settings command.
// True when the measurement type changed.
bool applySettings(core::InstrumentState& s, const scpi::Settings& to);

// The panel shows the new type's last value at once, before the sensor is
// told: the selected power becomes that type's field of the last reading.
void selectMeasType(core::InstrumentState& s, core::MeasType type);

// The state's latest reading with the panel's limits and offset applied.
scpi::Reading readingOf(const core::InstrumentState& s, std::uint64_t sequence, std::string time);

// The reading's quantities by the names alarms, topics and files use.
core::QuantityValues quantityValues(const scpi::Reading& r);

// Why a zero calibration cannot start now, or empty: one rule for every host.
std::string zeroCalibrationRefusal(bool running, bool streaming);

// A message box's text on one line: line breaks become blanks, runs of
// blanks one, no blank at the end.
std::string oneLine(std::string text);

// Local time in ISO 8601 with milliseconds and the zone: 2026-12-09T01:02:03.456+01:00.
std::string isoLocalTime();
// The same for a time in ms since the epoch.
std::string isoLocalTime(std::int64_t epochMs);

struct ListenAddress {
  std::string host = "127.0.0.1";
  int port = 5025;
};
// "[ADDR:]PORT": an IPv4 address and a port 0..65535 (0 picks a free one).
// False with the reason for anything else.
bool parseListenAddress(std::string_view text, ListenAddress& out, std::string* why);

}  // namespace zrq::remote
