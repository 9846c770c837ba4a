// Shared fixture of the main-window tests: the real window with scripted
// message boxes, peers that record what the panel asks of them, and readings
// prepared as sensor data strings decoded by the real decoder.
#pragma once

#include <QEvent>
#include <QLabel>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>

#include "PanelPeers.h"
#include "QtTestApp.h"
#include "TfrmAbout.h"
#include "TfrmFilterValue.h"
#include "TfrmMain.h"
#include "uiface/MsgBox.h"

namespace zrq::test {

using qt::ensureApplication;

// Counts the paint events of the widget it is installed on.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

struct FakeComm : app::NullCommPeer {
  bool connected = false, interrogated = false, settingsOk = false;
  bool zeroCalReplyOk = true;
  int readCalls = 0, zeroCalReads = 0, disconnects = 0;
  std::string firmware = "1.07";
  bool portConnected() const override { return connected; }
  bool interrogationAccepted() const override { return interrogated; }
  bool settingsAccepted() const override { return settingsOk; }
  void readSensorData() override { ++readCalls; }
  bool readZeroCalReply() override {
    ++zeroCalReads;
    return zeroCalReplyOk;
  }
  void disconnect() override { ++disconnects; }
  int lastConnectTag = -1;
  void connectPort(int tag) override { lastConnectTag = tag; }
  std::string firmwareVersion() const override { return firmware; }
  int modalShows = 0;
  void showModal() override { ++modalShows; }
};

struct FakeLog : app::NullLogPeer {
  int trigger = 0, checks = 0, closes = 0;
  bool on = false;
  int triggerIndex() const override { return trigger; }
  void checkLogTriggers() override { ++checks; }
  bool active() const override { return on; }
  void closeLogFile() override {
    ++closes;
    on = false;
  }
};

struct FakeForwardMeter : app::NullForwardMeterPeer {
  bool shown = false;
  int updates = 0;
  double lastValue = 0;
  core::PowerUnit lastUnit = core::PowerUnit::None;
  bool isShown() const override { return shown; }
  void showWindow() override { shown = true; }
  void hideWindow() override { shown = false; }
  void updateForward(core::MeasType, double value, core::PowerUnit unit) override {
    ++updates;
    lastValue = value;
    lastUnit = unit;
  }
};

struct FakeReflectedMeter : app::NullReflectedMeterPeer {
  bool shown = false;
  double value = 0;
  std::string caption;
  bool isShown() const override { return shown; }
  void showWindow() override { shown = true; }
  void hideWindow() override { shown = false; }
  void setValue(double v) override { value = v; }
  void setScale(const std::string& c, double, double, const std::string&) override { caption = c; }
};

// A stand-in peak or burst window with real labels for its annunciators.
struct FakeValueWindow : app::NullValueWindowPeer {
  QWidget host;
  std::map<std::string, QLabel*> labels;
  bool shown = false;
  std::string value, second;
  int bar = -1;
  QLabel* segment(app::SegmentCode code) override {
    const app::SegmentEntry* e = app::findSegment(code);
    if (!e) return nullptr;
    const char* name = e->name;
    auto& l = labels[name];
    if (!l) {
      l = new QLabel(QString::fromLatin1(name), &host);
      l->setObjectName(QString::fromLatin1(name));
      l->hide();
    }
    return l;
  }
  bool lit(const char* name) { return labels.count(name) && labels[name]->isVisibleTo(&host); }
  bool isShown() const override { return shown; }
  void showWindow() override { shown = true; }
  void hideWindow() override { shown = false; }
  void setValueText(const std::string& t) override { value = t; }
  void setSecondText(const std::string& t) override { second = t; }
  void setBar(int b) override { bar = b; }
};

struct Powers {
  double fwd = 100, rfl = 1, peak = 150, burst = 80, crest = 2.5, ccdf = 0.25, duty = 37.5;
  int scale = 9;
};

// A layout-A data string carrying these values and the reported type.
std::string dataString(const Powers& p, int reportedType);

class PanelTest : public ::testing::Test {
 protected:
  // Constructed first: the stand-in windows below are widgets.
  struct AppGuard {
    AppGuard() { ensureApplication(); }
  } appGuard_;

  void SetUp() override;
  void TearDown() override;

  // Decodes a data string for the selected type into the window's reading,
  // as the connection side does; expects it accepted.
  void receive(const Powers& p);
  // Moves the panel into streaming Average with these powers.
  void startStreaming(const Powers& p = {});
  void tick(int n = 1);
  // Serves a type request on the next tick with a fresh reading of the new type.
  void stepTo(core::MeasType target);

  bool lit(const char* name) const;
  std::string text(QLabel* l) const { return l->text().toStdString(); }
  int boxes(const char* caption) const { return msg->count(caption); }

  std::unique_ptr<ui::ScopedScriptedMessageBoxes> msg;
  std::unique_ptr<TfrmMain> w;
  TfrmFilterValue* filter = nullptr;
  TfrmAbout* about = nullptr;
  FakeComm comm;
  FakeLog log;
  FakeForwardMeter fwdMeter;
  FakeReflectedMeter rflMeter;
  FakeValueWindow peak, burst;
  Powers last;
  std::int64_t nowMs = 1'000'000;
};

}  // namespace zrq::test
