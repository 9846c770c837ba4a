// The connection sequences' host for programs without a window (zrq-log and
// the service): the timers become flags, a lost or given-up connection and a
// fatal close are remembered, the panel calls do nothing.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "CommHost.h"
#include "SensorSession.h"
#include "ZervDComDLL.h"
#include "core/InstrumentState.h"
#include "core/LogSession.h"

namespace zrq::comm {

class HeadlessHost : public CommHost {
 public:
  core::InstrumentState state;
  core::LogSession* session = nullptr;
  bool readData = false;
  bool dataPoll = false;
  bool portMenuReset = false;  // the connection was lost or given up
  bool fatal = false;          // the application would have closed

  core::InstrumentState& instrument() override { return state; }
  void clearAllSegments() override {}
  void applyMeasType() override {}
  void resetPortMenu() override {
    portMenuReset = true;
    state.commState = core::CommState::NoConnection;
  }
  void updateDisplay() override {}
  void followState() override {}
  void setLblComm(LabelColor, const std::string&) override {}
  void showDisconnectedCaption() override {}
  void enableStreamingMenus(bool) override {}
  void setProgressPosition(int) override {}
  void setProgressMaximum(int) override {}
  void setZeroCalCaption(const std::string&) override {}
  void showZeroCalButton() override {}
  void stopTimer(CommTimer t) override { flag(t, false); }
  void startTimer(CommTimer t) override { flag(t, true); }
  void setTimerInterval(CommTimer, int) override {}
  void setCurrPortName(const std::string&) override {}
  void portAdded(const std::string&, int) override {}
  void closeChildWindows() override {}
  bool helpFileIsOwn() override { return false; }
  void sendHelpQuit() override {}
  bool loggingActive() override { return session && session->active(); }
  void closeLogFile() override {
    if (session) session->close();
  }
  void hideAuxWindows() override {}
  void closeMainWindow() override { fatal = true; }
  void terminateApplication() override { fatal = true; }
  void readingAccepted() override {
    if (onReading) onReading();
  }
  void zeroCalibrationEnded(bool ok, const std::string& why) override {
    if (onZeroCalEnd) onZeroCalEnd(ok, why);
  }
  std::function<void()> onReading;
  std::function<void(bool, const std::string&)> onZeroCalEnd;

 private:
  void flag(CommTimer t, bool on) {
    if (t == CommTimer::ReadData) readData = on;
    if (t == CommTimer::DataPoll) dataPoll = on;
  }
};

// A headless program's sensor given up or finished with: its stream stopped
// (unless the connection already failed for good), the port and the USB
// device manager closed.
inline void closeHeadlessSensor(std::unique_ptr<SensorSession>& sensor,
                                ZervDComDLL::DeviceHandle& devMngr) {
  if (sensor) {
    if (sensor->connected() && !sensor->commands().fatallyClosed()) sensor->disconnect();
    sensor.reset();
  }
  if (devMngr != ZervDComDLL::INVALID_DEV_COMM_HANDLE) {
    try {
      ZervDComDLL::close(devMngr);
    } catch (const ZervDComExc&) {
    }
    devMngr = ZervDComDLL::INVALID_DEV_COMM_HANDLE;
  }
}

// The USB sensor with this Comm menu index, as a headless program looks for
// it: a fresh device list in devMngr (the sensor may have come and gone), the
// index in range and the sensor free. Empty, or why not; *busy when it is
// there but held or locked. May throw ZervDComExc.
inline std::string findUsbSensor(ZervDComDLL::DeviceHandle& devMngr, int index,
                                 const std::string& name, bool* busy = nullptr) {
  int count = 0;
  if (busy) *busy = false;
  if (!ZervDComDLL::createTKS7730USBDevMngr(&devMngr) ||
      !ZervDComDLL::buildTKS7730USBDevList(devMngr, &count))
    return "the USB device manager could not be started";
  if (index >= count)
    return "no sensor " + name + " (" + std::to_string(count) + " USB sensors found)";
  if (!ZervDComDLL::isTKS7730USBPortAvail(devMngr, index)) {
    if (busy) *busy = true;
    return "the USB sensor " + name +
           " is in use by another program, or it cannot be opened or locked";
  }
  return {};
}

// What the panel's Zero button does once confirmed: the session starts the
// calibration after the next accepted line.
inline void beginZeroCalibration(core::InstrumentState& m) {
  m.commState = core::CommState::ZeroCal;
  m.savedMeasType = m.measType;
  m.measType = core::MeasType::None;
  m.zeroCalRequested = true;
}

}  // namespace zrq::comm
