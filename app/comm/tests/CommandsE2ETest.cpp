// The connection sequences and reply handlers, driven through the real
// library against the simulator; the main window is a recording stand-in and
// message boxes are answered by script.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "E2EFixture.h"
#include "RecordingHost.h"
#include "SensorProtocol.h"
#include "TKS7730Commands.h"
#include "uiface/MsgBox.h"

namespace zrq::comm::test {
namespace {

using core::CommState;
using core::MeasType;
using core::PowerUnit;
using ui::MsgResult;

class Commands : public CommE2E {
 protected:
  TKS7730Commands& addSimPort(const SimProcess& sim) {
    EXPECT_NE(cmds.addPort(PortType::Serial, sim.serialPath(), -1), nullptr);
    return cmds;
  }
  // Opens and selects the port with this index without the start-up.
  DevComInterface* openOnly(int index) {
    DevComInterface* port = cmds.getPort(index);
    cmds.openPort(port);
    cmds.selectPort(port);
    EXPECT_TRUE(port->isOpen());
    return port;
  }
  std::vector<std::string> captions() const {
    std::vector<std::string> out;
    for (const auto& b : boxes.shown()) out.push_back(b.caption);
    return out;
  }

  ui::ScopedScriptedMessageBoxes boxes;
  RecordingHost host;
  TKS7730Commands cmds{host, stats, status};
};

TEST_F(Commands, ConnectPortStartsUpTwiceReadsTheSerialNumberAndStreams) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--serial-number", "SN-0042"});
  addSimPort(*sim);
  cmds.connectPort(0);
  EXPECT_TRUE(boxes.shown().empty()) << boxes.shown()[0].caption;
  // Banner retried on the first I; the close between the two start-ups sends U.
  EXPECT_EQ(sim->lettersWhen("IIFGUIFGSGD"), "IIFGUIFGSGD");
  EXPECT_TRUE(cmds.connected());
  EXPECT_EQ(host.state.commState, CommState::Streaming);
  EXPECT_EQ(host.state.sensorSerial, "SN-0042");
  EXPECT_TRUE(host.state.calibrationOk);
  EXPECT_TRUE(host.state.settingsAcked);
  EXPECT_EQ(host.state.fwdFullScale, 150.0);
  EXPECT_EQ(host.state.rflFullScale, 15.0);
  const SensorInfo& info = cmds.sensorInfo();
  EXPECT_TRUE(info.interrogated && info.calibrationAcked && info.settingsConfirmed &&
              info.streamReady);
  EXPECT_EQ(info.firmwareVersion, "1.4");
  EXPECT_TRUE(host.isRunning(CommTimer::DataPoll)) << ::testing::PrintToString(host.calls);
  EXPECT_TRUE(host.isRunning(CommTimer::ReadData));
  EXPECT_EQ(host.interval[static_cast<int>(CommTimer::DataPoll)], 500);
  EXPECT_EQ(host.count("streamingMenus meter=on"), 3);
  EXPECT_EQ(host.count("currPortName " + sim->serialPath()), 1);
  EXPECT_EQ(host.count("portAdded " + sim->serialPath() + " 0"), 1);

  DevComInterface* port = cmds.getPort(0);
  EXPECT_EQ(grid.cell(1, port->statsRow()), "OPEN");
  EXPECT_EQ(grid.cell(2, port->statsRow()), "SN-0042");
  const std::string p = sim->serialPath() + "--> \t";
  int open1 = memo.find(p + "Open.");
  int closed = memo.find(p + "Closed.", open1);
  int open2 = memo.find(p + "Open.", closed);
  EXPECT_GE(open1, 0);
  EXPECT_GT(closed, open1);
  EXPECT_GT(open2, closed);
  EXPECT_GT(memo.find(p + "Received SN:SN-0042"), open2);

  cmds.disconnect();
  EXPECT_FALSE(cmds.connected());
  EXPECT_FALSE(port->isOpen());
  EXPECT_EQ(sim->lastCommand(), 'U');
  EXPECT_EQ(host.lblText, "No Connection");
  EXPECT_GE(host.count("disconnectedCaption"), 1);
  EXPECT_FALSE(cmds.sensorInfo().streamReady);
}

TEST_F(Commands, SettingsCommandArrivesByteForByte) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({});
  host.state.measType = MeasType::Peak;
  host.state.offsetDb = 0;
  host.state.filterHz = 400;
  host.state.fwdUnit = static_cast<PowerUnit>(11);
  host.state.ccdfLimit = 50;
  addSimPort(*sim);
  cmds.connectPort(0);
  const auto gs = sim->commandsReceived('G');
  ASSERT_EQ(gs.size(), 3u);
  const std::string expected =
      std::string("G,\x02,0.00000e+00,4.00000e+02,") + '\x0B' + ",5.00000e+01 \r\n";
  ASSERT_EQ(expected.size(), 44u);
  for (const auto& g : gs) EXPECT_EQ(g, expected);
  EXPECT_EQ(host.count("streamingMenus meter=on"), 3);
}

TEST_F(Commands, CrestAndCcdfDisableTheMeterMenu) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0"});
  host.state.measType = MeasType::CCDF;
  addSimPort(*sim);
  openOnly(0);
  EXPECT_TRUE(cmds.getPort(0)->setFilterAndType());
  EXPECT_EQ(sim->commandsReceived('G').at(0)[2], '\x05');
  EXPECT_EQ(host.count("streamingMenus meter=off"), 1);
}

TEST_F(Commands, UncalibratedSensorEndsInTheFatalClose) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--uncalibrated"});
  addSimPort(*sim);
  boxes.answer(MsgResult::Cancel);  // shown again until OK
  cmds.connectPort(0);
  ASSERT_EQ(boxes.shown().size(), 2u);
  for (const auto& b : boxes.shown()) {
    EXPECT_EQ(b.caption, "Sensor Not Calibrated");
    EXPECT_EQ(b.text, "The 7730 sensor is not calibrated\r\nThe ZRQ Application will close");
    EXPECT_EQ(b.buttons, ui::MsgButtons::Ok);
  }
  EXPECT_EQ(host.from("closeChildWindows"),
            (std::vector<std::string>{"closeChildWindows", "helpQuit", "closeLogFile",
                                      "hideAuxWindows", "closeMainWindow", "terminate"}));
  EXPECT_TRUE(cmds.fatallyClosed());
  EXPECT_EQ(sim->commandLetters(), "II");  // nothing is sent after the fatal close
  EXPECT_FALSE(cmds.sensorInfo().interrogated);
}

TEST_F(Commands, OldFirmwareEndsInTheFatalCloseAfterStoppingTheTimers) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--firmware", "1.20"});
  addSimPort(*sim);
  host.logging = false;
  host.ownHelp = false;
  cmds.connectPort(0);
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].caption, "7730 Update Required");
  EXPECT_EQ(boxes.shown()[0].text,
            "ZRQ requires 7730 firmware version\r\n1.30 or higher. Or firmware version\r\n1.40 "
            "or higher for USB support.\r\nZRQ Application will close");
  EXPECT_EQ(host.from("stop dataPollTimer").at(1), "stop readDataTimer");
  EXPECT_EQ(host.from("stop dataPollTimer").at(2), "stop displayTimer");
  EXPECT_EQ(host.from("closeChildWindows"),
            (std::vector<std::string>{"closeChildWindows", "hideAuxWindows", "closeMainWindow",
                                      "terminate"}));
  EXPECT_EQ(cmds.sensorInfo().firmwareVersion, "1.2");
  EXPECT_FALSE(cmds.sensorInfo().interrogated);
}

TEST_F(Commands, NineteenCalibrationRefusalsThenAckReset) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0", "--fault", "refuse-f,count=19"});
  addSimPort(*sim);
  DevComInterface* port = openOnly(0);
  for (int i = 1; i <= 19; ++i) {
    EXPECT_FALSE(port->assertCalibration()) << i;
    EXPECT_EQ(cmds.calibrationRefusals(), i);
    EXPECT_FALSE(host.state.calibrationOk);
  }
  EXPECT_TRUE(port->assertCalibration());
  EXPECT_EQ(cmds.calibrationRefusals(), 0);
  EXPECT_TRUE(host.state.calibrationOk);
  EXPECT_TRUE(cmds.sensorInfo().calibrationAcked);
  EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(Commands, TwentiethCalibrationRefusalShowsCalibrationError) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0", "--fault", "refuse-f,count=21"});
  addSimPort(*sim);
  DevComInterface* port = openOnly(0);
  host.state.commState = CommState::Streaming;
  for (int i = 1; i <= 19; ++i) EXPECT_FALSE(port->assertCalibration());
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(host.state.commState, CommState::Streaming);
  EXPECT_FALSE(port->assertCalibration());
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].caption, "Error");
  EXPECT_EQ(boxes.shown()[0].text, "Calibration Error!");
  EXPECT_EQ(host.state.commState, CommState::NoConnection);
  EXPECT_FALSE(cmds.sensorInfo().streamReady || cmds.sensorInfo().interrogated ||
               cmds.sensorInfo().calibrationAcked);
  EXPECT_FALSE(port->assertCalibration());  // once per refusal from now on
  EXPECT_EQ(boxes.count("Error"), 2);
  EXPECT_TRUE(port->assertCalibration());
  EXPECT_EQ(cmds.calibrationRefusals(), 0);
}

TEST_F(Commands, SixthSettingsRefusalShowsConfigurationError) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--banner", "0", "--fault", "refuse-g,count=6"});
  addSimPort(*sim);
  DevComInterface* port = openOnly(0);
  for (int i = 1; i <= 5; ++i) EXPECT_FALSE(port->setFilterAndType());
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_FALSE(host.state.settingsAcked);
  EXPECT_FALSE(port->setFilterAndType());
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].caption, "Error");
  EXPECT_EQ(boxes.shown()[0].text, "Configuration Error!");
  EXPECT_EQ(host.state.commState, CommState::NoConnection);
  EXPECT_FALSE(cmds.sensorInfo().settingsConfirmed);
  EXPECT_TRUE(port->setFilterAndType());
  EXPECT_EQ(cmds.settingsRefusals(), 0);
  EXPECT_EQ(host.state.commState, CommState::Streaming);
}

TEST_F(Commands, StartUpStepFailingThreeTimesCannotConnect) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--fault", "refuse-g,every=1"});
  addSimPort(*sim);
  cmds.connectPort(0);
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].caption, "Cannot Connect");
  EXPECT_EQ(boxes.shown()[0].text, "Check cables and retry");
  EXPECT_EQ(sim->commandLetters(), "IIFGGGU");
  EXPECT_FALSE(cmds.connected());
  EXPECT_FALSE(cmds.getPort(0)->isOpen());
  EXPECT_EQ(host.state.commState, CommState::NoConnection);
  EXPECT_GE(host.count("clearAllSegments"), 1);
  EXPECT_EQ(host.lblText, "No Connection");
  EXPECT_EQ(grid.cell(1, cmds.getPort(0)->statsRow()), "CLOSED");
}

TEST_F(Commands, SerialNumberIsAskedAgainAfterAFailedRead) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--fault", "silence,cmd=S,count=1,for=1"});
  addSimPort(*sim);
  cmds.connectPort(0);
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(sim->commandsReceived('S').size(), 2u);
  EXPECT_EQ(host.state.sensorSerial, "12345");
  EXPECT_EQ(host.count("lblComm green   Connecting"), 1);
}

TEST_F(Commands, SerialNumberMissingFourTimesStillStartsTheStream) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--fault", "silence,cmd=S,every=1,for=1"});
  addSimPort(*sim);
  cmds.connectPort(0);
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].caption, "Cannot Connect");
  EXPECT_EQ(boxes.shown()[0].text, "Close ZRQ check cables and retry");
  EXPECT_EQ(sim->commandsReceived('S').size(), 4u);
  EXPECT_EQ(host.count("lblComm green   Connecting"), 4);
  EXPECT_EQ(sim->lettersWhen("IIFGUIFGSSSSGD"), "IIFGUIFGSSSSGD");
  EXPECT_EQ(host.state.commState,
            CommState::Streaming);  // the settings reply armed the stream again
}

class Reconnect : public Commands {
 protected:
  // Port 0 is connected for real; port 1, on a second simulator with its
  // own faults, is then selected, so the sequence runs on a connected port.
  void connectThenSwitch(std::vector<std::string> faults) {
    good = startSim({});
    faulty = startSim(std::move(faults));
    addSimPort(*good);
    addSimPort(*faulty);
    cmds.connectPort(0);
    ASSERT_TRUE(cmds.connected());
    ASSERT_TRUE(boxes.shown().empty());
    openOnly(1);
    host.calls.clear();
  }
  std::unique_ptr<SimProcess> good, faulty;
};

TEST_F(Reconnect, RestartsTheStream) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  connectThenSwitch({"--banner", "0"});
  cmds.reconnect();
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(faulty->lettersWhen("UFGD"), "UFGD");
  EXPECT_TRUE(cmds.getPort(1)->isOpen());
}

TEST_F(Reconnect, StreamThatCannotBeStoppedDisconnectsAndStillTriesFAndG) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  connectThenSwitch({"--banner", "0", "--fault", "silence,cmd=U,every=1,for=1"});
  cmds.reconnect();
  EXPECT_EQ(captions(), (std::vector<std::string>{"Communication Error 6", "Cannot Connect"}));
  EXPECT_EQ(boxes.shown()[0].text, "Communication problem check cables");
  EXPECT_EQ(boxes.shown()[1].text, "Close ZRQ check cables and retry");
  EXPECT_FALSE(cmds.connected());
  EXPECT_FALSE(cmds.getPort(1)->isOpen());
  EXPECT_EQ(faulty->commandLetters(), "UU");  // F and G went to a closed port
  EXPECT_EQ(host.state.commState, CommState::NoConnection);
}

TEST_F(Reconnect, CalibrationRefusedFourTimesDisconnects) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  connectThenSwitch({"--banner", "0", "--fault", "refuse-f,every=1"});
  cmds.reconnect();
  EXPECT_EQ(captions(), std::vector<std::string>{"Cannot Connect"});
  EXPECT_EQ(boxes.shown()[0].text, "Close ZRQ check cables and retry");
  EXPECT_EQ(faulty->commandLetters(), "UFFFFU");
  EXPECT_FALSE(cmds.connected());
  EXPECT_GE(host.count("clearAllSegments"), 1);
}

TEST_F(Reconnect, SettingsRefusedFourTimesLeaveThePortOpen) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  connectThenSwitch({"--banner", "0", "--fault", "refuse-g,every=1"});
  cmds.reconnect();
  EXPECT_EQ(captions(), std::vector<std::string>{"Cannot Connect"});
  EXPECT_EQ(faulty->commandLetters(), "UFGGGG");
  EXPECT_TRUE(cmds.connected());
  EXPECT_TRUE(cmds.getPort(1)->isOpen());
  EXPECT_EQ(host.calls.back(), "lblComm red No Connection");
  EXPECT_EQ(host.count("clearAllSegments"), 0);
}

TEST_F(Commands, ZeroCalibrationResultRestartsTheStream) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({"--zero-time", "0", "--zero-result", "7"});
  addSimPort(*sim);
  cmds.connectPort(0);
  ASSERT_TRUE(boxes.shown().empty());
  DevComInterface* port = cmds.getPort(0);
  ASSERT_TRUE(port->stopDataStream());
  port->purge();
  host.state.savedMeasType = MeasType::Burst;
  host.state.measType = MeasType::None;
  host.state.commState = CommState::ZeroCal;
  host.state.zeroCalRequested = true;
  port->sendZero();
  host.calls.clear();
  EXPECT_TRUE(cmds.readZeroCalResult());
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].caption, "Calibration Failed");
  EXPECT_EQ(boxes.shown()[0].text, "Original zero calibration constants restored");
  EXPECT_EQ(host.state.commState, CommState::Streaming);
  EXPECT_EQ(host.state.measType, MeasType::Burst);
  EXPECT_TRUE(host.state.zeroCalDone);
  EXPECT_FALSE(host.state.zeroCalRequested);
  EXPECT_EQ(host.calls,
            (std::vector<std::string>{
                "progress 0", "lblZeroCal ''", "stop dataPollTimer", "stop readDataTimer",
                "stop displayTimer", "progress 0", "lblZeroCal ''", "showBtnZeroCal",
                "interval dataPollTimer 500", "start dataPollTimer", "start readDataTimer",
                "interval displayTimer 300", "start displayTimer", "applyMeasType", "updateDisplay",
                "progressMax 100"}));
  EXPECT_EQ(sim->lettersWhen("IIFGUIFGSGDUZD"), "IIFGUIFGSGDUZD");
}

// Handlers without a sensor: replies given directly.
TEST(ReplyHandlers, WrongOrEmptyRepliesAreRefusedQuietly) {
  ui::ScopedScriptedMessageBoxes boxes;
  RecordingHost host;
  MemoryStatsGrid grid;
  TKS7730Stats stats(&grid);
  MemoryStatusMemo memo;
  AppStatus status(&memo);
  TKS7730Commands cmds(host, stats, status);
  for (const char* reply : {"", "\r\n", "rs232\r\n", "D,1,2\r"}) {
    EXPECT_FALSE(cmds.pktInterrogateResponse(reply));
    EXPECT_FALSE(cmds.pktConfigResponse(reply));
    EXPECT_FALSE(cmds.pktTypeResponse(reply));
    EXPECT_FALSE(cmds.pktZeroCalResponse(reply));
  }
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(cmds.calibrationRefusals(), 0);
  EXPECT_EQ(cmds.settingsRefusals(), 0);
  EXPECT_TRUE(cmds.pktTypeResponse("G,4.50000e+03,ACK\r\n"));
  EXPECT_TRUE(cmds.pktInterrogateResponse("7730,FW version 1.21,Cal\r\n"));
  EXPECT_EQ(cmds.sensorInfo().firmwareVersion, "1.21");
  // A version that is not a number keeps the last one, which still passes.
  EXPECT_TRUE(cmds.pktInterrogateResponse("7730,FW version ????,Cal\r\n"));
  EXPECT_EQ(cmds.sensorInfo().firmwareVersion, "1.21");
  EXPECT_TRUE(memo.lines().empty());
}

}  // namespace
}  // namespace zrq::comm::test

namespace zrq::comm::test {
namespace {

// The same sequences over a simulated USB sensor: no banner, and the zero
// calibration reply is read as a line.
TEST_F(Commands, UsbSensorConnectsAndCalibrates) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string dir =
      std::string(runtime ? runtime : "/tmp") + "/comm-usb-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  setenv("ZERVDCOM_HID_SIM_DIR", dir.c_str(), 1);
  auto sim = startSim({"--no-pty", "--usb", "1", "--usb-dir", dir, "--zero-time", "0"});
  ASSERT_EQ(sim->usbPaths().size(), 1u);

  ZervDComDLL::DeviceHandle mngr = 0;
  ASSERT_EQ(ZervDComDLL::createTKS7730USBDevMngr(&mngr), 1);
  int found = 0;
  ASSERT_EQ(ZervDComDLL::buildTKS7730USBDevList(mngr, &found), 1);
  ASSERT_EQ(found, 1);
  EXPECT_EQ(ZervDComDLL::isTKS7730USBPortAvail(mngr, 0), 1);
  cmds.setDevMngr(mngr);
  ASSERT_NE(cmds.addPort(PortType::USB, "7730USB1", 0), nullptr);
  cmds.connectPort(0);
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(sim->lettersWhen("IFGUIFGSGD"), "IFGUIFGSGD");
  EXPECT_EQ(host.state.commState, CommState::Streaming);
  EXPECT_FALSE(host.state.sensorSerial.empty());
  DevComInterface* port = cmds.getPort(0);
  EXPECT_EQ(grid.cell(2, port->statsRow()), host.state.sensorSerial);

  ASSERT_TRUE(port->stopDataStream());
  port->purge();
  port->sendZero();
  EXPECT_TRUE(cmds.readZeroCalResult());
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].caption, "Calibration Complete");
  EXPECT_EQ(boxes.shown()[0].text, "Zero calibration completed successfully.");

  cmds.disconnect();
  EXPECT_FALSE(port->isOpen());
  EXPECT_EQ(ZervDComDLL::close(mngr), 1);
  unsetenv("ZERVDCOM_HID_SIM_DIR");
  sim.reset();
  rmdir(dir.c_str());
}

// A connect made after the display has fallen back to no measurement sends
// the type byte as it stands (0); the sensor acknowledges it and measures
// Average.
TEST_F(Commands, TheSettingsCommandCarriesTheTypeAsItStands) {
  host.state.measType = MeasType::Peak;
  EXPECT_EQ(cmds.settingsCommand()[2], '\x02');
  host.state.measType = MeasType::None;
  EXPECT_EQ(cmds.settingsCommand()[2], '\x00');
}

}  // namespace
}  // namespace zrq::comm::test
