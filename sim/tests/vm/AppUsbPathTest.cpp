// The application's USB path on a real kernel HID device: the connection
// sequences of the application's connection side list the uhid sensor, start
// it up and stream, and the readings core decodes what the fetch takes out.

#include "AppStatus.h"
#include "core/DataString.h"
#include "DevComInterface.h"
#include "RecordingHost.h"
#include "core/SensorReading.h"
#include "TKS7730Commands.h"
#include "USB/TKS7730Stats.h"
#include "VmSim.h"
#include "ZervDComDLL.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

#include <gtest/gtest.h>

#include <thread>

using namespace zrq::comm;

TEST(ApplicationPath, UhidSensorStartsUpStreamsAndDecodes) {
  vmtest::Sim sim(1);
  ASSERT_EQ(sim.nodes.size(), 1u);
  ZervDComDLL::setLibraryPath("");  // beside the program, as the application does
  zrq::ui::ScopedScriptedMessageBoxes boxes;
  zrq::ui::ScopedInstantDelay instant;
  MemoryStatsGrid grid;
  TKS7730Stats stats{&grid};
  MemoryStatusMemo memo;
  AppStatus status{&memo};
  test::RecordingHost host;
  TKS7730Commands cmds{host, stats, status};

  ZervDComDLL::DeviceHandle mngr = 0;
  ASSERT_EQ(ZervDComDLL::createTKS7730USBDevMngr(&mngr), 1);
  int found = 0;
  ASSERT_EQ(ZervDComDLL::buildTKS7730USBDevList(mngr, &found), 1);
  ASSERT_EQ(found, 1);
  cmds.setDevMngr(mngr);
  ASSERT_NE(cmds.addPort(PortType::USB, "7730USB1", 0), nullptr);
  cmds.connectPort(0);
  EXPECT_TRUE(boxes.shown().empty()) << boxes.shown()[0].caption << ": " << boxes.shown()[0].text;
  EXPECT_TRUE(cmds.connected());
  EXPECT_EQ(host.state.commState, zrq::core::CommState::Streaming);
  EXPECT_EQ(host.state.sensorSerial, "12346");
  EXPECT_EQ(host.state.calibrationOk, 1);
  EXPECT_EQ(host.state.settingsAcked, 1);

  // The fetch of the read timer, paced faster than the application's 600 ms.
  DevComInterface* port = cmds.getPort(0);
  ASSERT_NE(port, nullptr);
  zrq::core::SensorReading reading;
  int accepted = 0, other = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < end) {
    const std::string line = port->readDataLine();
    if (!line.empty()) {
      bool changed = false;
      const auto r = zrq::core::decodeDataString(line, zrq::core::DecodeInputs{}, reading, changed);
      r.accepted() ? ++accepted : ++other;
      EXPECT_TRUE(r.accepted()) << zrq::core::decodeOutcomeName(r.outcome) << " " << line;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  EXPECT_GE(accepted, 10);
  EXPECT_EQ(other, 0);
  // The simulator's default forward average is 100 W, with little noise and drift.
  EXPECT_GT(reading.fwdAvgPower, 80.0);
  EXPECT_LT(reading.fwdAvgPower, 120.0);

  cmds.disconnect();
  EXPECT_FALSE(port->isOpen());
  EXPECT_EQ(ZervDComDLL::close(mngr), 1);
}
