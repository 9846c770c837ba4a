// The four reading windows end to end: the real main and connection windows,
// libZervDCom.so and tks7730-sim, the timers running. The windows are opened
// from their menus while the sensor streams; types and units are stepped with
// the panel's buttons; each step leaves a picture of every shown window in
// artefacts/ (AUXWIN_SHOTS names another folder).
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "QtEventually.h"
#include "QtE2E.h"
#include "CommBridge.h"
#include "DIALIXHQLib_OCX.h"
#include "DisplayWindows.h"
#include "MeterWindows.h"
#include "SimHarness.h"
#include "TfrmAbout.h"
#include "TfrmComm.h"
#include "TfrmMain.h"
#include "ZervDComDLL.h"
#include "uiface/MsgBox.h"

using zrq::core::MeasType;

namespace {

bool eventually(const std::function<bool()>& pred) { return zrq::test::qt::eventually(pred, 8000); }

QString shotDir() {
  if (const char* d = std::getenv("AUXWIN_SHOTS")) return QString::fromLocal8Bit(d);
  const char* bin = std::getenv("ZRQ_BIN_DIR");
  return (bin ? QString::fromLocal8Bit(bin) + "/.." : QDir::tempPath()) + "/artefacts";
}

class AuxWindowsE2E : public zrq::test::qt::AppWindowsE2E {
 protected:
  void SetUp() override {
    ZRQ_QT_E2E_SETUP();
    sim = std::make_unique<zrq::comm::test::SimProcess>(std::vector<std::string>{});
    ASSERT_TRUE(sim->ok()) << sim->error();
    ::setenv("ZRQ_SERIAL_PORTS", sim->serialPath().c_str(), 1);
    // Created as ZRQUSB creates them, in the same order.
    createWindows();
    about = new TfrmAbout(main);
    main->setDialogs(nullptr, about);
    fwd = new TfrmMeter(main);
    rfl = new TfrmRflMeter(&main->state, main);
    peak = new TfrmdisplayPeak(main);
    peak->setMainWindow(main);
    burst = new TfrmdisplayBurst(main);
    main->setAuxWindows(fwd, rfl, peak, burst);
    zrq::app::PanelPeers peers;
    peers.comm = bridge.get();
    peers.fwdMeter = fwd;
    peers.rflMeter = rfl;
    peers.peak = peak;
    peers.burst = burst;
    main->setPeers(peers);
    main->show();
    QDir().mkpath(shotDir());
  }

  void TearDown() override {
    destroyWindows();
    sim.reset();
  }

  void shots(const char* step) {
    QTest::qWait(300);
    const std::pair<QWidget*, const char*> windows[] = {
        {fwd, "meter"}, {rfl, "rflmeter"}, {peak, "peak"}, {burst, "burst"}};
    for (const auto& [w, name] : windows)
      if (w->isVisible()) {
        EXPECT_TRUE(w->grab().save(shotDir() + "/auxwin-" + step + "-" + name + ".png"));
      }
  }

  void stepType() {
    const MeasType from = main->state.measType;
    main->btnTypeClick();
    ASSERT_TRUE(eventually([&] {
      return main->state.measType != from && main->lastAppliedType == main->state.measType;
    }));
    // A data line of the new type, then a tick to show it.
    ASSERT_TRUE(eventually([&] {
      return main->state.reading.reportedType == zrq::core::measTypeCode(main->state.measType);
    }));
    QTest::qWait(700);
  }

  zrq::ui::ScopedScriptedMessageBoxes boxes;
  std::unique_ptr<zrq::comm::test::SimProcess> sim;
  TfrmAbout* about = nullptr;
  TfrmMeter* fwd = nullptr;
  TfrmRflMeter* rfl = nullptr;
  TfrmdisplayPeak* peak = nullptr;
  TfrmdisplayBurst* burst = nullptr;
};

}  // namespace

TEST_F(AuxWindowsE2E, WindowsOpenedFromTheMenusFollowTheStream) {
  QAction* item = main->portMenuItem(QString::fromStdString(sim->serialPath()));
  ASSERT_NE(item, nullptr);
  main->Setup1ItemsClick(item);
  ASSERT_TRUE(eventually([&] { return main->Meter1->menuAction()->isEnabled(); }));
  for (QAction* a : {main->Forward1, main->Reflected1, main->PeakPower2, main->BurstPower2}) {
    ASSERT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    a->trigger();
  }
  for (QWidget* w : std::initializer_list<QWidget*>{fwd, rfl, peak, burst})
    EXPECT_TRUE(w->isVisible());
  // Renamed to the port and serial number on connection.
  EXPECT_TRUE(fwd->windowTitle().startsWith(QString::fromStdString(sim->serialPath()) + " SN "));

  // Average in watts: the simulator's forward power is near 100 W.
  ASSERT_TRUE(eventually([&] { return fwd->DialixHQ1->Caption() == "Forward Power In W"; }));
  EXPECT_EQ(fwd->DialixHQ1->MaximumValue(), 300);
  EXPECT_NEAR(fwd->DialixHQ1->Value(), 100, 15);
  ASSERT_TRUE(
      eventually([&] { return rfl->DialixHQ1->Caption().starts_with("Reflected Power In"); }));
  ASSERT_TRUE(eventually([&] { return peak->peakDisplay->text() != "-0.0000"; }));
  EXPECT_NE(burst->burstDisplay->text(), "-0.0000");
  shots("average-W");

  main->btnFwdUnitsClick();  // dBm
  main->btnRflUnitsClick();  // Rho
  ASSERT_TRUE(eventually([&] { return fwd->DialixHQ1->Caption() == "Forward Power In dBm"; }));
  ASSERT_TRUE(eventually([&] { return rfl->DialixHQ1->Caption() == "Rho"; }));
  EXPECT_EQ(rfl->DialixHQ1->MaximumValue(), 1);
  EXPECT_EQ(rfl->DialixHQ1->ValueFormatString(), "%.1f");
  EXPECT_NEAR(fwd->DialixHQ1->Value(), 50, 1.5);  // 100 W is 50 dBm
  EXPECT_TRUE(peak->label("segPdb")->isVisibleTo(peak) && peak->label("segPm")->isVisibleTo(peak));
  shots("average-dBm-rho");

  stepType();  // Peak
  ASSERT_EQ(main->state.measType, MeasType::Peak);
  ASSERT_TRUE(eventually([&] { return fwd->DialixHQ1->Caption() == "Peak Power In dBm"; }));
  EXPECT_TRUE(rfl->isVisible());
  EXPECT_EQ(rfl->DialixHQ1->Caption(), "VSWR");
  shots("peak");

  stepType();  // Burst: the reflected meter closes
  ASSERT_EQ(main->state.measType, MeasType::Burst);
  EXPECT_FALSE(rfl->isVisible());
  ASSERT_TRUE(eventually([&] { return fwd->DialixHQ1->Caption() == "Burst Power In dBm"; }));
  EXPECT_TRUE(burst->isVisible());
  shots("burst");

  stepType();  // Crest: both meters close
  EXPECT_FALSE(fwd->isVisible());
  stepType();  // CCDF: the burst window closes and reads NA
  ASSERT_EQ(main->state.measType, MeasType::CCDF);
  EXPECT_FALSE(burst->isVisible());
  EXPECT_EQ(burst->burstDisplay->text(), "NA");
  EXPECT_TRUE(peak->isVisible());
  shots("ccdf");

  // Closing the main window closes them all.
  main->close();
  for (QWidget* w : std::initializer_list<QWidget*>{fwd, rfl, peak, burst})
    EXPECT_FALSE(w->isVisible());
}
