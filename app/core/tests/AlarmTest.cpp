#include "core/Alarm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zrq::core {
namespace {

// A step: a value at a time, or an acknowledge (ack), and what follows it:
// 'R' raised, 'C' cleared, '-' no event.
struct Step {
  std::int64_t atMs;
  double value;
  char expect;
  bool ack = false;
};

struct Scenario {
  const char* name;
  AlarmLimits limits;
  std::vector<Step> steps;
};

AlarmLimits upper(double u, double h, std::int64_t holdOff, bool latching) {
  AlarmLimits l;
  l.upper = u;
  l.hysteresis = h;
  l.holdOffMs = holdOff;
  l.latching = latching;
  return l;
}

TEST(AlarmEvaluator, RisesAndClearsByHoldOffHysteresisAndLatching) {
  AlarmLimits band;
  band.upper = 10;
  band.lower = 2;
  band.holdOffMs = 100;
  const std::vector<Scenario> scenarios = {
      {"at once without hold-off",
       upper(10, 0, 0, false),
       {{0, 9, '-'}, {1, 10.5, 'R'}, {2, 9, 'C'}}},
      {"a limit equalled is no alarm", upper(10, 0, 0, false), {{0, 10, '-'}}},
      {"hold-off must pass beyond the limit",
       upper(10, 0, 500, false),
       {{0, 11, '-'},
        {400, 11, '-'},
        {450, 9, '-'},
        {500, 11, '-'},
        {999, 11, '-'},
        {1000, 11, 'R'}}},
      {"hysteresis keeps it up until well inside",
       upper(10, 1, 0, false),
       {{0, 11, 'R'}, {1, 9.5, '-'}, {2, 9.0, 'C'}, {3, 9.5, '-'}}},
      {"latching stays up until acknowledged",
       upper(10, 0, 0, true),
       {{0, 11, 'R'}, {1, 5, '-'}, {2, 5, 'C', true}, {3, 11, 'R'}}},
      {"acknowledged while beyond: clears once back inside",
       upper(10, 0, 0, true),
       {{0, 11, 'R'}, {1, 12, '-', true}, {2, 12, '-'}, {3, 5, 'C'}}},
      {"acknowledging a non-latching alarm only silences it",
       upper(10, 0, 0, false),
       {{0, 11, 'R'}, {1, 11, '-', true}, {2, 5, 'C'}}},
      {"lower limit, and crossing sides restarts the hold-off",
       band,
       {{0, 1, '-'},
        {50, 11, '-'},
        {120, 11, '-'},
        {150, 11, 'R'},
        {200, 5, 'C'},
        {300, 1, '-'},
        {400, 1, 'R'}}},
  };
  for (const Scenario& s : scenarios) {
    AlarmEvaluator e(s.limits);
    for (const Step& st : s.steps) {
      const std::optional<AlarmEvent> ev =
          st.ack ? e.acknowledge(st.atMs) : e.update(st.value, st.atMs);
      const char got = !ev ? '-' : ev->raised ? 'R' : 'C';
      EXPECT_EQ(got, st.expect) << s.name << " at " << st.atMs << " ms";
    }
  }
}

TEST(AlarmEvaluator, AMissingQuantityRestartsTheHoldOff) {
  AlarmLimits l = upper(10, 0, 100, false);
  l.quantity = AlarmQuantity::Vswr;
  AlarmEvaluator e(l);
  QuantityValues v{};
  v[static_cast<int>(AlarmQuantity::Vswr)] = 11;
  EXPECT_FALSE(e.update(v, 0));
  EXPECT_FALSE(e.update(QuantityValues{}, 60));  // a reading of a type without VSWR
  EXPECT_FALSE(e.update(v, 120));
  const auto ev = e.update(v, 220);
  ASSERT_TRUE(ev);
  EXPECT_TRUE(ev->raised);
  EXPECT_EQ(ev->side, AlarmSide::Upper);
  EXPECT_TRUE(e.sounding());
}

TEST(AlarmEvaluator, NamesAndLimitProblems) {
  for (int i = 0; i < kAlarmQuantityCount; ++i) {
    const auto q = static_cast<AlarmQuantity>(i);
    EXPECT_EQ(alarmQuantityFromName(alarmQuantityName(q)), q);
  }
  EXPECT_FALSE(alarmQuantityFromName("forward_average"));
  AlarmLimits l;
  EXPECT_NE(l.problem(), "");
  l.upper = 1;
  l.lower = 2;
  EXPECT_NE(l.problem(), "");
  l.lower = 0;
  EXPECT_EQ(l.problem(), "");
  l.hysteresis = -1;
  EXPECT_NE(l.problem(), "");
}

// Two alarms on one reading: each change names its limits; acknowledging
// clears the latched one whose condition has gone and silences the other.
TEST(AlarmSet, ChangesNameTheirLimitsAndAcknowledgeActsOnEach) {
  AlarmLimits vswr = upper(1.5, 0, 0, true);
  vswr.quantity = AlarmQuantity::Vswr;
  AlarmLimits fwd = upper(100, 0, 0, false);
  AlarmSet set;
  set.setLimits({vswr, fwd});
  QuantityValues v{};
  v[static_cast<int>(AlarmQuantity::Vswr)] = 2.1;
  v[static_cast<int>(AlarmQuantity::ForwardAverageW)] = 120;
  auto changes = set.update(v, 0);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(alarmEventText(changes[0].limits, changes[0].event),
            "Alarm raised: vswr 2.1 above 1.5");
  EXPECT_EQ(alarmEventText(changes[1].limits, changes[1].event),
            "Alarm raised: forward_average_w 120 W above 100 W");
  v[static_cast<int>(AlarmQuantity::Vswr)] = 1.2;
  EXPECT_TRUE(set.update(v, 100).empty());  // latched
  changes = set.acknowledge(200);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(alarmEventText(changes[0].limits, changes[0].event), "Alarm cleared: vswr 1.2");
  EXPECT_TRUE(set.active());
  EXPECT_FALSE(set.sounding());
}

}  // namespace
}  // namespace zrq::core
