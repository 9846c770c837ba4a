// The log writer's state and per-tick work, shared by the main window and the
// headless logger so both decide and write records with the same code: the
// chosen file, the open file, the triggers, and the record built from the
// instrument's state.
#pragma once

#include <optional>
#include <string>

#include "core/InstrumentState.h"
#include "core/LogFile.h"
#include "core/LogFormat.h"
#include "core/LogRecord.h"
#include "core/LogSettings.h"
#include "core/LogTriggers.h"
#include "core/LogValues.h"

namespace zrq::core {

// What a record takes besides the instrument's state, as the display update
// last refreshed it: the log values and the peak window's VSWR.
struct LogSnapshot {
  LogValues values;
  double peakVswr = 1;
};
// The same snapshot computed from the state (for a caller without a display).
LogSnapshot logSnapshot(const InstrumentState& s);

LogRecordInput logRecordInput(const InstrumentState& s, const LogSnapshot& snap,
                              const LogDateTime& when, DateOrder order);
// Forward and reflected prepared like the record's; peak and burst as its
// fields 15 and 17.
TriggerValues logTriggerValues(const InstrumentState& s, const LogSnapshot& snap);

struct LogTickResult {
  bool wrote = false;                  // a record was written whole
  bool stale = false;                  // the reading is stale: nothing decided or written
  std::optional<LogFileResult> error;  // the write failed; the session is closed
  std::optional<BadLimit> badLimit;    // a limit text that is not a number
};

class LogSession {
 public:
  // A file chosen: the name kept, the interval recomputed. Not opened yet.
  void choose(const std::string& path, int intervalTicks);
  bool chosen() const { return chosen_; }
  const std::string& fileName() const { return fileName_; }

  // Opens the chosen file (headers when new) and starts the sample counter.
  // Fails without a chosen file; on failure nothing is open or active.
  LogFileResult activate();
  // The file closed and the choice cleared: the next activation needs a new
  // choice. Safe to call at any time.
  void close();
  bool active() const { return active_; }

  void sampleTick() { triggers_.sampleTick(); }
  void clearLatches() { triggers_.clearLatches(); }
  // Set-up confirmed: the new interval, the next sample after the next tick.
  void setupConfirmed(int intervalTicks);

  // One display tick while active: evaluates the triggers and writes the
  // record they ask for, unless the reading is stale at nowMs (steady clock).
  // A failed write closes the session.
  LogTickResult tick(const LogSettings& settings, const InstrumentState& s, const LogSnapshot& snap,
                     const LogDateTime& when, DateOrder order, std::int64_t nowMs = steadyNowMs());

  // An event record of the latest reading, written whatever the triggers
  // say. Nothing when inactive; a failed write closes the session.
  LogTickResult logEvent(const InstrumentState& s, const LogDateTime& when, DateOrder order,
                         std::string_view eventText);

  LogTriggers& triggers() { return triggers_; }
  const LogTriggers& triggers() const { return triggers_; }

 private:
  void write(const std::string& record, LogTickResult& r);

  std::string fileName_;
  bool chosen_ = false;
  bool active_ = false;
  LogFile file_;
  LogTriggers triggers_;
};

}  // namespace zrq::core
