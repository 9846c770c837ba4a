// What the connection sequences need from the main window (and from the
// connection window's own widgets), behind one interface so the sequences run
// without any window. Every call is made on the interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "core/SensorReading.h"

namespace zrq::comm {

// Main-window settings and state the connection side reads and writes.
struct MainState {
  std::uint8_t measType = 1;  // 1 Average ... 5 CCDF
  std::uint8_t savedMeasType = 1;
  std::uint8_t fwdUnit = 0;  // PowerUnit code
  double offsetDb = 0.0;
  double filterHz = 4500.0;
  double ccdfLimit = 50.0;
  double fwdFullScale = 150.0;
  double rflFullScale = 15.0;
  double rflFullScaleDivisor = 10.0;
  std::uint8_t commState = 1;  // 0 connecting, 1 no connection, 2 streaming, 3 zero calibration
  int calibrationOk = 0;
  int settingsAcked = 0;
  int zeroCalRequested = 0;
  int zeroCalDone = 0;
  bool settingsChanged = false;  // the sensor must be sent the settings again
  std::uint16_t featureMask = 0x13DF;
  std::string sensorSerial;
};

enum class CommTimer { DataPoll, ReadData, Display };
enum class LabelColor { Red, Green };

class CommHost {
 public:
  virtual ~CommHost() = default;
  virtual MainState& mainState() = 0;

  // Panel.
  virtual void clearAllSegments() = 0;
  virtual void applyMeasType() = 0;
  virtual void resetPortMenu() = 0;
  virtual void updateDisplay() = 0;
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
  // The reading data strings decode into; null: the connection window keeps one.
  virtual core::SensorReading* sensorReading() { return nullptr; }
  // Around each call of the connection window that runs a sequence: the main
  // window's values are taken before, and what changed goes back after.
  virtual void enterCall() {}
  virtual void leaveCall() {}

  // Timers: dataPollTimer (connection window), readDataTimer, displayTimer.
  virtual void stopTimer(CommTimer timer) = 0;
  virtual void startTimer(CommTimer timer) = 0;
  virtual void setTimerInterval(CommTimer timer, int ms) = 0;

  // Connection window.
  virtual void setCurrPortName(const std::string& name) = 0;
  // A port joined the list: combo box item and Comm menu entry with this tag.
  virtual void portAdded(const std::string& name, int index) = 0;

  // The steps of the fatal close after its message box, in this order.
  virtual void closeChildWindows() = 0;       // last first
  virtual bool helpFileIsOwn() = 0;           // ZRQHelp.chm in the program's folder
  virtual void sendHelpQuit() = 0;
  virtual bool loggingActive() = 0;
  virtual void closeLogFile() = 0;            // and clear the logging flag
  virtual void hideAuxWindows() = 0;          // the visible meter, peak and burst windows
  virtual void closeMainWindow() = 0;
  virtual void terminateApplication() = 0;
};

}  // namespace zrq::comm
