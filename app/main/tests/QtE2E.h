// Set-up of the windows' end-to-end tests: the built library and simulator
// (the test skips, or fails under CI=true, when one is missing), the
// application object, and the library loaded from bin/.
#pragma once

#include "QtTestApp.h"
#include "SimHarness.h"
#include "ZervDComDLL.h"

#define ZRQ_QT_E2E_SETUP()                                                                     \
  do {                                                                                         \
    ZRQ_REQUIRE_LIBRARY();                                                                     \
    ZRQ_REQUIRE_SIMULATOR();                                                                   \
    ::zrq::test::qt::ensureApplication();                                                      \
    ::zrq::comm::ZervDComDLL::setLibraryPath(::zrq::comm::test::binDir() + "/libZervDCom.so"); \
  } while (0)
