// What the main window needs from windows built elsewhere: the connection
// window, the log set-up and writer, the two meter windows and the peak and
// burst windows. Every interface is pure: a window implements all of it. A
// window not yet built (and a test that does not care) is stood in for by the
// explicit null peers below, which do nothing and answer "absent".
#pragma once

#include <string>

#include "core/MeasType.h"
#include "core/PowerUnit.h"
#include "SegmentTable.h"

class QLabel;

namespace zrq::app {

class CommPeer {
 public:
  virtual ~CommPeer() = default;
  virtual bool portConnected() const = 0;
  // The sensor answered the interrogation / acknowledged the settings command.
  virtual bool interrogationAccepted() const = 0;
  virtual bool settingsAccepted() const = 0;
  // readDataTimer's work: fetch and decode one data line.
  virtual void readSensorData() = 0;
  // Reads and handles the zero-calibration reply now; true when valid.
  virtual bool readZeroCalReply() = 0;
  // The connection window's supervision timer stops (zero calibration).
  virtual void stopSupervision() = 0;
  // At shutdown: supervision stops and a waiting sequence sends nothing more.
  virtual void endRun() = 0;
  // Connects the port with this Comm menu tag (start-up, serial number, stream).
  virtual void connectPort(int tag) = 0;
  virtual void disconnect() = 0;
  virtual std::string firmwareVersion() const = 0;
  // The connection window, shown modally (About's hidden button).
  virtual void showModal() = 0;
  // A serial port another program held at discovery joins the ports once free.
  virtual bool offerPortIfFree(const std::string& /*name*/) { return false; }
};

class LogPeer {
 public:
  virtual ~LogPeer() = default;
  // Index of the log set-up's trigger choice; 0 is "Forward", 3 the burst trigger.
  virtual int triggerIndex() const = 0;
  virtual void checkLogTriggers() = 0;
  // Is logging on? The one answer: the log session's open file.
  virtual bool active() const = 0;
  virtual void closeLogFile() = 0;
  // The set-up dialog, modal; true when it closed with OK. May throw
  // std::exception for an entry error it did not handle itself.
  virtual bool runSetupDialog() = 0;
  // The sample interval in 500 ms log ticks.
  virtual int sampleTicks() const = 0;
  // After an entry error: the sample-time field back to 1.
  virtual void resetSampleTime() = 0;
  // An event record (an alarm rising or clearing) while logging is active.
  virtual void logEvent(const std::string& text) = 0;
};

class HelpPeer {
 public:
  virtual ~HelpPeer() = default;
  virtual void showTopic(const std::string& helpFile, const std::string& topic) = 0;
  // Tells the help viewer to close.
  virtual void quit() = 0;
};

inline constexpr int kBurstTriggerIndex = 3;

// A window the display update can hide or show.
class PeerWindow {
 public:
  virtual ~PeerWindow() = default;
  virtual bool isShown() const = 0;
  virtual void showWindow() = 0;
  virtual void hideWindow() = 0;
};

class ForwardMeterPeer : public PeerWindow {
 public:
  // Called while the window is shown and the forward read-out is valid.
  virtual void updateForward(zrq::core::MeasType, double value, zrq::core::PowerUnit) = 0;
};

class ReflectedMeterPeer : public PeerWindow {
 public:
  virtual void setValue(double) = 0;
  // Average: the meter's own caption and scale for the unit.
  virtual void updateReflected(zrq::core::PowerUnit, bool mayShow) = 0;
  // Peak: a fixed VSWR scale.
  virtual void setScale(const std::string& caption, double min, double max,
                        const std::string& valueFormat) = 0;
};

// The peak window (value, VSWR) or the burst window (value, duty text).
class ValueWindowPeer : public PeerWindow {
 public:
  // The annunciator label of that window with this code, or null.
  virtual QLabel* segment(SegmentCode code) = 0;
  virtual void setValueText(const std::string&) = 0;
  virtual void setSecondText(const std::string&) = 0;
  virtual void setBar(int) = 0;
};

// The explicit "not there" peers: each does nothing and answers "absent".
// Tests derive from them to record only what they look at.
class NullCommPeer : public CommPeer {
 public:
  bool portConnected() const override { return false; }
  bool interrogationAccepted() const override { return false; }
  bool settingsAccepted() const override { return false; }
  void readSensorData() override {}
  bool readZeroCalReply() override { return false; }
  void stopSupervision() override {}
  void endRun() override {}
  void connectPort(int) override {}
  void disconnect() override {}
  std::string firmwareVersion() const override { return {}; }
  void showModal() override {}
};

class NullLogPeer : public LogPeer {
 public:
  int triggerIndex() const override { return 0; }
  void checkLogTriggers() override {}
  bool active() const override { return false; }
  void closeLogFile() override {}
  bool runSetupDialog() override { return false; }
  int sampleTicks() const override { return 1; }
  void resetSampleTime() override {}
  void logEvent(const std::string&) override {}
};

class NullHelpPeer : public HelpPeer {
 public:
  void showTopic(const std::string&, const std::string&) override {}
  void quit() override {}
};

template <typename Base>
class NullWindowPeer : public Base {
 public:
  bool isShown() const override { return false; }
  void showWindow() override {}
  void hideWindow() override {}
};

class NullForwardMeterPeer : public NullWindowPeer<ForwardMeterPeer> {
 public:
  void updateForward(zrq::core::MeasType, double, zrq::core::PowerUnit) override {}
};

class NullReflectedMeterPeer : public NullWindowPeer<ReflectedMeterPeer> {
 public:
  void setValue(double) override {}
  void updateReflected(zrq::core::PowerUnit, bool) override {}
  void setScale(const std::string&, double, double, const std::string&) override {}
};

class NullValueWindowPeer : public NullWindowPeer<ValueWindowPeer> {
 public:
  QLabel* segment(SegmentCode) override { return nullptr; }
  void setValueText(const std::string&) override {}
  void setSecondText(const std::string&) override {}
  void setBar(int) override {}
};

// One shared, stateless set.
struct NullPeers {
  NullCommPeer comm;
  NullLogPeer log;
  NullForwardMeterPeer fwdMeter;
  NullReflectedMeterPeer rflMeter;
  NullValueWindowPeer peak;
  NullValueWindowPeer burst;
  NullHelpPeer help;
};
NullPeers& nullPeers();

// Every member points at a peer: the null one until a window is plugged in.
struct PanelPeers {
  CommPeer* comm = &nullPeers().comm;
  LogPeer* log = &nullPeers().log;
  ForwardMeterPeer* fwdMeter = &nullPeers().fwdMeter;
  ReflectedMeterPeer* rflMeter = &nullPeers().rflMeter;
  ValueWindowPeer* peak = &nullPeers().peak;
  ValueWindowPeer* burst = &nullPeers().burst;
  HelpPeer* help = &nullPeers().help;
};

}  // namespace zrq::app
