// The meter windows on the real main window's display update: stored state,
// scaling, the caption and scale tables, hiding on invalid values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <QApplication>

#include "DIALIXHQLib_OCX.h"
#include "DialixHQCtrl.h"
#include "MeterWindows.h"
#include "PanelTestSupport.h"

using namespace zrq;
using core::MeasType;
using core::PowerUnit;
namespace m = zrq::meter;

namespace {

class MeterWindows : public test::PanelTest {
 protected:
  void SetUp() override {
    // Design sizes: the offscreen screen is not 1024 pixels wide.
    ::setenv("ZRQ_SCREEN_SCALE", "1", 1);
    PanelTest::SetUp();
    fwd = new TfrmMeter(w.get());
    rfl = new TfrmRflMeter(&w->state, w.get());
    app::PanelPeers p;
    p.comm = &comm;
    p.log = &log;
    p.fwdMeter = fwd;
    p.rflMeter = rfl;
    p.peak = &peak;
    p.burst = &burst;
    w->setPeers(p);
  }
  void rflUnitTo(PowerUnit u) {
    for (int i = 0; i < 6 && w->state.rflUnit != u; ++i) w->btnRflUnitsClick();
    ASSERT_EQ(w->state.rflUnit, u);
  }
  Dialixhqlib_tlb::TDialixHQ& fm() { return *fwd->DialixHQ1; }
  Dialixhqlib_tlb::TDialixHQ& rm() { return *rfl->DialixHQ1; }

  TfrmMeter* fwd = nullptr;
  TfrmRflMeter* rfl = nullptr;
};

}  // namespace

TEST_F(MeterWindows, CreatedHiddenWithTheirStoredStateAndWholeFontSizes) {
  EXPECT_FALSE(fwd->isVisible());
  EXPECT_EQ(fwd->windowTitle(), "7730 Forward Power");
  EXPECT_EQ(rfl->windowTitle(), "7730 Reflected Power");
  EXPECT_EQ(fwd->size(), QSize(234, 155));
  EXPECT_EQ(fm().geometry(), QRect(0, 0, 234, 155));
  EXPECT_EQ(fwd->pos(), QPoint(104, 172));
  EXPECT_EQ(rfl->pos(), QPoint(165, 242));
  EXPECT_EQ(fm().Caption(), "Average Power");
  EXPECT_EQ(rm().Caption(), "Power");
  EXPECT_EQ(fm().MaximumValue(), 150);
  EXPECT_EQ(fm().MinimumValue(), 0);
  EXPECT_EQ(fm().ValueFormatString(), "%.0f");
  EXPECT_EQ(fm().RelativeTextRadius(), 0.93);
  EXPECT_EQ(rm().RelativeTextRadius(), 0.94);
  EXPECT_EQ(fm().InstrumentBackGroundColor().value, 0xFFFFFFu);
  // 6.75 and 9.75 points keep their whole part.
  EXPECT_EQ(fm().SmallScaleFont().size, 60000u);
  EXPECT_EQ(fm().BottomCoverLabelFont().size, 90000u);
  EXPECT_EQ(fm().BottomCoverLabelFont().name, "Arial");
}

TEST_F(MeterWindows, FormCreateScalesSizeAndTruncatesFonts) {
  ::setenv("ZRQ_SCREEN_SCALE", "1.25", 1);
  TfrmMeter scaled(w.get());
  ::setenv("ZRQ_SCREEN_SCALE", "1", 1);
  EXPECT_EQ(scaled.size(), QSize(292, 193));                          // 292.5 and 193.75 truncated
  EXPECT_EQ(scaled.DialixHQ1->geometry(), QRect(0, 0, 292, 193));     // fills the client area
  EXPECT_EQ(scaled.DialixHQ1->SmallScaleFont().size, 80000u);         // 8.4375
  EXPECT_EQ(scaled.DialixHQ1->BottomCoverLabelFont().size, 120000u);  // 12.1875
}

TEST_F(MeterWindows, ForwardWattsInAverageFollowTheThreeHundredWattStep) {
  startStreaming({.fwd = 100});
  w->Forward1Click();
  ASSERT_TRUE(fwd->isVisible());
  w->state.fwdFullScale = 1500;  // room for 350 W without over-range
  receive({.fwd = 250, .rfl = 1});
  tick();
  EXPECT_EQ(fm().Caption(), "Forward Power In W");
  EXPECT_EQ(fm().MinimumValue(), 0);
  EXPECT_EQ(fm().MaximumValue(), 300);
  EXPECT_DOUBLE_EQ(fm().Value(), 250);
  receive({.fwd = 350, .rfl = 1});
  tick();
  EXPECT_EQ(fm().MaximumValue(), 1000);
  EXPECT_DOUBLE_EQ(fm().Value(), 350);
}

TEST_F(MeterWindows, ForwardMeterOnlyActsWhileShown) {
  startStreaming({.fwd = 100});
  tick();
  EXPECT_EQ(fm().Caption(), "Average Power");
  EXPECT_EQ(fm().MaximumValue(), 150);
}

TEST_F(MeterWindows, ForwardMegawattsAndPeakThresholdThroughTheWindow) {
  fwd->show();
  fwd->updateForward(MeasType::Average, 1500, PowerUnit::KW);
  EXPECT_DOUBLE_EQ(fm().Value(), 1.5);
  EXPECT_EQ(fm().Caption(), "Forward Power In MegaW");
  EXPECT_EQ(fm().MaximumValue(), 100);
  fwd->updateForward(MeasType::Peak, 450, PowerUnit::W);
  EXPECT_EQ(fm().Caption(), "Peak Power In W");
  EXPECT_EQ(fm().MaximumValue(), 500);
  fwd->updateForward(MeasType::None, 0, PowerUnit::W);
  EXPECT_EQ(fm().Caption(), "");
}

TEST_F(MeterWindows, InvalidForwardValueHidesTheWindowAndShowsTheArmedNotice) {
  startStreaming();
  w->Forward1Click();
  tick();
  ASSERT_TRUE(fwd->isVisible());
  receive({.fwd = 200, .rfl = 1});  // above 1.2 x 150 W
  tick();
  EXPECT_FALSE(fwd->isVisible());
  EXPECT_EQ(boxes("Out Of Range"), 1);
  EXPECT_EQ(msg->shown().back().text,
            "Sensor Out Of Range Reduce Power Input Or Lower Offset Value.");
}

TEST_F(MeterWindows, ReflectedRhoAndReturnLossScales) {
  startStreaming({.fwd = 100, .rfl = 4});  // rho = sqrt(4/100) = 0.2
  rflUnitTo(PowerUnit::Rho);
  w->Reflected1Click();
  tick();
  ASSERT_TRUE(rfl->isVisible());
  EXPECT_EQ(rm().Caption(), "Rho");
  EXPECT_EQ(rm().MinimumValue(), 0);
  EXPECT_EQ(rm().MaximumValue(), 1);
  EXPECT_NEAR(rm().Value(), 0.2, 1e-6);
  rm().GetDefaultInterface()->renderImage();  // lays the labels out
  const auto& labels = rm().GetDefaultInterface()->geometry().labelText;
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.front(), "0.0");
  EXPECT_EQ(labels.back(), "1.0");

  receive({.fwd = 100, .rfl = 1});  // 20 dB return loss
  rflUnitTo(PowerUnit::ReturnLoss);
  tick();
  EXPECT_EQ(rm().Caption(), "Return Loss");
  EXPECT_EQ(rm().MinimumValue(), -100);
  EXPECT_EQ(rm().MaximumValue(), 0);
  EXPECT_NEAR(std::abs(rm().Value()), 20, 1e-3);
}

TEST_F(MeterWindows, ReflectedWritesFollowTheTableOrderAndSkipUnchangedValues) {
  rfl->show();
  rfl->setValue(-20);
  rfl->updateReflected(PowerUnit::ReturnLoss, true);
  std::vector<int> seen;
  rm().setWriteObserver([&](int id) { seen.push_back(id); });
  rfl->setValue(0.2);
  rfl->updateReflected(PowerUnit::Rho, true);
  EXPECT_EQ(seen, (std::vector<int>{m::kValue, m::kCaption, m::kMaximumValue, m::kMinimumValue,
                                    m::kValueFormatString}));
  seen.clear();
  rfl->setValue(0.2);
  rfl->updateReflected(PowerUnit::Rho, true);
  EXPECT_TRUE(seen.empty()) << "an unchanged scale is not written again";
  rfl->setValue(2500);
  rfl->updateReflected(PowerUnit::KW, true);
  EXPECT_EQ(seen, (std::vector<int>{m::kValue, m::kValue, m::kCaption, m::kMaximumValue,
                                    m::kValueFormatString}));
  EXPECT_DOUBLE_EQ(rm().Value(), 2.5);
  EXPECT_EQ(rm().MinimumValue(), 0);
}

TEST_F(MeterWindows, ForwardWritesInTheTableOrder) {
  fwd->show();
  std::vector<int> seen;
  fm().setWriteObserver([&](int id) { seen.push_back(id); });
  fwd->updateForward(MeasType::Average, 250, PowerUnit::W);
  EXPECT_EQ(seen, (std::vector<int>{m::kValue, m::kCaption, m::kMaximumValue}));
  seen.clear();
  fwd->updateForward(MeasType::Burst, 1500, PowerUnit::KW);
  EXPECT_EQ(seen, (std::vector<int>{m::kValue, m::kCaption, m::kMaximumValue}));
}

TEST_F(MeterWindows, ReflectedHiddenWhenInvalidAndOutsideAverageAndPeak) {
  startStreaming();
  w->Reflected1Click();
  rfl->updateReflected(PowerUnit::W, false);
  EXPECT_FALSE(rfl->isVisible());

  w->Reflected1Click();
  stepTo(MeasType::Peak);
  tick();
  EXPECT_TRUE(rfl->isVisible());
  EXPECT_EQ(rm().Caption(), "VSWR");
  EXPECT_EQ(rm().MaximumValue(), 100);
  stepTo(MeasType::Burst);
  EXPECT_FALSE(rfl->isVisible());
}

using zrq::test::PaintCounter;

// Ticks that bring the same reading write nothing and repaint no meter.
TEST_F(MeterWindows, UnchangedReadingsRepaintNoMeter) {
  startStreaming({.fwd = 100, .rfl = 1});
  w->Forward1Click();
  w->Reflected1Click();
  tick();
  QApplication::processEvents();
  PaintCounter fwdPaints, rflPaints;
  fm().GetDefaultInterface()->installEventFilter(&fwdPaints);
  rm().GetDefaultInterface()->installEventFilter(&rflPaints);
  const int rebuilds = fm().GetDefaultInterface()->layerRebuilds();
  tick(3);
  QApplication::processEvents();
  EXPECT_EQ(fwdPaints.paints, 0);
  EXPECT_EQ(rflPaints.paints, 0);
  receive({.fwd = 110, .rfl = 1});
  tick();
  QApplication::processEvents();
  EXPECT_GT(fwdPaints.paints, 0);
  EXPECT_EQ(fm().GetDefaultInterface()->layerRebuilds(), rebuilds) << "only the needle moved";
}

// The unit None scales the reflected meter to the current reflected full scale.
TEST_F(MeterWindows, ReflectedWithoutUnitUsesTheFullScaleOfTheSettings) {
  rfl->show();
  w->state.rflFullScale = 25;
  rfl->setValue(3);
  rfl->updateReflected(PowerUnit::None, true);
  EXPECT_EQ(rm().Caption(), "Reflected Power");
  EXPECT_EQ(rm().MaximumValue(), 25);
  TfrmRflMeter alone(nullptr);  // no settings to read: the 15 W default
  alone.show();
  alone.updateReflected(PowerUnit::None, true);
  EXPECT_EQ(alone.DialixHQ1->MaximumValue(), 15);
}
