// The menu actions and the end of the run, with recording peers.
#include <QAction>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <stdexcept>

#include "PanelTestSupport.h"

namespace zrq::test {
namespace {

struct SetupLog : FakeLog {
  bool ok = true, throws = false;
  int ticks = 6, resets = 0;
  bool runSetupDialog() override {
    if (throws) throw std::runtime_error("'x' is not a valid integer value");
    return ok;
  }
  int sampleTicks() const override { return ticks; }
  void resetSampleTime() override { ++resets; }
};

struct RecordingHelp : app::NullHelpPeer {
  std::string file, topic;
  int quits = 0;
  void showTopic(const std::string& f, const std::string& t) override {
    file = f;
    topic = t;
  }
  void quit() override { ++quits; }
};

class LifecycleTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    app::PanelPeers p = w->peers();
    p.log = &setupLog;
    p.help = &help;
    w->setPeers(p);
  }
  SetupLog setupLog;
  RecordingHelp help;
};

TEST_F(LifecycleTest, LogSetUpOkArmsTheNextLogTickAndAnEntryErrorResetsTheSampleTime) {
  w->logTickCounter = 0;
  w->SetUp2->trigger();
  EXPECT_EQ(w->logTickCounter, 5);
  setupLog.ok = false;
  w->logTickCounter = 0;
  w->SetUp2Click();
  EXPECT_EQ(w->logTickCounter, 0);  // cancelled: nothing changes
  setupLog.throws = true;
  w->SetUp2Click();
  EXPECT_EQ(setupLog.resets, 1);
  ASSERT_EQ(boxes("Time Entry Error"), 1);
  EXPECT_EQ(msg->shown().back().text, "An entry error was encoutered.");
}

TEST_F(LifecycleTest, HelpOpensAtItsTopic) {
  w->BXTToolHelp1->trigger();
  EXPECT_EQ(help.topic, "TApplication_HelpJump");
  EXPECT_EQ(help.file, w->helpFile.toStdString());
}

TEST_F(LifecycleTest, ExitClosesWindowsDisconnectsStopsLoggingAndQuitsTheHelpViewer) {
  QWidget meter(nullptr, Qt::Window), rfl(nullptr, Qt::Window), pk(nullptr, Qt::Window),
      bu(nullptr, Qt::Window);
  w->setAuxWindows(&meter, &rfl, &pk, &bu);
  meter.show();
  auto* child = new QWidget(w.get(), Qt::Window);
  child->show();
  setupLog.on = true;
  w->Active1->setChecked(true);
  comm.connected = true;
  w->Exit1->trigger();
  EXPECT_TRUE(w->shutDown());
  EXPECT_FALSE(child->isVisible());
  EXPECT_FALSE(meter.isVisible());
  EXPECT_EQ(comm.disconnects, 1);
  EXPECT_FALSE(w->loggingActive());
  EXPECT_FALSE(w->Active1->isChecked());
  EXPECT_EQ(setupLog.closes, 1);
  EXPECT_EQ(help.quits, 1);
  EXPECT_FALSE(w->displayTimer->isActive());
  w->shutdown();  // runs once
  EXPECT_EQ(help.quits, 1);
}

TEST_F(LifecycleTest, CloseWithoutQueryLeavesThePortAlone) {
  comm.connected = true;
  setupLog.on = true;
  w->FormClose();
  EXPECT_TRUE(w->shutDown());
  EXPECT_EQ(comm.disconnects, 0);
  EXPECT_EQ(setupLog.closes, 1);
}

TEST_F(LifecycleTest, PortItemClickConnectsThroughTheConnectionWindowByTag) {
  w->addPortMenuItem("COM1");
  QAction* second = w->addPortMenuItem("COM3");
  second->trigger();  // unchecked: connect; the fake stays unconnected
  EXPECT_TRUE(second->isChecked());
  EXPECT_EQ(comm.lastConnectTag, 1);
  EXPECT_FALSE(w->portMenuItem("COM1")->isEnabled());
  EXPECT_EQ(text(w->lblComm), "  Connecting");
  EXPECT_EQ(w->windowTitle().toStdString(), "7730 ZRQ V3.1.4.3");  // not connected: no rename
  second->trigger();                                               // checked: disconnect
  EXPECT_FALSE(second->isChecked());
  EXPECT_TRUE(w->portMenuItem("COM1")->isEnabled());
  EXPECT_EQ(comm.disconnects, 1);
}

// Disconnected, nothing ticks: the display timer parks once a tick finds
// nothing to follow, and a connect starts it again.
TEST_F(LifecycleTest, DisconnectedTheDisplayTimerParksAndAConnectWakesIt) {
  QAction* port = w->addPortMenuItem("COM3");
  w->displayTimer->setInterval(20);
  w->displayTimer->start();
  const long before = w->displayTicks();
  // The start-up tick follows the state change; the panel is idle after it.
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->displayParked(); }, 2000));
  EXPECT_FALSE(w->displayTimer->isActive());
  EXPECT_TRUE(lit("segNoSensor"));
  EXPECT_EQ(text(w->lblComm), "No Connection");
  const long parkedAt = w->displayTicks();
  EXPECT_GT(parkedAt, before);
  QTest::qWait(200);
  EXPECT_EQ(w->displayTicks(), parkedAt);  // ten periods: not one tick
  port->trigger();                         // a connect: the panel follows it again
  EXPECT_TRUE(w->displayTimer->isActive());
  EXPECT_FALSE(w->displayParked());
  EXPECT_TRUE(QTest::qWaitFor([&] { return w->displayTicks() > parkedAt; }, 2000));
  EXPECT_EQ(w->displayTimer->interval(), 20);  // the rhythm is the timer's own again
}

// A timer the tests (or anyone) stopped stays stopped: only a parked one wakes.
TEST_F(LifecycleTest, AStoppedDisplayTimerIsNotWoken) {
  QAction* port = w->addPortMenuItem("COM3");
  tick();
  port->trigger();
  EXPECT_FALSE(w->displayTimer->isActive());
  EXPECT_FALSE(w->displayParked());
}

}  // namespace
}  // namespace zrq::test
