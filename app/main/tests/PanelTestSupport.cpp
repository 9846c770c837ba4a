#include "PanelTestSupport.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "core/DataString.h"

using zrq::core::CommState;

namespace zrq::test {

std::string dataString(const Powers& p, int reportedType) {
  char buf[160];
  std::snprintf(
      buf, sizeof buf,
      ",%+11.4E,%+12.4E,%+11.4E,%+11.4E,%+11.4E,%+11.4E,%2d,%2d,%+11.4E,%+11.4E,%+11.4E,,", p.burst,
      25.0, p.fwd, p.rfl, p.peak, 0.0, reportedType, p.scale, p.ccdf, p.crest, p.duty);
  return buf;
}

void PanelTest::SetUp() {
  ensureApplication();
  msg = std::make_unique<ui::ScopedScriptedMessageBoxes>();
  w = std::make_unique<TfrmMain>();
  w->displayTimer->stop();                // the tests drive the ticks
  w->clockMs = [this] { return nowMs; };  // and the clock
  about = new TfrmAbout(w.get());
  filter = new TfrmFilterValue(w.get(), w.get());
  w->setDialogs(filter, about);
  app::PanelPeers peers;
  peers.comm = &comm;
  peers.log = &log;
  peers.fwdMeter = &fwdMeter;
  peers.rflMeter = &rflMeter;
  peers.peak = &peak;
  peers.burst = &burst;
  w->setPeers(peers);
}

void PanelTest::TearDown() {
  w.reset();
  msg.reset();
}

void PanelTest::receive(const Powers& p) {
  last = p;
  core::DecodeInputs in;
  in.measType = w->state.measType;
  in.fwdFullScale = w->state.fwdFullScale;
  in.featureMask = w->state.featureMask;
  in.zeroCalRequested = w->state.zeroCalRequested;
  const auto r = core::decodeDataString(dataString(p, core::measTypeCode(w->state.measType)), in,
                                        w->state.reading, w->state.settingsChanged);
  ASSERT_TRUE(r.accepted()) << core::decodeOutcomeName(r.outcome) << " " << r.errorText;
}

void PanelTest::startStreaming(const Powers& p) {
  tick();  // start-up tick: no connection
  comm.connected = comm.interrogated = comm.settingsOk = true;
  w->state.commState = CommState::Streaming;
  w->state.measType = core::MeasType::Average;
  receive(p);
  tick();  // streaming begins: Average
  tick();  // streaming continues
}

void PanelTest::tick(int n) {
  for (int i = 0; i < n; ++i) w->displayTimerTimer();
}

void PanelTest::stepTo(core::MeasType target) {
  for (int guard = 0; w->state.measType != target && guard < 6; ++guard) {
    w->btnTypeClick();
    tick();
    w->state.settingsChanged = false;
    receive(last);
    tick();
  }
  ASSERT_EQ(w->state.measType, target);
}

bool PanelTest::lit(const char* name) const {
  auto* l = w->findChild<QLabel*>(QString::fromLatin1(name));
  EXPECT_NE(l, nullptr) << name;
  return l && l->isVisibleTo(w.get());
}

}  // namespace zrq::test
