// The trend's recording: every reading the panel accepts goes into one store
// from the first connect on, whether or not the trend window is open.
#pragma once

#include <QObject>

#include "core/InstrumentState.h"
#include "core/TrendStore.h"

namespace zrq::app {

class TrendRecorder : public QObject {
  Q_OBJECT

 public:
  // state must outlive the recorder.
  explicit TrendRecorder(const core::InstrumentState& state, QObject* parent = nullptr);

  core::TrendStore& store() { return store_; }
  const core::InstrumentState& state() const { return state_; }

  // The panel's latest reading, at the system time now.
  void readingAccepted();
  // The data reads stopped (zero calibration, lost or closed connection):
  // the next reading starts a new line.
  void readsStopped() { store_.markGap(); }

 signals:
  void appended();

 private:
  const core::InstrumentState& state_;
  core::TrendStore store_;
};

}  // namespace zrq::app
