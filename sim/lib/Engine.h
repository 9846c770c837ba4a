#pragma once
// The sensor's firmware side of one TKS7730: takes the host's bytes, answers
// commands, streams data lines, runs the zero calibration and applies faults.
// Single-threaded and clock-free: the caller passes the time into every call and
// asks nextDeadline() when it has to call advance() again, so the transports
// need one poll loop and the tests need no real time.

#include "DataString.h"
#include "Faults.h"
#include "SensorConfig.h"
#include "SignalModel.h"
#include "Trace.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tks7730sim {

// The 44-byte G command. Nothing when the bytes are not one; the type must be 1-5.
std::optional<MeasSettings> parseSettingsCommand(std::string_view bytes);

class Engine {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;
  using Ms = std::chrono::milliseconds;

  // name appears in the trace and selects faults given with on=NAME; only the
  // serial side sends the banner.
  Engine(const SensorConfig& cfg, const std::vector<FaultSpec>& faults, std::string name,
         bool serialSide, Trace* trace, TimePoint now);

  // Power-up state: banners armed, stream off, settings at their defaults.
  void powerUp(TimePoint now);
  // The transport went away: nothing is produced until the next powerUp.
  void powerDown();
  bool online() const { return online_; }

  void receive(std::string_view bytes, TimePoint now);
  void advance(TimePoint now);
  std::optional<TimePoint> nextDeadline() const;

  // Bytes for the host, oldest first; never holds 0xFF.
  std::string takeOutput();
  bool hasOutput() const { return !out_.empty(); }

  // Set when a hang-up fault struck: the transport is to vanish for this long.
  std::optional<Ms> takeHangup();

  // Forgets a half-received command (the USB start command does this).
  void resetInput();

  // One report from a USB host, whichever transport carried it: text goes to
  // the command input, the start command resets it, polls only pace the host
  // (counted in polls, the first one traced).
  void usbHostReport(const uint8_t* data, size_t len, uint64_t& polls, TimePoint now);

  const MeasSettings& settings() const { return settings_; }
  bool streaming() const { return streaming_; }
  // A paced serial line still sending: the next data line waits for it, as a
  // sensor's transmitter would, instead of piling up behind it.
  void setLineBusy(bool busy) { lineBusy_ = busy; }
  bool zeroing() const { return zeroing_; }
  const std::string& name() const { return name_; }
  const SensorConfig& config() const { return cfg_; }
  // A data string as the sensor would send now (without the line framing).
  std::string dataString(TimePoint now);

 private:
  void command(const std::string& bytes, TimePoint now);
  void settingsCommand(const std::string& bytes, TimePoint now);
  void dataLine(TimePoint now);
  void emit(std::string_view text, TimePoint now);
  bool strike(FaultKind kind, TimePoint now, char cmd = 0);
  void log(std::string_view event, TimePoint now);
  int64_t sinceStart(TimePoint now) const;

  SensorConfig cfg_;
  std::string name_;
  bool serialSide_;
  Trace* trace_;
  TimePoint start_;
  TimePoint poweredAt_;
  SignalModel model_;
  Rng faultRng_;
  std::vector<FaultState> faults_;
  MeasSettings settings_;

  bool online_ = true;
  int bannersLeft_ = 0;
  std::string in_;
  TimePoint inStarted_{};
  bool streaming_ = false;
  std::optional<TimePoint> streamStarted_;  // first D since creation: the power script's zero
  TimePoint nextLine_{};
  bool lineBusy_ = false;
  bool zeroing_ = false;
  TimePoint zeroDone_{};
  TimePoint silentUntil_{};
  TimePoint stallUntil_{};
  std::optional<Ms> hangup_;
  std::string out_;
};

}  // namespace tks7730sim
