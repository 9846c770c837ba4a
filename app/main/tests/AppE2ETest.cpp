// The program's windows end to end: the real main and connection windows,
// the real libZervDCom.so from bin/ and a fresh tks7730-sim per test. Timers
// are stopped after each step and their handlers called, so every step is
// one tick; waits are instant except where a sensor reply is awaited.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>

#include "QtEventually.h"
#include "QtE2E.h"
#include "CommBridge.h"
#include "DevComInterface.h"
#include "LockHolder.h"
#include "SensorProtocol.h"
#include "SimHarness.h"
#include "TKS7730Commands.h"
#include "TfrmAbout.h"
#include "TfrmComm.h"
#include "TfrmMain.h"
#include "ZervDComDLL.h"
#include "frame/Frame.h"
#include "frame/Version.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

using zrq::core::CommState;

namespace {

using zrq::comm::test::SimProcess;

const QString kVersionCaption =
    QStringLiteral("7730 ZRQ ") + QString::fromLatin1(zrq::frame::kVersionText);

using zrq::test::qt::eventually;

bool lit(QLabel* l) { return l->isVisibleTo(l->parentWidget()); }

// Milliseconds of each trace line whose command letter is `letter`.
std::vector<long> commandTimes(const SimProcess& sim, char letter) {
  std::vector<long> out;
  std::istringstream lines(sim.trace());
  std::string line;
  const std::string key = std::string("cmd ") + letter + " bytes=";
  while (std::getline(lines, line))
    if (line.find(key) != std::string::npos) out.push_back(std::stol(line));
  return out;
}

class AppE2E : public zrq::test::qt::AppWindowsE2E {
 protected:
  void SetUp() override {
    ZRQ_QT_E2E_SETUP();
    char tmpl[] = "/tmp/zrq-e2e-usb.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    usbDir_ = tmpl;
  }

  void TearDown() override {
    destroyWindows();
    sim.reset();
    if (!usbDir_.empty()) std::filesystem::remove_all(usbDir_);
  }

  // The simulator with one serial and one USB sensor, then the windows as
  // ZRQUSB creates them, discovering what the simulator offers.
  void start(std::vector<std::string> simOptions = {},
             const std::function<void()>& beforeDiscovery = {}) {
    simOptions.insert(simOptions.end(), {"--usb", "1", "--usb-dir", usbDir_});
    simStarted_ = std::chrono::steady_clock::now();
    sim = std::make_unique<SimProcess>(simOptions);
    ASSERT_TRUE(sim->ok()) << sim->error();
    ::setenv("ZRQ_SERIAL_PORTS", sim->serialPath().c_str(), 1);
    ::setenv("ZERVDCOM_HID_SIM_DIR", usbDir_.c_str(), 1);
    if (beforeDiscovery) beforeDiscovery();
    createWindows();
    about = new TfrmAbout(main);
    main->setDialogs(nullptr, about);
    for (auto& w : aux) w = new QWidget(main, Qt::Window);
    main->setAuxWindows(aux[0], aux[1], aux[2], aux[3]);
    zrq::app::PanelPeers peers;
    peers.comm = bridge.get();
    main->setPeers(peers);
    stopTimers();
  }

  void stopTimers() {
    for (QTimer* t : {main->displayTimer, main->readDataTimer, comm->dataPollTimer}) t->stop();
  }

  // Clicks the port item; afterwards the reading timers must have been armed.
  void connect(const std::string& port) {
    QAction* item = main->portMenuItem(QString::fromStdString(port));
    ASSERT_NE(item, nullptr) << port;
    main->Setup1ItemsClick(item);
    ASSERT_TRUE(comm->connected());
    EXPECT_TRUE(main->readDataTimer->isActive());
    EXPECT_TRUE(comm->dataPollTimer->isActive());
    stopTimers();
    // The stream was started last; D has no reply and may still be on its way.
    EXPECT_TRUE(eventually([&] { return sim->lastCommand() == 'D'; }));
  }

  // One readDataTimer tick once a data line has had time to arrive, then two
  // display ticks.
  void tick() {
    QTest::qWait(350);
    main->readDataTimerTimer();
    main->displayTimerTimer();
    main->displayTimerTimer();
  }

  // Display ticks while no port is connected, as the program runs them before
  // the user opens the Comm menu: the panel shows no type.
  void idleTicks(int n = 3) {
    for (int i = 0; i < n; ++i) main->displayTimerTimer();
    ASSERT_EQ(main->state.measType, zrq::core::MeasType::None);
  }

  // Ticks until a data line has been accepted (bounded): on a loaded machine
  // the first line after a connect may come late or still name the old type.
  void tickUntilAccepted(int maxTicks = 12) {
    const std::int64_t before = main->state.lastReadingMs;
    for (int i = 0; i < maxTicks; ++i) {
      tick();
      if (main->state.lastReadingMs != before &&
          main->state.reading.reportedType == zrq::core::measTypeCode(main->state.measType))
        break;
    }
    tick();
  }

  void expectNoConnectFailure() {
    EXPECT_EQ(boxes.count("Cannot Connect"), 0);
    EXPECT_EQ(boxes.count("Error"), 0);  // "Configuration Error!", "Calibration Error!"
  }

  void expectAveragePanel() {
    EXPECT_EQ(main->state.commState, CommState::Streaming);
    EXPECT_EQ(main->state.measType, zrq::core::MeasType::Average);
    for (QLabel* l : {main->segFwd, main->segFAvg, main->segRfl, main->segRAvg, main->segFwdUnits,
                      main->segRflUnits, main->segbOffset, main->segFW, main->segRW})
      EXPECT_TRUE(lit(l)) << l->objectName().toStdString();
    for (QLabel* l : {main->segNoSensor, main->segPeak, main->segFover, main->segFKW})
      EXPECT_FALSE(lit(l)) << l->objectName().toStdString();
    EXPECT_FALSE(lit(main->lblComm));
    // The simulator's forward average is 100 W with a little noise and drift.
    const double fwd = main->fwdDisplay->text().toDouble();
    EXPECT_GT(fwd, 90.0);
    EXPECT_LT(fwd, 110.0);
  }

  void expectConnectionLost() {
    EXPECT_EQ(boxes.count("Communication Error 7"), 1);
    ASSERT_FALSE(boxes.shown().empty());
    EXPECT_EQ(boxes.shown().back().text,
              "Communication lost check cables. Then\r\nreselect port from Comm menu item");
    EXPECT_FALSE(comm->connected());
    EXPECT_EQ(main->state.commState, CommState::NoConnection);
    EXPECT_EQ(main->lblComm->text(), "No Connection");
    EXPECT_EQ(main->windowTitle(), kVersionCaption);
    for (QAction* a : main->portMenuItems()) {
      EXPECT_FALSE(a->isChecked());
      EXPECT_TRUE(a->isEnabled());
    }
    EXPECT_FALSE(main->readDataTimer->isActive());
    EXPECT_FALSE(comm->dataPollTimer->isActive());
  }

  zrq::ui::ScopedScriptedMessageBoxes boxes;
  std::optional<zrq::ui::ScopedInstantDelay> instant{std::in_place};
  std::unique_ptr<SimProcess> sim;
  TfrmAbout* about = nullptr;
  QWidget* aux[4] = {};

  // Lets the event loop run until the simulator has run this long (its
  // faults' at= times count from its start).
  void waitUntilSimAge(int ms) {
    const auto due = simStarted_ + std::chrono::milliseconds(ms);
    const auto now = std::chrono::steady_clock::now();
    if (due > now)
      QTest::qWait(static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count()));
  }

 private:
  std::string usbDir_;
  std::chrono::steady_clock::time_point simStarted_;
};

TEST_F(AppE2E, PortsAreListedInDiscoveryOrderWithMenuTagsCountingUp) {
  start();
  const QList<QAction*> items = main->portMenuItems();
  ASSERT_EQ(items.size(), comm->portComboBox->count());
  ASSERT_GE(items.size(), 2);
  QStringList names;
  for (int i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i]->data().toInt(), i);
    EXPECT_EQ(items[i]->objectName(), comm->portComboBox->itemText(i));
    EXPECT_EQ(comm->commands().getPort(i)->portName(), items[i]->objectName().toStdString());
    names << items[i]->objectName();
  }
  // Legacy names first (COM0 is probed, never offered), then the extra paths,
  // then the USB sensors.
  EXPECT_FALSE(names.contains("COM0"));
  EXPECT_EQ(names[names.size() - 2], QString::fromStdString(sim->serialPath()));
  EXPECT_EQ(names.back(), "7730USB1");
  for (int i = 0; i < names.size() - 2; ++i) EXPECT_TRUE(names[i].startsWith("COM")) << i;
  EXPECT_EQ(comm->currPortName->text(), names.front());
  EXPECT_EQ(comm->commands().selectedPort(), comm->commands().getPort(0));

  comm->getCommPorts();
  EXPECT_EQ(boxes.count("Comm Device Status"), 1);
  EXPECT_EQ(boxes.shown().back().text, "Device manager already running");
  EXPECT_EQ(main->portMenuItems().size(), items.size());
}

TEST_F(AppE2E, APortAnotherZrqHoldsIsShownInUseWithoutABoxAndOfferedOnceFree) {
  std::unique_ptr<zrq::comm::test::LockHolderProcess> other;
  start({}, [&] {
    other = std::make_unique<zrq::comm::test::LockHolderProcess>(sim->serialPath(), "ZRQUSB");
  });
  const QString port = QString::fromStdString(sim->serialPath());
  QAction* held = nullptr;
  for (QAction* a : main->Setup1->actions())
    if (a->objectName() == port) held = a;
  ASSERT_NE(held, nullptr);
  EXPECT_FALSE(held->isEnabled());
  EXPECT_EQ(held->text(), port + " (in use by ZRQ, process " + QString::number(other->pid()) + ")");
  EXPECT_EQ(boxes.count("Device Access"), 0);
  EXPECT_EQ(main->portMenuItem(port), nullptr) << "not a port to pick";
  emit main->Setup1->aboutToShow();
  EXPECT_FALSE(main->portMenuItem(port)) << "still held";

  // The other ZRQ ends: the next look at the menu offers the port.
  other.reset();
  emit main->Setup1->aboutToShow();
  QAction* item = main->portMenuItem(port);
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(item->isEnabled());
  EXPECT_EQ(item->text(), port);
  QTest::qWait(0);  // the held item is deleted later
  int named = 0;
  for (QAction* a : main->Setup1->actions()) named += a->objectName() == port;
  EXPECT_EQ(named, 1);
  connect(sim->serialPath());
  EXPECT_EQ(main->windowTitle(), port + " SN 12345");
}

TEST_F(AppE2E, SerialConnectStreamsAverageAndASecondClickDisconnects) {
  start();
  const std::string port = sim->serialPath();
  connect(port);
  const QString caption = QString::fromStdString(port) + " SN 12345";
  EXPECT_EQ(main->windowTitle(), caption);
  for (QWidget* w : aux) EXPECT_EQ(w->windowTitle(), caption);
  EXPECT_EQ(zrq::ui::applicationTitle(), caption.toStdString());
  // Nothing for the window system to append to titles and captions.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
  const QString shortName = QString::fromStdString(port).section('/', -1);
  ASSERT_FALSE(main->dlgSaveLog->selectedFiles().isEmpty());
  EXPECT_TRUE(main->dlgSaveLog->selectedFiles().front().endsWith("/Log" + shortName + ".csv"));
  EXPECT_TRUE(about->lbl7730->isVisibleTo(about));
  EXPECT_TRUE(main->portMenuItem(QString::fromStdString(port))->isChecked());
  for (QAction* a : main->portMenuItems())
    EXPECT_EQ(a->isEnabled(), a->objectName().toStdString() == port);

  tick();
  expectAveragePanel();
  EXPECT_TRUE(boxes.shown().empty());

  main->Setup1ItemsClick(main->portMenuItem(QString::fromStdString(port)));
  EXPECT_FALSE(comm->connected());
  EXPECT_EQ(main->windowTitle(), kVersionCaption);
  EXPECT_EQ(zrq::ui::applicationTitle(), "ZRQ");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
  EXPECT_FALSE(about->lbl7730->isVisibleTo(about));
  EXPECT_EQ(main->lblComm->text(), "No Connection");
  for (QAction* a : main->portMenuItems()) {
    EXPECT_FALSE(a->isChecked());
    EXPECT_TRUE(a->isEnabled());
  }
  // The disconnect stopped the stream before the port closed.
  EXPECT_EQ(sim->lastCommand(), 'U');
}

TEST_F(AppE2E, UsbConnectStreamsAverage) {
  start();
  connect("7730USB1");
  EXPECT_EQ(main->windowTitle(), "7730USB1 SN 12346");
  EXPECT_TRUE(main->dlgSaveLog->selectedFiles().value(0).endsWith("/Log7730USB1.csv"));
  tick();
  expectAveragePanel();
  EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AppE2E, SettingsChangeResendsTheSettingsAndRestartsTheStreamWithinASecond) {
  start();
  connect(sim->serialPath());
  tick();
  instant.reset();  // the real one-second pause between stop and restart
  const std::size_t gBefore = sim->commandsReceived('G').size();
  main->btnTypeClick();
  main->displayTimerTimer();  // takes the type step: Peak, settingsChanged
  ASSERT_TRUE(main->state.settingsChanged);
  const auto t0 = std::chrono::steady_clock::now();
  comm->dataPollTimerTimer();
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_FALSE(main->state.settingsChanged);
  EXPECT_TRUE(main->readDataTimer->isActive());
  stopTimers();

  // D has no reply: it may still be on its way.
  EXPECT_TRUE(eventually([&] {
    const std::string letters = sim->commandLetters();
    return letters.size() >= 3 && letters.substr(letters.size() - 3) == "UGD";
  })) << sim->commandLetters();
  const auto gs = sim->commandsReceived('G');
  ASSERT_EQ(gs.size(), gBefore + 1);
  EXPECT_EQ(gs.back().size(), 44u);
  EXPECT_EQ(gs.back()[2], '\x02');  // Peak
  const auto us = commandTimes(*sim, 'U');
  const auto ds = commandTimes(*sim, 'D');
  ASSERT_FALSE(us.empty());
  ASSERT_FALSE(ds.empty());
  EXPECT_GE(ds.back() - us.back(), 900);
  EXPECT_LE(ds.back() - us.back(), 1400);

  tickUntilAccepted();
  EXPECT_EQ(main->state.reading.reportedType, 2);
  EXPECT_EQ(main->state.measType, zrq::core::MeasType::Peak);
  EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AppE2E, FilterChangeDuringTheResendPauseReachesTheSensor) {
  start();
  connect(sim->serialPath());
  tick();
  instant.reset();
  // The real one-second pause, with the event loop running as in the program.
  zrq::ui::setDelayFunction(&zrq::frame::eventLoopDelay);
  struct Restore {
    ~Restore() { zrq::ui::setDelayFunction({}); }
  } restore;
  const std::size_t gBefore = sim->commandsReceived('G').size();
  main->btnTypeClick();
  main->displayTimerTimer();  // Peak, settingsChanged
  ASSERT_TRUE(main->state.settingsChanged);
  ASSERT_FLOAT_EQ(main->state.filterHz, 4500);
  // The user picks "Full" in the filter window while the stream is stopped.
  bool changed = false;
  QTimer::singleShot(300, main, [&] {
    main->state.filterHz = 10000;
    main->state.settingsChanged = true;
    changed = true;
  });
  comm->dataPollTimerTimer();
  ASSERT_TRUE(changed);
  stopTimers();
  EXPECT_TRUE(eventually([&] {
    const std::string letters = sim->commandLetters();
    return letters.size() >= 3 && letters.substr(letters.size() - 3) == "UGD";
  })) << sim->commandLetters();
  const auto gs = sim->commandsReceived('G');
  ASSERT_EQ(gs.size(), gBefore + 1);
  EXPECT_EQ(gs.back(), zrq::comm::protocol::buildSettingsCommand(
                           2, main->state.offsetDb, 10000, zrq::core::unitCode(main->state.fwdUnit),
                           main->state.ccdfLimit));
  // The change went out with that command: nothing is left to send.
  EXPECT_FALSE(main->state.settingsChanged);
  EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AppE2E, GarbageLineStopsAndRestartsTheStreamSilently) {
  start();
  connect(sim->serialPath());
  tick();
  const std::string before = sim->commandLetters();
  comm->pktDataString("x#garbage 12,3\r");
  EXPECT_EQ(sim->lettersWhen(before + "UD"), before + "UD");
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_TRUE(comm->connected());
  EXPECT_TRUE(main->readDataTimer->isActive());
  EXPECT_TRUE(comm->dataPollTimer->isActive());
  stopTimers();
  tick();
  expectAveragePanel();
}

TEST_F(AppE2E, EmptyFetchStopsAndRestartsTheStream) {
  // Lines every 30 s: the first fetch finds nothing.
  start({"--interval", "30000"});
  connect(sim->serialPath());
  const std::string before = sim->commandLetters();
  main->readDataTimerTimer();
  EXPECT_EQ(sim->lettersWhen(before + "UD"), before + "UD");
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_TRUE(comm->connected());
  EXPECT_TRUE(main->readDataTimer->isActive());
  EXPECT_EQ(main->state.commState, CommState::Streaming);
}

TEST_F(AppE2E, LineOfAnotherLayoutIsIgnored) {
  start({"--fault", "layout,every=1"});
  connect(sim->serialPath());
  const std::string before = sim->commandLetters();
  tick();
  tick();
  EXPECT_EQ(sim->commandLetters(), before);  // no recovery
  EXPECT_FALSE(main->readDataTimer->isActive());
  EXPECT_EQ(main->state.reading.fwdAvgPower, 0.0);
  EXPECT_EQ(main->state.commState, CommState::Streaming);
  EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AppE2E, NumberThatIsNoNumberIsReportedAndStreamingGoesOn) {
  start({"--fault", "nan,every=1,field=3"});
  connect(sim->serialPath());
  tick();
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_NE(boxes.shown().front().text.find("field 3"), std::string::npos)
      << boxes.shown().front().text;
  EXPECT_EQ(main->state.commState, CommState::Streaming);
  EXPECT_TRUE(comm->connected());
}

TEST_F(AppE2E, HangUpEndsInCommunicationErrorSeven) {
  start({"--fault", "hangup,at=2500,for=60000"});
  connect(sim->serialPath());
  tick();
  ASSERT_TRUE(eventually([&] { return sim->trace().find("hangup") != std::string::npos; }, 5000));
  QTest::qWait(100);
  main->readDataTimerTimer();
  expectConnectionLost();
}

TEST_F(AppE2E, FourUnansweredStopCommandsEndInCommunicationErrorSeven) {
  start({"--fault", "no-u-reply,at=2500,count=4"});
  connect(sim->serialPath());
  const std::size_t stopsBefore = commandTimes(*sim, 'U').size();
  waitUntilSimAge(2700);
  comm->pktDataString("");
  expectConnectionLost();
  // Four stops unanswered, then the one of the disconnect.
  EXPECT_TRUE(eventually([&] { return commandTimes(*sim, 'U').size() == stopsBefore + 5; }, 3000));
}

// The same lost sensor with the window's own waits: while the library waits
// for the four replies the panel keeps ticking and says what it waits for.
TEST_F(AppE2E, LostSensorWaitKeepsThePanelTickingAndSaysWaitingForTheSensor) {
  start({"--fault", "no-u-reply,at=2500,count=4"});
  connect(sim->serialPath());
  waitUntilSimAge(2700);
  zrq::ui::setWaitFunction(&zrq::frame::eventLoopWait);
  int ticks = 0;
  QStringList labels;
  QObject::connect(main->displayTimer, &QTimer::timeout, [&] {
    ++ticks;
    if (main->lblComm->isVisible() && !labels.contains(main->lblComm->text()))
      labels << main->lblComm->text();
  });
  main->show();
  main->displayTimer->start();
  QElapsedTimer took;
  took.start();
  comm->pktDataString("");
  zrq::ui::setWaitFunction({});
  main->displayTimer->stop();
  expectConnectionLost();
  // Four replies of 2 s each: a frozen window would tick not at all.
  EXPECT_GT(took.elapsed(), 6000);
  EXPECT_GE(ticks, static_cast<int>(took.elapsed() / main->displayTimer->interval()) / 2);
  EXPECT_TRUE(labels.contains("Waiting for the sensor")) << labels.join(" | ").toStdString();
  EXPECT_FALSE(main->showingSensorWait());
}

// The user closes the window while a stop command waits for its reply: the
// recovery sends nothing more and shows no box after the program ended.
TEST_F(AppE2E, ClosingTheWindowWhileAStopWaitsEndsTheRecoveryQuietly) {
  start({"--fault", "no-u-reply,at=2500,count=4"});
  connect(sim->serialPath());
  waitUntilSimAge(2700);
  zrq::ui::setWaitFunction(&zrq::frame::eventLoopWait);
  std::size_t stopsAtClose = 0;
  QTimer::singleShot(2500, main, [&] {
    main->close();
    stopsAtClose = commandTimes(*sim, 'U').size();
  });
  comm->pktDataString("");
  zrq::ui::setWaitFunction({});
  ASSERT_NE(stopsAtClose, 0u);
  EXPECT_TRUE(main->shutDown());
  EXPECT_FALSE(comm->connected());
  EXPECT_EQ(boxes.count("Communication Error 7"), 0);
  EXPECT_TRUE(boxes.shown().empty());
  QTest::qWait(300);
  // No further stop attempt: only the close's own stop, sent once the wait was over.
  EXPECT_EQ(commandTimes(*sim, 'U').size(), stopsAtClose + 1);
  for (QTimer* t : {main->displayTimer, main->readDataTimer, comm->dataPollTimer})
    EXPECT_FALSE(t->isActive());
}

TEST_F(AppE2E, MenuConnectAfterDisplayTicksStreamsOverSerialThenUsb) {
  start();
  idleTicks();
  connect(sim->serialPath());
  expectNoConnectFailure();
  // The first line may come before the first display tick: it names Average
  // while the panel has no type yet and is passed over.
  tickUntilAccepted();
  expectAveragePanel();
  // The settings went out with the type the panel had: none yet.
  const auto gs = sim->commandsReceived('G');
  ASSERT_FALSE(gs.empty());
  EXPECT_EQ(gs.front()[2], '\x00');

  main->Setup1ItemsClick(main->portMenuItem(QString::fromStdString(sim->serialPath())));
  ASSERT_FALSE(comm->connected());
  comm->dataPollTimerTimer();
  EXPECT_EQ(boxes.count("Select Port"), 1);
  boxes.clear();
  idleTicks();
  connect("7730USB1");
  expectNoConnectFailure();
  tickUntilAccepted();
  expectAveragePanel();
  EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AppE2E, PanelShowsNoConnectionBesideTheSelectPortBox) {
  start();
  connect(sim->serialPath());
  tick();
  expectAveragePanel();
  main->Setup1ItemsClick(main->portMenuItem(QString::fromStdString(sim->serialPath())));
  bool seen = false;
  boxes.onShow = [&](const zrq::ui::MsgRequest& r) {
    if (r.caption != "Select Port") return;
    seen = true;
    EXPECT_EQ(main->fwdDisplay->text(), "");
    EXPECT_EQ(main->rflDisplay->text(), "");
    EXPECT_TRUE(lit(main->segNoSensor));
    for (QLabel* l : {main->segFAvg, main->segFW, main->segRW, main->segRAvg})
      EXPECT_FALSE(lit(l)) << l->objectName().toStdString();
    EXPECT_FALSE(main->btnType->isEnabled());
    EXPECT_FALSE(main->btnFwdUnits->isEnabled());
    EXPECT_EQ(main->lblComm->text(), "No Connection");
  };
  comm->dataPollTimerTimer();
  boxes.onShow = nullptr;
  EXPECT_TRUE(seen);
}

TEST_F(AppE2E, MenuReconnectAfterCommunicationErrorSevenStreamsAgain) {
  start({"--fault", "no-u-reply,at=2500,count=4"});
  connect(sim->serialPath());
  waitUntilSimAge(2700);
  comm->pktDataString("");
  expectConnectionLost();
  boxes.clear();
  idleTicks();
  connect(sim->serialPath());
  expectNoConnectFailure();
  tickUntilAccepted();
  expectAveragePanel();
  EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AppE2E, AboutsHiddenButtonShowsTheConnectionWindowModally) {
  start();
  ASSERT_FALSE(comm->isVisible());
  main->move(120, 90);
  about->Button1->click();
  EXPECT_TRUE(comm->isVisible());
  EXPECT_EQ(comm->windowModality(), Qt::ApplicationModal);
  // Centred over the main window.
  EXPECT_LE((comm->frameGeometry().center() - main->frameGeometry().center()).manhattanLength(), 4);
  comm->hide();
}

TEST_F(AppE2E, ClosingTheWindowWhileAConnectWaitsStopsTheSequence) {
  start();
  // The first wait of the connect runs the event loop; the user closes the
  // main window there.
  std::string lettersAtClose;
  bool closed = false;
  zrq::ui::setDelayFunction([&](int) {
    if (closed) return;
    closed = true;
    main->close();
    QTest::qWait(300);  // the disconnect's U reaches the trace
    lettersAtClose = sim->commandLetters();
  });
  struct Restore {
    ~Restore() { zrq::ui::setDelayFunction({}); }
  } restore;
  main->Setup1ItemsClick(main->portMenuItem(QString::fromStdString(sim->serialPath())));
  ASSERT_TRUE(closed);
  EXPECT_TRUE(main->shutDown());
  EXPECT_FALSE(comm->connected());
  for (QTimer* t : {main->displayTimer, main->readDataTimer, comm->dataPollTimer})
    EXPECT_FALSE(t->isActive());
  comm->dataPollTimerTimer();
  main->readDataTimerTimer();
  QTest::qWait(300);
  EXPECT_EQ(sim->commandLetters(), lettersAtClose);
  EXPECT_NE(main->windowTitle().toStdString().find("7730 ZRQ"), std::string::npos);
  EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AppE2E, PortItemClickedAgainWhileItsConnectWaitsLeavesThePortClosed) {
  start();
  QAction* item = main->portMenuItem(QString::fromStdString(sim->serialPath()));
  // At the connect's first wait the user clicks the item again: disconnect.
  bool clicked = false;
  zrq::ui::setDelayFunction([&](int) {
    if (clicked) return;
    clicked = true;
    item->trigger();
  });
  struct Restore {
    ~Restore() { zrq::ui::setDelayFunction({}); }
  } restore;
  item->trigger();
  ASSERT_TRUE(clicked);
  EXPECT_FALSE(comm->connected());
  EXPECT_FALSE(item->isChecked());
  // The first start-up and its close, then nothing: the port was not opened again.
  EXPECT_EQ(sim->lettersWhen("IIFGUI", 1500), "IIFGU");
  EXPECT_NE(main->windowTitle().toStdString().find("7730 ZRQ"), std::string::npos);
  // As after any disconnect from the menu, and nothing of a failed connect.
  for (const auto& b : boxes.shown()) EXPECT_EQ(b.caption, "Select Port");
}

TEST_F(AppE2E, FatalCloseDuringStartUpConnectEndsTheProgram) {
  start({"--firmware", "1.20"});
  QProcess zrq;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("ZRQ_SERIAL_PORTS", QString::fromStdString(sim->serialPath()));
  zrq.setProcessEnvironment(env);
  QElapsedTimer t;
  t.start();
  zrq.start(QString::fromStdString(zrq::comm::test::binDir() + "/ZRQUSB"),
            {"--connect", QString::fromStdString(sim->serialPath()), "--unattended", "--quit-after",
             "60000"});
  ASSERT_TRUE(zrq.waitForStarted(10000));
  ASSERT_TRUE(zrq.waitForFinished(40000)) << "still running: the fatal close did not end it";
  EXPECT_LT(t.elapsed(), 40000);
  EXPECT_EQ(zrq.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(zrq.exitCode(), 0);
  const std::string err = zrq.readAllStandardError().toStdString();
  EXPECT_NE(err.find("7730 Update Required"), std::string::npos) << err;
}

TEST_F(AppE2E, SupervisionWithoutInterrogationAsksForAPortOnce) {
  start();
  main->state.commState = CommState::Streaming;
  comm->dataPollTimerTimer();
  EXPECT_EQ(boxes.count("Select Port"), 1);
  EXPECT_EQ(boxes.shown().back().text, "Select a port from the Comm menu item.");
  EXPECT_EQ(main->state.commState, CommState::NoConnection);
  comm->dataPollTimerTimer();
  EXPECT_EQ(boxes.count("Select Port"), 1);
  EXPECT_FALSE(main->readDataTimer->isActive());
}

TEST_F(AppE2E, ActivationNoticeCancelEndsTheRunOkKeepsItWithNoConnection) {
  start();
  boxes.answer(zrq::ui::MsgResult::Ok);
  main->FormActivate();
  ASSERT_EQ(boxes.count("Select port from Comm menu."), 1);
  EXPECT_EQ(boxes.shown().back().buttons, zrq::ui::MsgButtons::OkCancel);
  EXPECT_FALSE(main->shutDown());
  EXPECT_EQ(main->lblComm->text(), "No Connection");
  EXPECT_TRUE(lit(main->lblComm));

  connect(sim->serialPath());
  main->FormActivate();  // connected: no notice
  EXPECT_EQ(boxes.count("Select port from Comm menu."), 1);

  main->Setup1ItemsClick(main->portMenuItem(QString::fromStdString(sim->serialPath())));
  boxes.answer(zrq::ui::MsgResult::Cancel);
  main->FormActivate();
  EXPECT_EQ(boxes.count("Select port from Comm menu."), 2);
  EXPECT_TRUE(main->shutDown());
}

TEST_F(AppE2E, CloseDuringZeroCalibrationAsksAndNoKeepsRunning) {
  start();
  connect(sim->serialPath());
  main->state.zeroCalRequested = true;
  boxes.answer(zrq::ui::MsgResult::No);
  EXPECT_FALSE(main->FormCloseQuery());
  EXPECT_EQ(boxes.count("Zero Calibration"), 1);
  EXPECT_EQ(boxes.shown().back().buttons, zrq::ui::MsgButtons::YesNo);
  EXPECT_TRUE(comm->connected());
  EXPECT_FALSE(main->shutDown());

  boxes.answer(zrq::ui::MsgResult::Yes);
  EXPECT_TRUE(main->FormCloseQuery());
  EXPECT_FALSE(comm->connected());
  EXPECT_TRUE(main->shutDown());
  EXPECT_EQ(sim->lastCommand(), 'U');
}

TEST_F(AppE2E, RequestedZeroCalibrationStartsWithTheNextLine) {
  start();
  connect(sim->serialPath());
  main->state.zeroCalRequested = true;
  tick();
  EXPECT_EQ(main->state.commState, CommState::ZeroCal);
  EXPECT_EQ(comm->dataPollTimer->interval(), 48000);
  EXPECT_TRUE(comm->dataPollTimer->isActive());
  EXPECT_FALSE(main->readDataTimer->isActive());
  EXPECT_EQ(main->ProgressBar1->maximum(), 180);
  EXPECT_TRUE(eventually([&] {
    const std::string letters = sim->commandLetters();
    return letters.size() >= 2 && letters.substr(letters.size() - 2) == "UZ";
  }));
}

}  // namespace
