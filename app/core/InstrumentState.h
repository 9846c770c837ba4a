// The settings and state that the front panel, the connection side, the log
// writer and the other windows share. The main window owns the one instance
// and hands it out by reference; everything runs on the user-interface
// thread, so nobody copies it and nobody locks it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "core/MeasType.h"
#include "core/PanelValues.h"
#include "core/PowerUnit.h"
#include "core/SensorReading.h"

namespace zrq::core {

enum class CommState : std::uint8_t {
  Connecting = 0,
  NoConnection = 1,
  Streaming = 2,
  ZeroCal = 3,
};

struct InstrumentState {
  // ---- Settings (defaults at creation) ----
  MeasType measType = MeasType::Average;
  PowerUnit fwdUnit = PowerUnit::AutoW;
  PowerUnit rflUnit = PowerUnit::AutoW;
  float offsetDb = 0;        // dB, 0..100
  float ccdfLimit = 50;      // W
  float filterHz = 4500;     // 400, 4500 or 10000 ("Full")
  float fwdFullScale = 150;  // W
  float rflFullScale = 15;   // W
  std::uint16_t featureMask = 0x13DF;

  // ---- State ----
  CommState commState = CommState::NoConnection;
  // The type a connect starts with; a script may choose it while no sensor
  // streams, and the connect puts it back to Average.
  MeasType typeAtConnect = MeasType::Average;
  // The type in force before a zero calibration, restored after it.
  MeasType savedMeasType = MeasType::None;
  // The sensor must be sent the settings again.
  bool settingsChanged = false;
  bool zeroCalRequested = false;
  std::string sensorSerial;

  // ---- Connection sequence bookkeeping ----
  bool calibrationOk = false;
  bool settingsAcked = false;
  bool zeroCalDone = false;
  float rflFullScaleDivisor = 10;

  // The latest decoded reading; the connection side decodes into it.
  SensorReading reading;
  // When a data string was last accepted (steadyNowMs); 0: none yet.
  std::int64_t lastReadingMs = 0;
};

// Milliseconds of the steady clock: the time base of lastReadingMs.
inline std::int64_t steadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Streaming without an accepted reading for this long makes the reading
// stale: the panel dims it and the log writes no record from it.
inline constexpr std::int64_t kStaleReadingMs = 2000;
inline bool readingIsStale(const InstrumentState& s, std::int64_t nowMs) {
  return s.lastReadingMs > 0 && nowMs - s.lastReadingMs > kStaleReadingMs;
}

// The settings the panel and log arithmetic read.
inline PanelSettings panelSettings(const InstrumentState& s) {
  PanelSettings p;
  p.measType = s.measType;
  p.fwdUnit = s.fwdUnit;
  p.rflUnit = s.rflUnit;
  p.offsetDb = s.offsetDb;
  p.fwdFullScale = s.fwdFullScale;
  p.rflFullScale = s.rflFullScale;
  p.ccdfLimit = s.ccdfLimit;
  return p;
}

}  // namespace zrq::core
