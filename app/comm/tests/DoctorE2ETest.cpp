// The doctor on the connection's own path: the real library fails to open a
// simulator's port that another process holds, and the status lines and one
// message box say which process it is.
#include "E2EFixture.h"
#include "LockHolder.h"
#include "PortDoctor.h"
#include "uiface/MsgBox.h"

namespace zrq::comm::test {
namespace {

class Doctor : public CommE2E {};

TEST_F(Doctor, FailedOpenOfAHeldPortNamesTheHolderOnceInABox) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({});
  ui::ScopedScriptedMessageBoxes boxes;
  doctor::resetReportedOnce();
  LockHolderProcess hog(sim->serialPath(), "porthog");
  const std::string pid = std::to_string(hog.pid());
  const std::vector<std::string> expected{
      "Cannot open " + sim->serialPath() + ": it is in use by another program.",
      "Fix: close process " + pid + " (porthog), which holds it, or end it: kill " + pid};

  DevComInterface port(PortType::Serial, sim->serialPath(), stats.addPortRow(sim->serialPath()),
                       &stats, &status, -1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ZervDComDLL::DeviceHandle h = 0;
    const std::u16string name = toWide(sim->serialPath());
    ASSERT_EQ(ZervDComDLL::createSerialPort(&h, name.c_str(), 1024, 1024, 1), 1);
    const int before = static_cast<int>(memo.lines().size());
    port.open(h);
    EXPECT_FALSE(port.isOpen());
    // The library's own report comes first, unchanged; the doctor's lines follow it.
    const int first = memo.find(expected[0], before);
    ASSERT_GT(first, before) << ::testing::PrintToString(memo.lines());
    EXPECT_NE(memo.lines()[static_cast<std::size_t>(before)].find("openSerialPort()"),
              std::string::npos);
    EXPECT_EQ(memo.lines().at(static_cast<std::size_t>(first) + 1), expected[1]);
  }
  ASSERT_EQ(boxes.count(doctor::kBoxCaption), 1) << "one box per run, however often it fails";
  EXPECT_EQ(boxes.shown().back().text, expected[0] + "\n" + expected[1]);
}

}  // namespace
}  // namespace zrq::comm::test
