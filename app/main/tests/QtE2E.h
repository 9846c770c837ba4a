// Set-up of the windows' end-to-end tests: the built library and simulator
// (the test skips, or fails under CI=true, when one is missing), the
// application object, and the library loaded from bin/.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "CommBridge.h"
#include "QtTestApp.h"
#include "SimHarness.h"
#include "TfrmComm.h"
#include "TfrmMain.h"
#include "ZervDComDLL.h"

#define ZRQ_QT_E2E_SETUP()                                                                     \
  do {                                                                                         \
    ZRQ_REQUIRE_LIBRARY();                                                                     \
    ZRQ_REQUIRE_SIMULATOR();                                                                   \
    ::zrq::test::qt::ensureApplication();                                                      \
    ::zrq::comm::ZervDComDLL::setLibraryPath(::zrq::comm::test::binDir() + "/libZervDCom.so"); \
  } while (0)

namespace zrq::test::qt {

// The windows' end-to-end fixtures: the main and connection windows joined
// as ZRQUSB joins them; each fixture adds its own windows and peers.
class AppWindowsE2E : public ::testing::Test {
 protected:
  void createWindows() {
    main = new TfrmMain;
    bridge = std::make_unique<zrq::app::CommBridge>(*main);
    comm = new zrq::comm::TfrmComm(*bridge, main);
    bridge->attach(comm);
  }
  // Before the simulator goes: closing the windows releases its ports.
  void destroyWindows() {
    delete comm;
    comm = nullptr;
    delete main;
    main = nullptr;
    bridge.reset();
  }

  TfrmMain* main = nullptr;
  std::unique_ptr<zrq::app::CommBridge> bridge;
  zrq::comm::TfrmComm* comm = nullptr;
};

}  // namespace zrq::test::qt
