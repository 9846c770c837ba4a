#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "CommAssert.h"
#include "USB/TKS7730Stats.h"

using namespace zrq::comm;

namespace {

TEST(Stats, ConstructionWritesTheHeaders) {
  MemoryStatsGrid grid;
  TKS7730Stats stats(&grid);
  const char* headers[] = {"Port Name", "Status", "SN", "Success", "Total Rds", "Total Fails"};
  for (int c = 0; c < 6; ++c) EXPECT_EQ(grid.cell(c, 0), headers[c]);
  EXPECT_EQ(stats.usedRows(), 0);
}

TEST(Stats, NullGridIsRefused) { EXPECT_THROW(TKS7730Stats stats(nullptr), AssertionFailed); }

TEST(Stats, NewRowShowsClosedUnknownSerialAndZeroCounts) {
  MemoryStatsGrid grid;
  TKS7730Stats stats(&grid);
  EXPECT_EQ(stats.addPortRow("COM1"), 1);
  EXPECT_EQ(stats.addPortRow("7730USB1"), 2);
  EXPECT_EQ(grid.cell(0, 2), "7730USB1");
  EXPECT_EQ(grid.cell(1, 2), "CLOSED");
  EXPECT_EQ(grid.cell(2, 2), "?");
  EXPECT_EQ(grid.cell(3, 2), "0.00%");
  EXPECT_EQ(grid.cell(4, 2), "0");
  EXPECT_EQ(grid.cell(5, 2), "0");
}

TEST(Stats, SuccessRateHasTwoDecimalsAndAPercentSign) {
  struct Case {
    std::uint32_t total, fails;
    const char* text;
  } cases[] = {{200, 5, "97.50%"},
               {0, 0, "0.00%"},
               {5, 5, "0.00%"},
               {5, 9, "0.00%"},
               {3, 1, "66.67%"},
               {1, 0, "100.00%"},
               {4000000000u, 0, "100.00%"}};
  for (const auto& c : cases) EXPECT_EQ(successRateText(c.total, c.fails), c.text);

  MemoryStatsGrid grid;
  TKS7730Stats stats(&grid);
  int row = stats.addPortRow("COM1");
  stats.showCounts(row, 200, 5);
  EXPECT_EQ(grid.cell(3, row), "97.50%");
  EXPECT_EQ(grid.cell(4, row), "200");
  EXPECT_EQ(grid.cell(5, row), "5");
}

TEST(Stats, RateIgnoresTheProcessLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
  EXPECT_EQ(successRateText(200, 5), "97.50%");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Stats, TenthPortRowGrowsTheGrid) {
  MemoryStatsGrid grid(10);
  TKS7730Stats stats(&grid);
  for (int i = 1; i <= 9; ++i) stats.addPortRow("P" + std::to_string(i));
  EXPECT_EQ(grid.rowCount(), 10);
  EXPECT_EQ(stats.addPortRow("P10"), 10);
  EXPECT_EQ(grid.rowCount(), 11);
  EXPECT_EQ(grid.cell(0, 10), "P10");
  EXPECT_EQ(grid.cell(1, 10), "CLOSED");
}

TEST(Stats, HeaderRowCannotBeOverwritten) {
  MemoryStatsGrid grid;
  TKS7730Stats stats(&grid);
  stats.putCell(0, 1, "x");
  stats.showStatus(0, "OPEN");
  EXPECT_EQ(grid.cell(1, 0), "Status");
}

TEST(Stats, StatusNamesAndNullTexts) {
  MemoryStatsGrid grid;
  TKS7730Stats stats(&grid);
  int row = stats.addPortRow("COM1");
  const char* names[] = {"OPEN", "INIT", "CONT RD", "CLOSED", "ERROR", "COM ERR"};
  for (int i = 0; i < 6; ++i) {
    stats.showStatus(row, static_cast<PortStatus>(i));
    EXPECT_EQ(grid.cell(1, row), names[i]);
  }
  EXPECT_THROW(stats.showStatus(row, static_cast<const char*>(nullptr)), AssertionFailed);
  EXPECT_THROW(stats.showSerialNumber(row, nullptr), AssertionFailed);
}

TEST(Stats, ClearRowsEmptiesUsedRowsAndRestartsNumbering) {
  MemoryStatsGrid grid;
  {
    TKS7730Stats stats(&grid);
    stats.addPortRow("COM1");
    stats.addPortRow("COM2");
    stats.clearRows();
    for (int c = 0; c < 6; ++c) EXPECT_EQ(grid.cell(c, 2), "");
    EXPECT_EQ(grid.cell(0, 0), "Port Name");
    EXPECT_EQ(stats.addPortRow("COM3"), 1);
  }
  // Destruction clears the rows too.
  EXPECT_EQ(grid.cell(0, 1), "");
}

}  // namespace
