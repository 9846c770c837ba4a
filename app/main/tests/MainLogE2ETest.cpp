// Logging from the main window end to end: the real main, connection and
// log set-up windows with the log writer, the real library and a fresh
// tks7730-sim per test, driven through the menus with the timers running.
// Every log is read back with Python's csv module.
#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QToolButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "QtEventually.h"
#include "QtE2E.h"
#include "CommBridge.h"
#include "LogRun.h"
#include "PanelAlarms.h"
#include "SimHarness.h"
#include "TfrmAbout.h"
#include "TfrmAlarms.h"
#include "TfrmComm.h"
#include "TfrmLogFreq.h"
#include "TfrmMain.h"
#include "TfrmMainLog.h"
#include "ZervDComDLL.h"
#include "frame/Frame.h"
#include "frame/QtMessageBoxes.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

using zrq::core::CommState;

namespace {

namespace fs = std::filesystem;
using zrq::comm::test::SimProcess;
using zrq::logger::test::lineCount;
using zrq::logger::test::ReadBack;
using zrq::logger::test::readLog;

constexpr const char* kLoggingError = "Error during logging.  Log file deactivated.";

using zrq::test::qt::eventually;

class MainLogE2E : public zrq::test::qt::AppWindowsE2E {
 protected:
  void SetUp() override {
    ZRQ_QT_E2E_SETUP();
    dir = fs::temp_directory_path() /
          ("zrq-mainlog-e2e-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "usb");
  }

  void TearDown() override {
    writer.reset();
    destroyWindows();
    sim.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  // The simulator, then the windows in ZRQUSB's order with the log writer
  // plugged in; the timers run.
  void start(std::vector<std::string> simOptions = {}) {
    std::vector<std::string> o{"--banner",   "0",
                               "--interval", "100",
                               "--drift",    "0",
                               "--noise",    "0",
                               "--power",    "20",
                               "--usb",      "1",
                               "--usb-dir",  (dir / "usb").string()};
    o.insert(o.end(), simOptions.begin(), simOptions.end());
    sim = std::make_unique<SimProcess>(o);
    ASSERT_TRUE(sim->ok()) << sim->error();
    ::setenv("ZRQ_SERIAL_PORTS", sim->serialPath().c_str(), 1);
    ::setenv("ZERVDCOM_HID_SIM_DIR", (dir / "usb").c_str(), 1);
    createWindows();
    about = new TfrmAbout(main);
    setup = new TfrmLogFreq(main);
    main->setDialogs(nullptr, about);
    writer = std::make_unique<zrq::app::TfrmMainLog>(*main, *setup);
    writer->saveDialogAnswer = [this](QFileDialog& d) -> std::optional<QString> {
      dialogTitle = d.windowTitle();
      dialogName = d.selectedFiles().isEmpty() ? QString() : d.selectedFiles().constFirst();
      if (!answer) return std::nullopt;
      return QString::fromStdString(*answer);
    };
    zrq::app::PanelPeers peers;
    peers.comm = bridge.get();
    peers.log = writer.get();
    main->setPeers(peers);
  }

  // The user's path: a few display ticks, then the port item of the Comm
  // menu; the stream runs once the Logging menu is usable.
  void connectFromMenu(const std::string& port) {
    QTest::qWait(600);
    QAction* item = main->portMenuItem(QString::fromStdString(port));
    ASSERT_NE(item, nullptr) << port;
    item->trigger();
    ASSERT_TRUE(comm->connected()) << sim->trace();
    // Readings on the panel, as the user would see before logging them.
    ASSERT_TRUE(eventually(
        [&] {
          return main->state.commState == CommState::Streaming && main->Logging1->isEnabled() &&
                 main->state.reading.reportedType != 0;
        },
        10000));
  }

  void chooseFile(const fs::path& file) {
    answer = file.string();
    main->LogFile1->trigger();
  }

  bool shown(QLabel* l) const { return l->isVisibleTo(l->parentWidget()); }

  void menuRun(bool usb);
  // Connects, chooses the file, switches logging on; true when it is on.
  void startLogging(const fs::path& file, std::vector<std::string> simOptions = {}) {
    start(simOptions);
    if (::testing::Test::HasFatalFailure()) return;
    connectFromMenu(sim->serialPath());
    if (::testing::Test::HasFatalFailure()) return;
    chooseFile(file);
    main->Active1->trigger();
  }
  void expectLoggingOffAndStreaming() {
    EXPECT_FALSE(main->Active1->isChecked());
    EXPECT_FALSE(main->loggingActive());
    EXPECT_FALSE(writer->session().active());
    // Nothing else lost: the stream and the panel carry on.
    QTest::qWait(700);
    EXPECT_EQ(main->state.commState, CommState::Streaming);
    EXPECT_TRUE(comm->connected());
    EXPECT_TRUE(main->readDataTimer->isActive());
    EXPECT_TRUE(main->Logging1->isEnabled());
    EXPECT_FALSE(shown(main->Logging));
    EXPECT_FALSE(main->log500msTick->isActive());
    EXPECT_TRUE(main->LogFile1->isEnabled());
  }

  zrq::ui::ScopedScriptedMessageBoxes boxes;
  // The program's own waits, with the event loop running.
  struct EventLoopDelays {
    EventLoopDelays() { zrq::ui::setDelayFunction(&zrq::frame::eventLoopDelay); }
    ~EventLoopDelays() { zrq::ui::setDelayFunction({}); }
  } delays;
  fs::path dir;
  std::unique_ptr<SimProcess> sim;
  TfrmAbout* about = nullptr;
  TfrmLogFreq* setup = nullptr;
  std::unique_ptr<zrq::app::TfrmMainLog> writer;
  std::optional<std::string> answer;
  QString dialogTitle, dialogName;
};

// Sample time 1 s from the menus: headers once, the first record about half
// a second after Active, the next ones a second apart; switching off and on
// again needs the file chosen again and appends without headers.
void MainLogE2E::menuRun(bool usb) {
  start();
  if (HasFatalFailure()) return;
  const std::string port = usb ? std::string("7730USB1") : sim->serialPath();
  connectFromMenu(port);
  if (HasFatalFailure()) return;
  const fs::path file = dir / "menu.csv";

  chooseFile(file);
  EXPECT_EQ(dialogTitle, "Save logged data to file...");
  EXPECT_EQ(fs::path(dialogName.toStdString()).filename().string(),
            "Log" + fs::path(port).filename().string() + ".csv");
  EXPECT_FALSE(fs::exists(file));  // choosing does not open

  QElapsedTimer since;
  since.start();
  main->Active1->trigger();
  EXPECT_TRUE(main->Active1->isChecked());
  EXPECT_TRUE(main->loggingActive());
  EXPECT_TRUE(main->log500msTick->isActive());
  EXPECT_TRUE(shown(main->Logging));
  ASSERT_TRUE(eventually([&] { return lineCount(file) >= 3; }, 5000));
  EXPECT_LT(since.elapsed(), 1500);           // due after 0.5 to 0.75 s; slack for a busy machine
  EXPECT_FALSE(main->LogFile1->isEnabled());  // no new file while logging
  ASSERT_TRUE(eventually([&] { return lineCount(file) >= 5; }, 5000));
  main->Active1->trigger();
  EXPECT_FALSE(main->Active1->isChecked());
  EXPECT_FALSE(main->loggingActive());
  EXPECT_FALSE(shown(main->Logging));
  const int afterFirst = lineCount(file);

  ReadBack r = readLog(file.string(), true);
  ASSERT_TRUE(r.ok) << r.why;
  ASSERT_GE(r.records.size(), 3u);
  for (std::size_t i = 1; i < r.records.size(); ++i) {
    const int gap = zrq::logger::test::secondsOfDay(r.records[i][1]) -
                    zrq::logger::test::secondsOfDay(r.records[i - 1][1]);
    EXPECT_GE(gap, 0);
    EXPECT_LE(gap, 2);
  }
  for (const auto& rec : r.records) {
    EXPECT_EQ(rec[2], main->state.sensorSerial);
    EXPECT_EQ(rec[7], "20.000000");
    EXPECT_EQ(rec[20], "NA");
  }

  // Off, and on again without a new choice: refused.
  boxes.clear();
  main->Active1->trigger();
  EXPECT_EQ(boxes.count("No log file"), 1);
  ASSERT_FALSE(boxes.shown().empty());
  EXPECT_EQ(boxes.shown().back().text, "Open log file before\r\nactivating logging.\r\n");
  EXPECT_FALSE(main->Active1->isChecked());
  QTest::qWait(700);
  EXPECT_EQ(lineCount(file), afterFirst);

  // The same file chosen again: records appended, no second header.
  chooseFile(file);
  main->Active1->trigger();
  ASSERT_TRUE(eventually([&] { return lineCount(file) >= afterFirst + 2; }, 5000));
  main->Active1->trigger();
  r = readLog(file.string(), true);  // fails on a repeated header line
  ASSERT_TRUE(r.ok) << r.why;
  EXPECT_EQ(static_cast<int>(r.records.size()), lineCount(file) - 2);
}

TEST_F(MainLogE2E, SerialFromTheMenus) { menuRun(false); }

TEST_F(MainLogE2E, UsbFromTheMenus) { menuRun(true); }

TEST_F(MainLogE2E, CancellingTheSaveDialogChangesNothing) {
  start();
  connectFromMenu(sim->serialPath());
  answer.reset();
  main->LogFile1->trigger();
  main->Active1->trigger();
  EXPECT_EQ(boxes.count("No log file"), 1);
  EXPECT_FALSE(main->Active1->isChecked());
}

// Event "First And Last Occurrence Of Trigger Above Limit" set in the set-up
// dialog: one excursion above 100 W gives exactly two records.
TEST_F(MainLogE2E, APowerExcursionPastTheLimitWritesTheTwoRecordsTheEventPromises) {
  const fs::path script = dir / "power.txt";
  std::ofstream(script) << "0 20\n3000 120\n5000 20\n";
  start({"--power-script", script.string()});
  connectFromMenu(sim->serialPath());
  setup->clickEvent(2);
  setup->forwardLimit->setText("100");
  const fs::path file = dir / "event.csv";
  chooseFile(file);
  main->Active1->trigger();
  ASSERT_TRUE(main->loggingActive());
  ASSERT_TRUE(eventually([&] { return lineCount(file) >= 4; }, 15000));
  QTest::qWait(1500);  // nothing more follows
  main->Active1->trigger();
  const ReadBack r = readLog(file.string(), true);
  ASSERT_TRUE(r.ok) << r.why;
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[0][7], "120.000000");
  EXPECT_EQ(r.records[1][7], "20.000000");
}

// Window > Alarms...: a latching upper limit on forward average with a
// hold-off; the power goes over it and back. The alarm shows and sounds until
// acknowledged, the log gets both events, and the settings outlive the panel.
TEST_F(MainLogE2E, AnAlarmShowsSoundsIsLoggedAndAcknowledgedAndItsSettingsAreKept) {
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                     QString::fromStdString((dir / "config").string()));
  const fs::path script = dir / "power.txt";
  std::ofstream(script) << "0 20\n2000 120\n5000 20\n";
  const fs::path file = dir / "alarm.csv";
  startLogging(file, {"--power-script", script.string()});
  ASSERT_TRUE(main->loggingActive());
  auto* alarms = new zrq::app::PanelAlarms(*main);
  main->setAlarms(alarms);
  EXPECT_FALSE(main->statusBar()->isVisibleTo(main));  // no limits, no annunciator

  main->Alarms1->trigger();
  auto* dlg = main->findChild<TfrmAlarms*>();
  ASSERT_TRUE(dlg && dlg->isVisible());
  TfrmAlarms::Row& row = dlg->rows[0];  // forward average, W
  row.on->setChecked(true);
  row.upper->setText("100");
  row.lower->setText("150");
  row.holdOffMs->setValue(500);
  row.latching->setChecked(true);
  QPushButton* ok = dlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
  ok->click();
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(dlg->lblProblem->text(),
            "Forward average (W): the lower limit is above the upper limit.");
  row.lower->clear();
  ok->click();
  EXPECT_FALSE(dlg->isVisible());
  ASSERT_EQ(alarms->limits().size(), 1u);
  EXPECT_TRUE(main->statusBar()->isVisibleTo(main));
  EXPECT_EQ(alarms->lblAlarm->text(), "Alarms clear");

  ASSERT_TRUE(eventually([&] { return alarms->alarms().active(); }, 10000));
  EXPECT_EQ(alarms->lblAlarm->text(), "ALARM Fwd avg 120 W > 100 W");
  EXPECT_EQ(alarms->lblAlarm->toolTip(), "Alarm raised: forward_average_w 120 W above 100 W");
  EXPECT_TRUE(alarms->soundOn());
  EXPECT_TRUE(alarms->btnAcknowledge->isEnabled());
  // Latching: back under the limit, it stands and sounds until acknowledged.
  ASSERT_TRUE(eventually([&] { return main->state.reading.fwdAvgPower < 50; }, 10000));
  QTest::qWait(500);
  EXPECT_TRUE(alarms->alarms().active());
  EXPECT_TRUE(alarms->soundOn());
  alarms->btnAcknowledge->click();
  EXPECT_FALSE(alarms->alarms().active());
  EXPECT_FALSE(alarms->soundOn());
  EXPECT_EQ(alarms->lblAlarm->text(), "Alarms clear");
  alarms->btnMute->click();
  main->Active1->trigger();

  const ReadBack r = readLog(file.string(), true);
  ASSERT_TRUE(r.ok) << r.why;
  std::vector<std::string> events;
  for (const auto& rec : r.records)
    if (rec.size() == 22) events.push_back(rec[7] + " " + rec[21]);
  EXPECT_EQ(events, (std::vector<std::string>{
                        "120.000000 Alarm raised: forward_average_w 120 W above 100 W",
                        "20.000000 Alarm cleared: forward_average_w 20 W"}));

  // A new panel's alarms: the same limits, muted.
  zrq::app::PanelAlarms again(*main);
  EXPECT_EQ(again.limits(), alarms->limits());
  EXPECT_TRUE(again.muted());
}

TEST_F(MainLogE2E, AFileThatCannotBeOpenedIsReportedAndTheMenuPutBack) {
  startLogging(dir / "none" / "x.csv");
  EXPECT_EQ(boxes.count(zrq::app::kLogOpenErrorCaption), 1);
  expectLoggingOffAndStreaming();
  EXPECT_FALSE(fs::exists(dir / "none"));

  // A read-only file. Root may open it anyway: then the first write fails.
  const std::string readOnly = (dir / "ro.csv").string();
  std::ofstream(readOnly) << "";
  ::chmod(readOnly.c_str(), 0444);
  const bool root = ::access(readOnly.c_str(), W_OK) == 0;
  chooseFile(root ? std::string("/proc/version") : readOnly);
  main->Active1->trigger();
  if (root)
    EXPECT_TRUE(eventually([&] { return boxes.count("Logging Error!") == 1; }, 5000));
  else
    EXPECT_EQ(boxes.count(zrq::app::kLogOpenErrorCaption), 2);
  expectLoggingOffAndStreaming();
}

TEST_F(MainLogE2E, AFullDeviceStopsLoggingWithTheLoggingErrorAndNothingElse) {
  startLogging("/dev/full");
  ASSERT_TRUE(eventually([&] { return boxes.count("Logging Error!") == 1; }, 5000));
  EXPECT_EQ(boxes.shown().back().text, kLoggingError);
  expectLoggingOffAndStreaming();
  EXPECT_EQ(boxes.count("Logging Error!"), 1);
}

TEST_F(MainLogE2E, AFileRemovedWhileLoggingStopsLoggingWithTheLoggingError) {
  const fs::path file = dir / "removed.csv";
  startLogging(file);
  ASSERT_TRUE(eventually([&] { return lineCount(file) >= 3; }, 5000));
  fs::remove(file);
  ASSERT_TRUE(eventually([&] { return boxes.count("Logging Error!") == 1; }, 5000));
  expectLoggingOffAndStreaming();
}

TEST_F(MainLogE2E, ALostSensorClosesTheLogWithItsRecordsWhole) {
  const fs::path file = dir / "lost.csv";
  startLogging(file, {"--fault", "hangup,at=4000,for=60000"});
  ASSERT_TRUE(main->loggingActive());
  ASSERT_TRUE(eventually([&] { return boxes.count("Communication Error 7") == 1; }, 20000));
  EXPECT_FALSE(main->loggingActive());
  EXPECT_FALSE(main->Active1->isChecked());
  EXPECT_FALSE(writer->session().active());
  const ReadBack r = readLog(file.string(), true);
  ASSERT_TRUE(r.ok) << r.why;
  EXPECT_GE(r.records.size(), 1u);
}

// ZRQUSB --log: the file chosen and logging on once the stream runs.
TEST(MainLogProgram, TheLogOptionLogsOnceTheStreamRuns) {
  ZRQ_REQUIRE_LIBRARY();
  ZRQ_REQUIRE_SIMULATOR();
  const fs::path dir = fs::temp_directory_path() / ("zrq-logopt-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "usb");
  {
    SimProcess sim({"--banner", "0", "--interval", "100", "--drift", "0", "--noise", "0", "--power",
                    "20", "--usb", "1", "--usb-dir", (dir / "usb").string()});
    ASSERT_TRUE(sim.ok()) << sim.error();
    for (const std::string& port : {sim.serialPath(), std::string("7730USB1")}) {
      const fs::path file = dir / (fs::path(port).filename().string() + ".csv");
      for (int run = 0; run < 2; ++run) {
        zrq::logger::test::Child app(
            "ZRQUSB",
            {"--unattended", "--connect", port, "--log", file.string(), "--quit-after", "3500"},
            {"QT_QPA_PLATFORM=offscreen", "ZRQ_SERIAL_PORTS=" + sim.serialPath(),
             "ZERVDCOM_HID_SIM_DIR=" + (dir / "usb").string()});
        ASSERT_EQ(app.wait(30000), 0) << app.errors();
        EXPECT_EQ(app.errors().find("Logging Error!"), std::string::npos) << app.errors();
      }
      const ReadBack r = readLog(file.string(), true);  // one header for both runs
      ASSERT_TRUE(r.ok) << port << ": " << r.why;
      EXPECT_GE(r.records.size(), 4u) << port;
      EXPECT_LE(r.records.size(), 8u) << port;
    }
  }
  fs::remove_all(dir);
}

// A box raised from the display tick leaves the ticks and the log running
// (a real box: a scripted one is answered at once).
TEST_F(MainLogE2E, ABoxRaisedByTheTickLeavesTheDisplayAndTheLogRunning) {
  const fs::path file = dir / "notice.csv";
  startLogging(file);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(eventually([&] { return lineCount(file) >= 3; }, 5000));
  zrq::frame::QtMessageBoxes real;
  zrq::ui::setMessageBoxes(&real);
  QElapsedTimer clock;
  clock.start();
  std::vector<qint64> ticks;
  const auto tickSeen = QObject::connect(main->displayTimer, &QTimer::timeout, main,
                                         [&] { ticks.push_back(clock.elapsed()); });
  main->outOfRangeNotice.armed = true;
  main->showOutOfRangeNotice();
  const int before = lineCount(file);
  QTest::qWait(5200);
  QMessageBox* box = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
  ASSERT_NE(box, nullptr) << "the box is still up";
  EXPECT_EQ(box->windowTitle().toStdString(), zrq::app::kOutOfRangeCaption);
  EXPECT_GE(lineCount(file) - before, 4) << "a record a second under the box";
  ASSERT_GE(ticks.size(), 2u);
  qint64 longest = ticks.front();
  for (std::size_t i = 1; i < ticks.size(); ++i)
    longest = std::max(longest, ticks[i] - ticks[i - 1]);
  EXPECT_LT(longest, 1000) << "display ticks stopped under the box";
  box->accept();
  QObject::disconnect(tickSeen);
  EXPECT_TRUE(eventually([&] { return !main->outOfRangeNotice.showing; }, 2000));
  zrq::ui::setMessageBoxes(&boxes);
}

}  // namespace
