// Zero calibration end to end: the real main and connection windows and the
// real library against a fresh tks7730-sim, from the Zero button through the
// sensor's reply. The display ticks are called directly (160 of them stand
// for 40 s); the sensor's calibration time is short; connection waits are
// instant.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "QtEventually.h"
#include "QtE2E.h"
#include "CommBridge.h"
#include "SimHarness.h"
#include "TfrmComm.h"
#include "TfrmMain.h"
#include "ZervDComDLL.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

using zrq::core::CommState;
using zrq::core::MeasType;
using zrq::ui::MsgResult;

namespace {

using zrq::comm::test::SimProcess;

constexpr const char* kCheck = "Do not interrupt calibration.";
constexpr const char* kConfirm = "Confirm Calibration";
constexpr const char* kCorrupt = "Calibration Error";
constexpr int kTicks = 160;

using zrq::test::qt::eventually;

bool lit(QWidget* l) { return l->isVisibleTo(l->parentWidget()); }

// Whether another program could take the port now: the exclusive lock every
// opener of the serial port takes.
bool portFree(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

// A forward meter window as the display sees it.
struct Meter : zrq::app::NullForwardMeterPeer {
  bool shown = false;
  int hides = 0;
  bool isShown() const override { return shown; }
  void showWindow() override { shown = true; }
  void hideWindow() override {
    shown = false;
    ++hides;
  }
};

// A log writer that appends one whole record per trigger check to a real file.
struct FileLog : zrq::app::NullLogPeer {
  const TfrmMain* main = nullptr;
  std::ofstream out;
  int records = 0, closes = 0;
  bool on = false;
  bool active() const override { return on; }
  void checkLogTriggers() override {
    if (!out.is_open() || !on) return;
    out << ++records << ',' << main->logValues.fwdAvgW << ',' << main->logValues.rflW << ",\r\n";
    out.flush();
  }
  void closeLogFile() override {
    ++closes;
    on = false;
    out.close();
  }
};

class ZeroCalE2E : public zrq::test::qt::AppWindowsE2E {
 protected:
  void SetUp() override { ZRQ_QT_E2E_SETUP(); }

  void TearDown() override {
    destroyWindows();
    sim.reset();
    if (!logPath.empty()) std::filesystem::remove(logPath);
    if (!usbDir.empty()) std::filesystem::remove_all(usbDir);
  }

  // The simulator's serial sensor, or with `usb` its one USB sensor, is the
  // port the user will pick.
  void start(std::vector<std::string> simOptions, bool usb = false) {
    if (usb) {
      char tmpl[] = "/tmp/zrq-zerocal-usb.XXXXXX";
      ASSERT_NE(mkdtemp(tmpl), nullptr);
      usbDir = tmpl;
      simOptions.insert(simOptions.end(), {"--usb", "1", "--usb-dir", usbDir});
      ::setenv("ZERVDCOM_HID_SIM_DIR", usbDir.c_str(), 1);
    } else {
      ::unsetenv("ZERVDCOM_HID_SIM_DIR");
    }
    sim = std::make_unique<SimProcess>(simOptions);
    ASSERT_TRUE(sim->ok()) << sim->error();
    port = usb ? "7730USB1" : sim->serialPath();
    ::setenv("ZRQ_SERIAL_PORTS", sim->serialPath().c_str(), 1);
    createWindows();
    log.main = main;
    zrq::app::PanelPeers peers;
    peers.comm = bridge.get();
    peers.log = &log;
    peers.fwdMeter = &meter;
    main->setPeers(peers);
    stopTimers();
  }

  void stopTimers() {
    for (QTimer* t : {main->displayTimer, main->readDataTimer, comm->dataPollTimer}) t->stop();
  }

  // The user picks the simulator's port in the Comm menu; the stream starts.
  void connectPort() {
    QAction* item = main->portMenuItem(QString::fromStdString(port));
    ASSERT_NE(item, nullptr) << port;
    item->trigger();
    ASSERT_TRUE(comm->connected());
    stopTimers();
    ASSERT_TRUE(eventually([&] { return sim->lastCommand() == 'D'; }));
  }

  // One readDataTimer tick once a data line has had time to arrive.
  void fetch() {
    QTest::qWait(350);
    main->readDataTimerTimer();
  }
  void tick() {
    fetch();
    main->displayTimerTimer();
    main->displayTimerTimer();
  }

  // The Zero button, confirmed; the next data line starts the calibration.
  void startCalibration() {
    main->btnZeroCal->click();
    ASSERT_TRUE(main->state.zeroCalRequested);
    fetch();
    ASSERT_EQ(main->state.commState, CommState::ZeroCal);
    ASSERT_TRUE(eventually([&] {
      const std::string letters = sim->commandLetters();
      return letters.size() >= 2 && letters.substr(letters.size() - 2) == "UZ";
    })) << sim->commandLetters();
    stopTimers();
  }

  void expectStreamingAgain(MeasType type) {
    EXPECT_EQ(main->state.commState, CommState::Streaming);
    EXPECT_EQ(main->state.measType, type);
    EXPECT_FALSE(main->state.zeroCalRequested);
    EXPECT_TRUE(main->state.zeroCalDone);
    EXPECT_EQ(main->ProgressBar1->maximum(), 100);
    EXPECT_EQ(main->displayTimer->interval(), 300);
    EXPECT_TRUE(main->readDataTimer->isActive());
    EXPECT_TRUE(eventually([&] { return sim->lastCommand() == 'D'; }));
    stopTimers();
    main->state.reading.fwdAvgPower = 0;
    tick();
    EXPECT_GT(main->state.reading.fwdAvgPower, 90.0) << "no fresh data line";
    EXPECT_TRUE(lit(main->btnZeroCal));
    EXPECT_TRUE(main->btnZeroCal->isEnabled());
    EXPECT_TRUE(lit(main->segFwd));
    EXPECT_TRUE(lit(main->segMeasType));
    EXPECT_TRUE(lit(type == MeasType::Peak ? main->segPeak : main->segFAvg));
    EXPECT_FALSE(lit(main->lblComm));
    EXPECT_FALSE(main->fwdDisplay->text().isEmpty());
    EXPECT_TRUE(main->Meter1->menuAction()->isEnabled());
    EXPECT_TRUE(main->Setup1->menuAction()->isEnabled());
  }

  zrq::ui::ScopedScriptedMessageBoxes boxes;
  zrq::ui::ScopedInstantDelay instant;
  std::unique_ptr<SimProcess> sim;
  Meter meter;
  FileLog log;
  std::string logPath;
  std::string usbDir;
  std::string port;
};

TEST_F(ZeroCalE2E, GoodCalibrationShowsTheResultAndRestoresTypeStreamAndPanel) {
  start({"--zero-time", "300"});
  connectPort();
  tick();
  // Peak, so that restoring the type is not the Average every start gives.
  main->btnType->click();
  main->displayTimerTimer();
  comm->dataPollTimerTimer();
  stopTimers();
  tick();
  ASSERT_EQ(main->state.measType, MeasType::Peak);
  const std::size_t zBefore = sim->commandsReceived('Z').size();

  main->btnZeroCal->click();
  ASSERT_EQ(boxes.count(kCheck), 1);
  EXPECT_EQ(boxes.count(kConfirm), 0);
  EXPECT_FALSE(comm->dataPollTimer->isActive());
  EXPECT_EQ(sim->commandsReceived('Z').size(), zBefore) << "sent only with the next line";
  fetch();
  ASSERT_TRUE(eventually([&] { return sim->commandsReceived('Z').size() == zBefore + 1; }));
  EXPECT_EQ(sim->commandsReceived('Z').back().substr(0, 2), "Z\r");
  EXPECT_EQ(main->ProgressBar1->maximum(), 180);
  EXPECT_EQ(comm->dataPollTimer->interval(), 48000);
  EXPECT_FALSE(main->readDataTimer->isActive());
  stopTimers();

  for (int i = 1; i <= kTicks; ++i) {
    main->displayTimerTimer();
    ASSERT_EQ(main->ProgressBar1->value(), i);
    ASSERT_EQ(main->lblZeroCal->text(), i % 2 ? "" : "Zero") << "tick " << i;
  }
  EXPECT_TRUE(boxes.count("Calibration Complete") == 0);
  main->displayTimerTimer();  // the limit: the reply is read now
  ASSERT_EQ(boxes.count("Calibration Complete"), 1);
  EXPECT_EQ(boxes.shown().back().text, "Zero calibration completed successfully.");
  EXPECT_EQ(boxes.count(kCorrupt), 0);
  EXPECT_EQ(main->lblZeroCal->text(), "");
  expectStreamingAgain(MeasType::Peak);
  EXPECT_EQ(sim->commandsReceived('G').back()[2], '\x02');
}

TEST_F(ZeroCalE2E, UsbSensorCalibratesTheSameWay) {
  start({"--zero-time", "300", "--zero-result", "2"}, true);
  connectPort();
  tick();
  startCalibration();
  for (int i = 1; i <= kTicks; ++i) {
    main->displayTimerTimer();
    ASSERT_EQ(main->ProgressBar1->value(), i);
  }
  main->displayTimerTimer();
  ASSERT_EQ(boxes.count("Values Over Limit"), 1);
  EXPECT_EQ(boxes.shown().back().text,
            "Zero calibration values over limit.\r\nCheck that RF input is zero.\r\nOriginal "
            "values restored\r\n");
  EXPECT_EQ(boxes.count(kCorrupt), 0);
  expectStreamingAgain(MeasType::Average);
}

TEST_F(ZeroCalE2E, FailedResultCodeShowsItsMessageAndStreamingResumes) {
  start({"--zero-time", "200", "--zero-result", "1"});
  connectPort();
  tick();
  startCalibration();
  for (int i = 0; i <= kTicks; ++i) main->displayTimerTimer();
  ASSERT_EQ(boxes.count("Calibration Failed"), 1);
  EXPECT_EQ(boxes.shown().back().text,
            "Zero calibration failed.\r\nMemory write error.\r\nOriginal values restored\r\n");
  EXPECT_EQ(boxes.count(kCorrupt), 0);
  EXPECT_FALSE(main->shutDown());
  expectStreamingAgain(MeasType::Average);
}

TEST_F(ZeroCalE2E, NoReplyEndsTheProgramAndReleasesThePort) {
  start({"--fault", "silence,cmd=Z,for=3000"});
  connectPort();
  tick();
  startCalibration();
  ASSERT_FALSE(portFree(sim->serialPath())) << "the lock check must see the open port";
  boxes.answer(MsgResult::Cancel);  // closed without OK: shown again

  // The ticks run inside the program's event loop, which the fatal path ends.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  guard.start(60000);
  QTimer::singleShot(0, main, [this] {
    for (int i = 0; i <= kTicks && !main->shutDown(); ++i) main->displayTimerTimer();
  });
  const int rc = QApplication::exec();
  EXPECT_EQ(rc, 1);
  ASSERT_EQ(boxes.count(kCorrupt), 2);
  EXPECT_EQ(boxes.shown().back().text,
            "Calibration values may be\r\ncorrupt. ZRQ Application will\r\nclose. An attempt "
            "will be made\r\nto restore the original values\r\nafter power is removed then\r\n"
            "reapplied to the 7730 sensor.");
  EXPECT_EQ(boxes.count("Zero Calibration"), 0);
  EXPECT_TRUE(main->shutDown());
  EXPECT_FALSE(comm->connected());
  EXPECT_FALSE(main->state.zeroCalRequested);
  for (QTimer* t : {main->displayTimer, main->readDataTimer, comm->dataPollTimer})
    EXPECT_FALSE(t->isActive()) << t->objectName().toStdString();
  EXPECT_TRUE(portFree(sim->serialPath()));
}

TEST_F(ZeroCalE2E, CancelAtEitherQuestionChangesNothing) {
  start({"--zero-time", "200"});
  connectPort();
  tick();
  meter.shown = true;
  main->Active1->setChecked(true);
  log.on = true;
  for (int cancelAt : {1, 2}) {
    SCOPED_TRACE(cancelAt);
    boxes.clear();
    if (cancelAt == 2) boxes.answer(MsgResult::Ok);
    boxes.answer(MsgResult::Cancel);
    const std::string lettersBefore = sim->commandLetters();
    main->btnZeroCal->click();
    EXPECT_EQ(boxes.count(kCheck), 1);
    EXPECT_EQ(boxes.count(kConfirm), cancelAt == 2 ? 1 : 0);
    EXPECT_FALSE(main->state.zeroCalRequested);
    EXPECT_EQ(main->state.commState, CommState::Streaming);
    EXPECT_EQ(main->state.measType, MeasType::Average);
    EXPECT_TRUE(meter.shown);
    EXPECT_EQ(log.closes, 0);
    EXPECT_TRUE(main->Active1->isChecked());
    main->state.reading.fwdAvgPower = 0;
    tick();
    EXPECT_GT(main->state.reading.fwdAvgPower, 90.0);
    EXPECT_EQ(sim->commandLetters(), lettersBefore) << "no stop, no Z";
    EXPECT_EQ(main->state.commState, CommState::Streaming);
    EXPECT_TRUE(lit(main->segFAvg));
  }
}

TEST_F(ZeroCalE2E, ActiveLogAndForwardMeterAskTwiceCloseTheLogWholeAndHideTheMeter) {
  start({"--zero-time", "200"});
  connectPort();
  tick();
  logPath = (std::filesystem::temp_directory_path() /
             ("zrq-zerocal-" + std::to_string(::getpid()) + ".csv"))
                .string();
  log.out.open(logPath, std::ios::binary);
  ASSERT_TRUE(log.out.is_open());
  main->Active1->setChecked(true);
  log.on = true;
  meter.shown = true;
  tick();
  tick();
  ASSERT_GE(log.records, 2);

  main->btnZeroCal->click();
  EXPECT_EQ(boxes.count(kCheck), 1);
  ASSERT_EQ(boxes.count(kConfirm), 1);
  EXPECT_EQ(log.closes, 1);
  EXPECT_FALSE(main->loggingActive());
  EXPECT_FALSE(main->Active1->isChecked());
  EXPECT_FALSE(lit(main->Logging));
  EXPECT_FALSE(meter.shown);
  EXPECT_EQ(meter.hides, 1);
  const int recordsAtClose = log.records;

  fetch();
  ASSERT_EQ(main->state.commState, CommState::ZeroCal);
  stopTimers();
  for (int i = 0; i <= kTicks; ++i) main->displayTimerTimer();
  ASSERT_EQ(boxes.count("Calibration Complete"), 1);
  stopTimers();
  tick();
  EXPECT_EQ(log.records, recordsAtClose) << "nothing written once the log was closed";
  EXPECT_FALSE(meter.shown) << "the meter stays closed until the user opens it";

  // Every record in the file is whole: same field count, ending in CR LF.
  std::ifstream in(logPath, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(content.empty());
  EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
  std::istringstream lines(content);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 3) << line;
    EXPECT_EQ(line.back(), '\r') << line;
  }
  EXPECT_EQ(count, recordsAtClose);
}

TEST_F(ZeroCalE2E, ClosingDuringCalibrationNoKeepsItRunningYesEndsIt) {
  start({"--zero-time", "300"});
  connectPort();
  tick();
  startCalibration();
  for (int i = 0; i < 20; ++i) main->displayTimerTimer();
  boxes.answer(MsgResult::No);
  EXPECT_FALSE(main->close());
  ASSERT_EQ(boxes.count("Zero Calibration"), 1);
  EXPECT_EQ(boxes.shown().back().text,
            "Closing the ZRQ application\r\nnow may corrupt the 7730\r\ncalibration "
            "constants.\r\nDo you want the ZRQ to close?\r\n");
  EXPECT_FALSE(main->shutDown());
  EXPECT_TRUE(comm->connected());
  for (int i = 20; i <= kTicks; ++i) main->displayTimerTimer();
  ASSERT_EQ(boxes.count("Calibration Complete"), 1);
  expectStreamingAgain(MeasType::Average);

  // A second calibration, and this time the user insists.
  startCalibration();
  for (int i = 0; i < 20; ++i) main->displayTimerTimer();
  boxes.answer(MsgResult::Yes);
  EXPECT_TRUE(main->close());
  EXPECT_EQ(boxes.count("Zero Calibration"), 2);
  EXPECT_TRUE(main->shutDown());
  EXPECT_FALSE(comm->connected());
  EXPECT_TRUE(portFree(sim->serialPath()));
  EXPECT_EQ(boxes.count(kCorrupt), 0);
}

}  // namespace
