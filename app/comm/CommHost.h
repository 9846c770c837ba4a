// What the connection sequences need from the main window (and from the
// connection window's own widgets), behind one interface so the sequences run
// without any window. Every call is made on the interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "core/InstrumentState.h"

namespace zrq::comm {

enum class CommTimer { DataPoll, ReadData, Display };
enum class LabelColor { Red, Green };

class CommHost {
 public:
  virtual ~CommHost() = default;
  // The main window's settings and state, read and written in place.
  virtual core::InstrumentState& instrument() = 0;

  // Panel.
  virtual void clearAllSegments() = 0;
  virtual void applyMeasType() = 0;
  virtual void resetPortMenu() = 0;
  virtual void updateDisplay() = 0;
  // One display tick now, so the panel follows a state change at once (the
  // timers keep ticking under a modal box, but only after it is up).
  virtual void followState() = 0;
  // lblComm gets the colour and text and is shown.
  virtual void setLblComm(LabelColor color, const std::string& text) = 0;
  // Caption "7730 ZRQ" and the program's version text.
  virtual void showDisconnectedCaption() = 0;
  // Meter1 enabled as given; Logging1 and Window2 enabled.
  virtual void enableStreamingMenus(bool meterMenuEnabled) = 0;
  virtual void setProgressPosition(int position) = 0;
  virtual void setProgressMaximum(int maximum) = 0;
  virtual void setZeroCalCaption(const std::string& caption) = 0;
  virtual void showZeroCalButton() = 0;
  // Meter1, Logging1 and Window2 disabled; the Logging label and txtDuty hidden.
  virtual void disableStreamingMenus() {}

  // Timers: dataPollTimer (connection window), readDataTimer, displayTimer.
  virtual void stopTimer(CommTimer timer) = 0;
  virtual void startTimer(CommTimer timer) = 0;
  virtual void setTimerInterval(CommTimer timer, int ms) = 0;

  // Connection window.
  virtual void setCurrPortName(const std::string& name) = 0;
  // A port joined the list: combo box item and Comm menu entry with this tag.
  virtual void portAdded(const std::string& name, int index) = 0;
  // A serial port another program holds ("in use by ZRQ, process N").
  virtual void portHeld(const std::string& /*name*/, const std::string& /*why*/) {}

  // The steps of the fatal close after its message box, in this order.
  virtual void closeChildWindows() = 0;  // last first
  virtual bool helpFileIsOwn() = 0;      // ZRQHelp.chm in the program's folder
  virtual void sendHelpQuit() = 0;
  virtual bool loggingActive() = 0;
  virtual void closeLogFile() = 0;    // and clear the logging flag
  virtual void hideAuxWindows() = 0;  // the visible meter, peak and burst windows
  virtual void closeMainWindow() = 0;
  virtual void terminateApplication() = 0;

  // ---- For remote control ----
  // After each accepted data line, its values already in the state.
  virtual void readingAccepted() {}
  // A zero calibration ended: the sensor's verdict, or no valid reply at all.
  virtual void zeroCalibrationEnded(bool /*ok*/, const std::string& /*why*/) {}
};

}  // namespace zrq::comm
