// What the main window needs from windows built elsewhere: the connection
// window, the log set-up and writer, the two meter windows and the peak and
// burst windows. Each default does nothing and answers "absent", so the panel
// runs on its own; the real windows override what they provide and are
// plugged in with TfrmMain::setPeers.
#pragma once

#include <string>

#include "core/MeasType.h"
#include "core/PowerUnit.h"

class QLabel;

namespace zrq::app {

class CommPeer {
 public:
  virtual ~CommPeer() = default;
  virtual bool portConnected() const { return false; }
  // The sensor answered the interrogation / acknowledged the settings command.
  virtual bool interrogationAccepted() const { return false; }
  virtual bool settingsAccepted() const { return false; }
  // readDataTimer's work: fetch and decode one data line.
  virtual void readSensorData() {}
  // Reads and handles the zero-calibration reply now; true when valid.
  virtual bool readZeroCalReply() { return false; }
  virtual void stopSupervision() {}
  // Connects the port with this Comm menu tag (start-up, serial number, stream).
  virtual void connectPort(int /*tag*/) {}
  virtual void disconnect() {}
  virtual std::string firmwareVersion() const { return {}; }
  // The connection window, shown modally (About's hidden button).
  virtual void showModal() {}
};

class LogPeer {
 public:
  virtual ~LogPeer() = default;
  // Index of the log set-up's trigger choice; 0 is "Forward", 3 the burst trigger.
  virtual int triggerIndex() const { return 0; }
  virtual void checkLogTriggers() {}
  virtual void closeLogFile() {}
  // The set-up dialog, modal; true when it closed with OK. May throw
  // std::exception for an entry error it did not handle itself.
  virtual bool runSetupDialog() { return false; }
  // The sample interval in 500 ms log ticks.
  virtual int sampleTicks() const { return 1; }
  // After an entry error: the sample-time field back to 1.
  virtual void resetSampleTime() {}
};

class HelpPeer {
 public:
  virtual ~HelpPeer() = default;
  virtual void showTopic(const std::string& /*helpFile*/, const std::string& /*topic*/) {}
  // Tells the help viewer to close.
  virtual void quit() {}
};

inline constexpr int kBurstTriggerIndex = 3;

// A window the display update can hide or show.
class PeerWindow {
 public:
  virtual ~PeerWindow() = default;
  virtual bool isShown() const { return false; }
  virtual void showWindow() {}
  virtual void hideWindow() {}
};

class ForwardMeterPeer : public PeerWindow {
 public:
  // Called while the window is shown and the forward read-out is valid.
  virtual void updateForward(zrq::core::MeasType, double /*value*/, zrq::core::PowerUnit) {}
};

class ReflectedMeterPeer : public PeerWindow {
 public:
  virtual void setValue(double) {}
  // Average: the meter's own caption and scale for the unit.
  virtual void updateReflected(zrq::core::PowerUnit, bool /*mayShow*/) {}
  // Peak: a fixed VSWR scale.
  virtual void setScale(const std::string& /*caption*/, double /*min*/, double /*max*/,
                        const std::string& /*valueFormat*/) {}
};

// The peak window (value, VSWR) or the burst window (value, duty text).
class ValueWindowPeer : public PeerWindow {
 public:
  // The annunciator label of that window with this component name, or null.
  virtual QLabel* segment(const char* /*name*/) { return nullptr; }
  virtual void setValueText(const std::string&) {}
  virtual void setSecondText(const std::string&) {}
  virtual void setBar(int) {}
};

struct PanelPeers {
  CommPeer* comm = nullptr;
  LogPeer* log = nullptr;
  ForwardMeterPeer* fwdMeter = nullptr;
  ReflectedMeterPeer* rflMeter = nullptr;
  ValueWindowPeer* peak = nullptr;
  ValueWindowPeer* burst = nullptr;
  HelpPeer* help = nullptr;
};

}  // namespace zrq::app
