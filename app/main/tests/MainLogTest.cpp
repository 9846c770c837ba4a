// The main window's log writer without a sensor: the Logging menu's refusals
// and failures, the set-up's OK, and the display tick's part, with readings
// set directly.
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "PanelTestSupport.h"
#include "TfrmLogFreq.h"
#include "TfrmMain.h"
#include "TfrmMainLog.h"
#include "uiface/MsgBox.h"

namespace zrq::test {
namespace {

namespace fs = std::filesystem;

int lines(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  int n = 0;
  for (std::size_t i = 0; (i = text.find("\r\n", i)) != std::string::npos; i += 2) ++n;
  return n;
}

class MainLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ensureApplication();
    // A shutdown tested before leaves the application quitting, which ends
    // every modal loop at once; one short run of the application's own loop
    // clears that.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    dir = fs::temp_directory_path() / ("zrq-mainlog-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    main = std::make_unique<TfrmMain>();
    main->displayTimer->stop();
    setup = new TfrmLogFreq(main.get());
    writer = std::make_unique<app::TfrmMainLog>(*main, *setup);
    app::PanelPeers peers;
    peers.log = writer.get();
    main->setPeers(peers);
    main->state.commState = core::CommState::Streaming;
    main->state.reading.fwdAvgPower = 20;
    main->state.reading.scaleCode = 9;
    main->displayTimerTimer();  // streaming has begun: later ticks test the triggers
  }
  void TearDown() override {
    writer.reset();
    main.reset();
    fs::remove_all(dir);
  }

  void choose(const fs::path& p) {
    writer->saveDialogAnswer = [p](QFileDialog&) { return QString::fromStdString(p.string()); };
    main->LogFile1->trigger();
  }
  bool shown(QLabel* l) const { return l->isVisibleTo(l->parentWidget()); }

  ui::ScopedScriptedMessageBoxes boxes;
  fs::path dir;
  std::unique_ptr<TfrmMain> main;
  TfrmLogFreq* setup = nullptr;
  std::unique_ptr<app::TfrmMainLog> writer;
};

TEST_F(MainLogTest, TheSaveDialogStartsAtHomeWithZrqLogAndAppendsWithoutAsking) {
  QFileDialog* d = main->dlgSaveLog;
  EXPECT_EQ(d->windowTitle(), "Save logged data to file...");
  EXPECT_EQ(d->defaultSuffix(), "csv");
  EXPECT_EQ(d->nameFilters(), (QStringList{"csv (*.csv)", "txt (*.txt)"}));
  EXPECT_TRUE(d->testOption(QFileDialog::DontConfirmOverwrite));
  ASSERT_FALSE(d->selectedFiles().isEmpty());
  EXPECT_EQ(fs::path(d->selectedFiles().constFirst().toStdString()).filename(),
            "ZRQLog.csv");  // the default suffix joins it
  EXPECT_EQ(d->directory().absolutePath(), QDir::homePath());
}

TEST_F(MainLogTest, ActiveWithoutAFileIsRefusedAndCancelChoosesNothing) {
  writer->saveDialogAnswer = [](QFileDialog&) { return std::optional<QString>(); };
  main->LogFile1->trigger();
  main->Active1->trigger();
  EXPECT_EQ(boxes.count("No log file"), 1);
  EXPECT_FALSE(main->Active1->isChecked());
  EXPECT_FALSE(main->log500msTick->isActive());
  EXPECT_FALSE(shown(main->Logging));
}

TEST_F(MainLogTest, AFileThatCannotBeOpenedIsSaidAndTheMenuStateRestored) {
  choose(dir / "missing" / "x.csv");
  main->Active1->trigger();
  EXPECT_EQ(boxes.count(app::kLogOpenErrorCaption), 1);
  EXPECT_NE(boxes.shown().back().text.find("x.csv"), std::string::npos);
  EXPECT_FALSE(main->Active1->isChecked());
  EXPECT_FALSE(main->loggingActive());
  EXPECT_FALSE(main->log500msTick->isActive());
  EXPECT_FALSE(shown(main->Logging));
}

TEST_F(MainLogTest, ActiveOnAndOffDrivesTheTimerLabelAndFile) {
  const fs::path file = dir / "a.csv";
  choose(file);
  main->Active1->trigger();
  EXPECT_TRUE(main->Active1->isChecked());
  EXPECT_TRUE(main->loggingActive());
  EXPECT_TRUE(main->log500msTick->isActive());
  EXPECT_TRUE(shown(main->Logging));
  EXPECT_EQ(lines(file), 2);
  main->displayTimerTimer();
  EXPECT_EQ(lines(file), 2);  // nothing due before the next 500 ms tick
  EXPECT_FALSE(main->LogFile1->isEnabled());
  writer->log500msTickTimer();
  main->displayTimerTimer();
  EXPECT_EQ(lines(file), 3);

  main->Active1->trigger();
  EXPECT_FALSE(main->Active1->isChecked());
  EXPECT_FALSE(main->loggingActive());
  EXPECT_FALSE(main->log500msTick->isActive());
  EXPECT_FALSE(shown(main->Logging));
  EXPECT_EQ(main->logTickCounter, 0);
  main->displayTimerTimer();
  EXPECT_TRUE(main->LogFile1->isEnabled());
  EXPECT_FALSE(writer->session().chosen());
}

TEST_F(MainLogTest, AFailedWriteShowsLoggingErrorOnceAndSwitchesLoggingOff) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  choose("/dev/full");
  main->Active1->trigger();
  ASSERT_TRUE(main->loggingActive());
  writer->log500msTickTimer();
  main->displayTimerTimer();
  EXPECT_EQ(boxes.count("Logging Error!"), 1);
  EXPECT_EQ(boxes.shown().back().text, "Error during logging.  Log file deactivated.");
  EXPECT_FALSE(main->Active1->isChecked());
  EXPECT_FALSE(main->loggingActive());
  main->displayTimerTimer();  // the label and menu item follow on the next tick
  EXPECT_FALSE(shown(main->Logging));
  EXPECT_TRUE(main->LogFile1->isEnabled());
  EXPECT_EQ(boxes.count("Logging Error!"), 1);
  EXPECT_EQ(main->state.commState, core::CommState::Streaming);
}

TEST_F(MainLogTest, OtherStopsCloseTheFileAndForgetIt) {
  choose(dir / "b.csv");
  main->Active1->trigger();
  ASSERT_TRUE(writer->session().active());
  main->stopLogging();  // zero calibration, shutdown
  EXPECT_FALSE(writer->session().active());
  EXPECT_FALSE(writer->session().chosen());
  EXPECT_FALSE(main->Active1->isChecked());

  choose(dir / "b.csv");
  main->Active1->trigger();
  ASSERT_TRUE(main->loggingActive());
  main->resetPortMenu();  // a lost connection
  EXPECT_FALSE(main->loggingActive());
  EXPECT_FALSE(writer->session().active());
}

TEST_F(MainLogTest, SetUpOkStoresTheIntervalAndTheNextSampleFollowsTheNextTick) {
  const fs::path file = dir / "c.csv";
  choose(file);
  main->Active1->trigger();
  QTimer::singleShot(0, setup, [this] {
    setup->setSampleTime(5);
    setup->btnOK->click();
  });
  main->SetUp2->trigger();
  EXPECT_EQ(writer->sampleTicks(), 10);
  EXPECT_EQ(main->logTickCounter, 9);
  writer->log500msTickTimer();
  main->displayTimerTimer();
  EXPECT_EQ(lines(file), 3);

  // Cancel keeps the stored interval.
  QTimer::singleShot(0, setup, [this] {
    setup->setSampleTime(7);
    setup->btnCancel->click();
  });
  main->SetUp2->trigger();
  EXPECT_EQ(writer->sampleTicks(), 10);
}

}  // namespace
}  // namespace zrq::test
