// The sensor session through the real library against the simulator: the
// stream policy line by line, and requests made while a sequence waits.
#include <functional>
#include <string>

#include "E2EFixture.h"
#include "RecordingHost.h"
#include "SensorSession.h"
#include "uiface/MsgBox.h"

namespace zrq::comm::test {
namespace {

using core::CommState;
using core::DecodeOutcome;

// Layout A, average type, 100 W forward.
const std::string kLine =
    ",+9.8700E+01, +2.8310E+01,+1.0000E+02,+1.0000E+00,+1.4120E+02,+0.0000E+00, 1, 9,"
    "+1.2300E-02,+1.4120E+00,+9.9600E+01,,";

std::string replaced(std::string line, const std::string& from, const std::string& to) {
  line.replace(line.find(from), from.size(), to);
  return line;
}

class Session : public CommE2E {
 protected:
  std::unique_ptr<SimProcess> connected() {
    auto sim = startSim({});
    EXPECT_NE(session.commands().addPort(PortType::Serial, sim->serialPath(), -1), nullptr);
    session.connectPort(0);
    EXPECT_TRUE(session.connected());
    EXPECT_EQ(sim->lettersWhen("IIFGUIFGSGD"), "IIFGUIFGSGD");
    return sim;
  }
  // During the first wait of whatever runs next, as a click the event loop
  // delivers while a sequence waits.
  void duringTheFirstWait(std::function<void()> request) {
    ui::setDelayFunction([this, request = std::move(request)](int) {
      if (asked_++ == 0) request();
    });
  }

  ui::ScopedScriptedMessageBoxes boxes;
  RecordingHost host;
  SensorSession session{host, stats, status};
  int asked_ = 0;
};

TEST_F(Session, EachKindOfDataLineIsHandledAsThePolicySays) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = connected();
  struct Row {
    const char* what;
    std::string line;
    bool zeroCalRequested;
    DecodeOutcome outcome;
    int accepted;      // readings accepted by the end of the row
    std::string sent;  // command letters the row sends to the sensor
    CommState state;   // the state the row leaves
    bool box;          // an error box under the program's title
  } rows[] = {
      {"whole line", kLine, false, DecodeOutcome::Accepted, 1, "", CommState::Streaming, false},
      {"empty: the stream is restarted", "", false, DecodeOutcome::Unusable, 1, "UD",
       CommState::Streaming, false},
      {"no end marker", ",+9.8700E+01,", false, DecodeOutcome::Ignored, 1, "", CommState::Streaming,
       false},
      {"another type", replaced(kLine, ", 1, 9,", ", 2, 9,"), false, DecodeOutcome::TypeMismatch, 1,
       "", CommState::Streaming, false},
      {"a field that is no number", replaced(kLine, "+1.0000E+02", "+1.0000Q+02"), false,
       DecodeOutcome::ConversionError, 1, "", CommState::Streaming, true},
      {"zero calibration asked for", kLine, true, DecodeOutcome::Accepted, 2, "UZ",
       CommState::ZeroCal, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    boxes.clear();
    host.state.settingsChanged = false;
    host.state.zeroCalRequested = r.zeroCalRequested;
    const std::string before = sim->commandLetters();
    EXPECT_EQ(session.handleDataLine(r.line), r.outcome);
    EXPECT_EQ(session.acceptedReadings(), r.accepted);
    EXPECT_EQ(sim->lettersWhen(before + r.sent).substr(before.size()), r.sent);
    EXPECT_EQ(host.state.commState, r.state);
    EXPECT_EQ(host.state.settingsChanged, r.outcome == DecodeOutcome::TypeMismatch);
    ASSERT_EQ(boxes.shown().size(), r.box ? 1u : 0u);
    if (r.box) {
      EXPECT_EQ(boxes.shown()[0].caption, ui::applicationTitle());
      EXPECT_NE(boxes.shown()[0].text.find("(field 3)"), std::string::npos);
    }
    EXPECT_TRUE(session.connected());
  }
  EXPECT_GT(host.state.lastReadingMs, 0);
  EXPECT_TRUE(host.isRunning(CommTimer::DataPoll));
}

TEST_F(Session, DisconnectAskedDuringAConnectsWaitLeavesThePortClosed) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({});
  session.commands().addPort(PortType::Serial, sim->serialPath(), -1);
  duringTheFirstWait([this] { session.disconnect(); });
  session.connectPort(0);
  ASSERT_EQ(asked_ > 0, true);
  EXPECT_FALSE(session.connected());
  EXPECT_FALSE(session.commands().getPort(0)->isOpen());
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(host.lblText, "No Connection");
  // The first start-up and its close, then nothing: the port was not reopened.
  EXPECT_EQ(sim->lettersWhen("IIFGUI", 1500), "IIFGU");
}

TEST_F(Session, ConnectAskedDuringAWaitIsCarriedOutAfterIt) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = connected();
  const std::string before = sim->commandLetters();
  host.state.settingsChanged = true;
  // The settings resend waits a second with the stream stopped.
  duringTheFirstWait([this] { session.connectPort(0); });
  session.supervise();
  ASSERT_EQ(asked_ > 0, true);
  EXPECT_TRUE(session.connected());
  EXPECT_FALSE(session.busy());
  EXPECT_EQ(host.state.commState, CommState::Streaming);
  EXPECT_TRUE(boxes.shown().empty());
  ASSERT_TRUE(eventually([&] {
    const std::string l = sim->commandLetters();
    return l.size() > before.size() + 3 && l.compare(l.size() - 3, 3, "SGD") == 0;
  }));
  // The resend stopped at its wait; the connect ran whole after it.
  const std::string after = sim->commandLetters().substr(before.size());
  EXPECT_EQ(after.substr(0, 2), "UI") << after;
}

}  // namespace
}  // namespace zrq::comm::test
