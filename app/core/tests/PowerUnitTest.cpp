#include <initializer_list>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "core/PowerUnit.h"

namespace zrq::core {
namespace {

using U = PowerUnit;

TEST(PowerUnits, CodesAndPowerUnits) {
  EXPECT_EQ(unitCode(U::None), 0);
  EXPECT_EQ(unitCode(U::ReturnLoss), 5);
  EXPECT_EQ(unitCode(U::W), 9);
  EXPECT_EQ(unitCode(U::KW), 10);
  EXPECT_EQ(unitCode(U::MegaW), 12);
  for (int c = 0; c < 256; ++c) {
    U u = static_cast<U>(c);
    EXPECT_EQ(isPowerUnit(u), u == U::dBm || u == U::AutoW) << c;
  }
  for (U u : forwardUnitCycle) EXPECT_TRUE(isPowerUnit(u));
}

TEST(PowerUnits, NamesRoundTrip) {
  for (int c = 0; c < kPowerUnitCodes; ++c) {
    if (c == 4) continue;
    U u = static_cast<U>(c), back = U::None;
    ASSERT_TRUE(parseUnitName(unitName(u), back)) << c;
    EXPECT_EQ(back, u);
  }
  U u = U::None;
  EXPECT_TRUE(parseUnitName("auto", u));
  EXPECT_EQ(u, U::AutoW);
  EXPECT_TRUE(parseUnitName("DBM", u));
  EXPECT_EQ(u, U::dBm);
  EXPECT_FALSE(parseUnitName("?", u));
  EXPECT_FALSE(parseUnitName("", u));
  EXPECT_EQ(unitName(static_cast<U>(4)), "?");
  EXPECT_EQ(unitDisplayText(U::uW), "\xC2\xB5W");
  EXPECT_EQ(unitDisplayText(U::AutoW), "W");
  EXPECT_EQ(unitDisplayText(U::None), "");
}

TEST(UnitCycles, NextUnitWrapsAndRestartsOutsideTheCycle) {
  struct Row {
    std::span<const U> cycle;
    U current, next;
  } rows[] = {
      {forwardUnitCycle, U::dBm, U::AutoW},         {forwardUnitCycle, U::AutoW, U::dBm},
      {forwardUnitCycle, U::Rho, U::dBm},           {reflectedUnitCycle, U::Rho, U::VSWR},
      {reflectedUnitCycle, U::VSWR, U::ReturnLoss}, {reflectedUnitCycle, U::ReturnLoss, U::dBm},
      {reflectedUnitCycle, U::dBm, U::AutoW},       {reflectedUnitCycle, U::AutoW, U::Rho},
      {reflectedUnitCycle, U::W, U::Rho},           {{}, U::W, U::W},
  };
  for (const auto& r : rows) EXPECT_EQ(nextUnit(r.cycle, r.current), r.next) << unitName(r.current);
}

struct LabelRow {
  U unit;
  const char* first;
  const char* second;
};

void expectTable(const AnnunciatorTable& t, std::initializer_list<LabelRow> rows,
                 const char* name) {
  std::set<int> listed;
  for (const auto& r : rows) {
    listed.insert(unitCode(r.unit));
    EXPECT_EQ(t.labels(r.unit), (UnitLabels{r.first, r.second})) << name << " " << unitName(r.unit);
  }
  for (int c = 0; c < 256; ++c)
    if (!listed.count(c)) {
      EXPECT_TRUE(t.labels(static_cast<U>(c)).empty()) << name << " code " << c;
    }
}

TEST(Annunciators, MainWindowTables) {
  expectTable(mainForwardAnnunciators,
              {{U::dB, "segFdb", ""},
               {U::Rho, "segRRho", ""},
               {U::VSWR, "segRVSWR", "segRR"},
               {U::ReturnLoss, "segRR", "segRRL"},
               {U::dBm, "segFdb", "segFm"},
               {U::uW, "segFuW", ""},
               {U::mW, "segFm", "segFW"},
               {U::W, "segFW", ""},
               {U::KW, "segFKW", ""},
               {U::AutoW, "segFW", ""}},
              "forward");
  expectTable(mainReflectedAnnunciators,
              {{U::dB, "segRdb", ""},
               {U::Rho, "segRRho", ""},
               {U::VSWR, "segRVSWR", "segRR"},
               {U::ReturnLoss, "segRR", "segRRL"},
               {U::dBm, "segRdb", "segRm"},
               {U::uW, "segRuW", ""},
               {U::mW, "segRm", "segRW"},
               {U::W, "segRW", ""},
               {U::KW, "segRKW", ""},
               {U::AutoW, "segRW", ""}},
              "reflected");
}

TEST(Annunciators, PeakAndBurstWindowTables) {
  expectTable(peakValueAnnunciators,
              {{U::dB, "segPdb", ""},
               {U::dBm, "segPdb", "segPm"},
               {U::uW, "segPuW", ""},
               {U::mW, "segPm", "segPW"},
               {U::W, "segPW", ""},
               {U::KW, "segPKW", ""},
               {U::AutoW, "segPW", ""}},
              "peak");
  expectTable(peakVswrAnnunciators, {{U::VSWR, "segPRVSWR", "segPRR"}}, "peak vswr");
  expectTable(burstAnnunciators,
              {{U::dB, "segBdb", ""},
               {U::dBm, "segBdb", "segBm"},
               {U::uW, "segBuW", ""},
               {U::mW, "segBm", "segBW"},
               {U::W, "segBW", ""},
               {U::KW, "segBKW", ""},
               {U::AutoW, "segBW", ""}},
              "burst");
}

TEST(Annunciators, SwitchingHidesTheOldKeyThenShowsTheNew) {
  UnitAnnunciator a(mainReflectedAnnunciators);
  EXPECT_EQ(a.current(), U::None);
  AnnunciatorChange c = a.select(U::VSWR);
  EXPECT_TRUE(c.hide.empty());
  EXPECT_EQ(c.show, (UnitLabels{"segRVSWR", "segRR"}));
  c = a.select(U::ReturnLoss);  // the shared "R" is hidden, then shown again
  EXPECT_EQ(c.hide, (UnitLabels{"segRVSWR", "segRR"}));
  EXPECT_EQ(c.show, (UnitLabels{"segRR", "segRRL"}));
  c = a.select(static_cast<U>(200));  // not in the table: lights nothing
  EXPECT_EQ(c.hide, (UnitLabels{"segRR", "segRRL"}));
  EXPECT_TRUE(c.show.empty());
  a.select(U::W);
  a.forget();
  EXPECT_TRUE(a.select(U::KW).hide.empty());
}

}  // namespace
}  // namespace zrq::core
