// Shared set-up of the end-to-end tests: the real library from bin/, a fresh
// simulator per test, the statistics grid and the status memo they write.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "AppStatus.h"
#include "DevComInterface.h"
#include "Eventually.h"
#include "SimHarness.h"
#include "USB/TKS7730Stats.h"
#include "ZervDComDLL.h"
#include "uiface/Delay.h"

namespace zrq::comm::test {

#define ZRQ_REQUIRE_SIM_AND_LIBRARY() \
  do {                                \
    ZRQ_REQUIRE_LIBRARY();            \
    ZRQ_REQUIRE_SIMULATOR();          \
  } while (0)

using ::zrq::test::eventually;

class CommE2E : public ::testing::Test {
 protected:
  void SetUp() override { ZervDComDLL::setLibraryPath(""); }

  std::unique_ptr<SimProcess> startSim(std::vector<std::string> options) {
    auto sim = std::make_unique<SimProcess>(std::move(options));
    EXPECT_TRUE(sim->ok()) << sim->error();
    return sim;
  }

  // A serial interface on a pseudo-terminal, opened.
  std::unique_ptr<DevComInterface> openSerial(const std::string& path) {
    auto port = std::make_unique<DevComInterface>(PortType::Serial, path, stats.addPortRow(path),
                                                  &stats, &status, -1);
    ZervDComDLL::DeviceHandle h = 0;
    EXPECT_EQ(ZervDComDLL::createSerialPort(&h, toWide(path).c_str(), 1024, 1024, 1), 1);
    port->open(h);
    EXPECT_TRUE(port->isOpen());
    return port;
  }
  std::unique_ptr<DevComInterface> openSerial(const SimProcess& sim) {
    return openSerial(sim.serialPath());
  }

  std::string statsCell(int column, const DevComInterface& port) {
    return grid.cell(column, port.statsRow());
  }

  ui::ScopedInstantDelay instant;
  MemoryStatsGrid grid;
  TKS7730Stats stats{&grid};
  MemoryStatusMemo memo;
  AppStatus status{&memo};
};

}  // namespace zrq::comm::test
