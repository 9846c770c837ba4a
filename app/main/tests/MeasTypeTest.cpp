// Stepping the measurement type: order, immediate value, the burst-trigger
// guard and requests made while not streaming.
#include <QPushButton>

#include "PanelTestSupport.h"

using zrq::core::CommState;

namespace zrq::test {
namespace {

using core::MeasType;

TEST_F(PanelTest, TypesStepForwardAndBackwardAroundTheRing) {
  startStreaming();
  const MeasType forward[] = {MeasType::Peak, MeasType::Burst, MeasType::Crest, MeasType::CCDF,
                              MeasType::Average};
  for (MeasType t : forward) {
    w->state.settingsChanged = false;
    w->btnTypeClick();
    tick();
    EXPECT_EQ(w->state.measType, t);
    EXPECT_TRUE(w->state.settingsChanged);
    EXPECT_FALSE(w->nextTypeRequest);
  }
  const MeasType backward[] = {MeasType::CCDF, MeasType::Crest, MeasType::Burst, MeasType::Peak,
                               MeasType::Average};
  for (MeasType t : backward) {
    w->tbnTypeDownClick();
    tick();
    EXPECT_EQ(w->state.measType, t);
  }
}

TEST_F(PanelTest, SteppingShowsTheNewTypesLastValueAtOnce) {
  startStreaming({.fwd = 100, .rfl = 1, .peak = 123.45});
  w->btnTypeClick();
  tick();  // the sensor has not been told yet; the reading is still Average's
  EXPECT_EQ(w->state.measType, MeasType::Peak);
  EXPECT_EQ(text(w->fwdDisplay), "123.45");
  EXPECT_TRUE(lit("segPeak"));
  EXPECT_FALSE(lit("segFAvg"));
}

TEST_F(PanelTest, SteppingOnAKilowattSensorShowsWattsNotKilowatts) {
  // Kilowatt fields: 0.1 kW average, 0.19716 kW peak, 0.08 kW burst.
  startStreaming({.fwd = 0.1, .rfl = 0.001, .peak = 0.19716, .burst = 0.08, .scale = 10});
  EXPECT_EQ(text(w->fwdDisplay), "100.00");
  w->btnTypeClick();
  tick();
  EXPECT_EQ(w->state.measType, MeasType::Peak);
  EXPECT_EQ(text(w->fwdDisplay), "197.16");
  EXPECT_TRUE(lit("segFW"));
  w->btnTypeClick();
  tick();
  EXPECT_EQ(text(w->fwdDisplay), "80.00");
  stepTo(MeasType::Average);
  EXPECT_EQ(text(w->fwdDisplay), "100.00");
}

TEST_F(PanelTest, BothRequestsInOneTickServeForwardThenBackward) {
  startStreaming();
  w->btnTypeClick();
  w->tbnTypeDownClick();
  tick();
  EXPECT_EQ(w->state.measType, MeasType::Average);
  EXPECT_FALSE(w->nextTypeRequest || w->prevTypeRequest);
  EXPECT_TRUE(lit("segFAvg"));
}

TEST_F(PanelTest, BurstTriggerKeepsCcdfOutOfReach) {
  startStreaming();
  log.trigger = app::kBurstTriggerIndex;
  w->tbnTypeDownClick();  // Average -> CCDF refused
  tick();
  EXPECT_EQ(w->state.measType, MeasType::Average);
  ASSERT_EQ(boxes("CCDF Display Not Available"), 1);
  EXPECT_EQ(msg->shown().back().text, app::kCcdfUnavailableText);
  EXPECT_NE(msg->shown().back().text.find("selected\n\rUse"), std::string::npos);

  log.trigger = 0;
  stepTo(MeasType::Crest);
  log.trigger = app::kBurstTriggerIndex;
  w->btnTypeClick();  // Crest -> CCDF refused
  tick();
  EXPECT_EQ(w->state.measType, MeasType::Crest);
  EXPECT_EQ(boxes("CCDF Display Not Available"), 2);
  w->tbnTypeDownClick();  // Crest -> Burst is fine
  tick();
  EXPECT_EQ(w->state.measType, MeasType::Burst);
  EXPECT_EQ(boxes("CCDF Display Not Available"), 2);
}

TEST_F(PanelTest, TypeStepsReArmTheOutOfRangeNotice) {
  startStreaming();
  w->outOfRangeNotice.armed = false;
  w->btnTypeClick();
  EXPECT_TRUE(w->outOfRangeNotice.armed);
  w->outOfRangeNotice.armed = false;
  w->tbnTypeDownClick();
  EXPECT_TRUE(w->outOfRangeNotice.armed);
  w->outOfRangeNotice.armed = false;
  w->btnRflUnitsClick();
  EXPECT_FALSE(w->outOfRangeNotice.armed);
}

TEST_F(PanelTest, ARequestWaitsForStreaming) {
  startStreaming();
  w->state.commState = CommState::Connecting;
  tick();
  w->btnTypeClick();
  tick(3);
  EXPECT_EQ(w->state.measType, MeasType::Average);
  EXPECT_TRUE(w->nextTypeRequest);
  w->state.commState = CommState::Streaming;
  tick();  // from connecting: set-up to Average first
  tick();
  EXPECT_EQ(w->state.measType, MeasType::Peak);
}

}  // namespace
}  // namespace zrq::test
