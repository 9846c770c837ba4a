// The protocol engine in-process, on a fake clock: every command, the banner,
// the settings taking effect, streaming, zero calibration and every fault.

#include "Engine.h"
#include "SensorRules.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>

using namespace tks7730sim;
using namespace simtest;
using std::chrono::milliseconds;

namespace {

std::string num5(double v) {  // the host's %1.5e
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 5);
  return std::string(buf, r.ptr);
}

std::string gCommand(int type, double offset, double filter, int unit, double ccdf) {
  std::string g = "G,";
  g += static_cast<char>(type);
  g += "," + num5(offset) + "," + num5(filter) + ",";
  g += static_cast<char>(unit);
  g += "," + num5(ccdf) + " \r\n";
  return g;
}

struct Rig {
  explicit Rig(SensorConfig c = quiet(), std::vector<FaultSpec> faults = {}, bool serial = false)
      : t(Engine::Clock::time_point{} + std::chrono::hours(1)),
        engine(c, faults, "serial", serial, &trace, t) {
    trace.captureInMemory(t);
  }
  static SensorConfig quiet() {
    SensorConfig c;
    c.bannerCount = 0;
    return c;
  }
  std::string send(std::string_view bytes) {
    engine.receive(bytes, t);
    engine.advance(t);
    return engine.takeOutput();
  }
  // Moves the fake clock by ms, firing every deadline on the way.
  std::string run(int ms) {
    const auto end = t + milliseconds(ms);
    std::string out;
    for (;;) {
      auto d = engine.nextDeadline();
      if (!d || *d > end) break;
      t = std::max(t, *d);
      engine.advance(t);
      out += engine.takeOutput();
    }
    t = end;
    engine.advance(t);
    return out + engine.takeOutput();
  }
  std::vector<std::string> dataLines(int ms) {
    std::vector<std::string> lines;
    const std::string out = run(ms);
    size_t p = 0;
    while ((p = out.find('D', p)) != std::string::npos) {
      size_t cr = out.find('\r', p);
      if (cr == std::string::npos) break;
      lines.push_back(out.substr(p + 1, cr - p - 1));
      p = cr;
    }
    return lines;
  }
  FaultSpec fault(const std::string& text) {
    std::string err;
    auto f = parseFault(text, err);
    EXPECT_TRUE(f) << err;
    return f.value_or(FaultSpec{});
  }
  Trace trace;
  Engine::TimePoint t;
  Engine engine;
};

std::vector<FaultSpec> faults(std::initializer_list<const char*> specs) {
  std::vector<FaultSpec> v;
  std::string err;
  for (const char* s : specs) {
    auto f = parseFault(s, err);
    EXPECT_TRUE(f) << s << ": " << err;
    if (f) v.push_back(*f);
  }
  return v;
}

double field(const std::string& data, char layout, int n) {
  std::string why;
  auto f = dataFields(data, layout, why);
  EXPECT_TRUE(f) << why << " in " << data;
  double v = NAN;
  if (f) {
    EXPECT_TRUE(toNumber((*f)[n - 1], v)) << "field " << n << ": '" << (*f)[n - 1] << "'";
  }
  return v;
}

}  // namespace

TEST(Commands, InterrogationReplyPassesTheHostRules) {
  Rig r;
  const std::string reply = r.send("I\r\n");
  std::string version;
  EXPECT_TRUE(interrogationAccepted(reply, &version)) << reply;
  EXPECT_EQ(version, "1.4");
  EXPECT_EQ(reply.substr(reply.size() - 2), "\r\n");
  EXPECT_NE(reply.size(), 7u);  // 7-byte replies count towards the banner retries
}

TEST(Commands, FirmwareAndCalibrationOptionsShowInTheInterrogationReply) {
  SensorConfig c = Rig::quiet();
  c.firmware = "1.20";
  Rig old(c);
  EXPECT_FALSE(interrogationAccepted(old.send("I\r\n")));
  c.firmware = "1.21";
  Rig newer(c);
  EXPECT_TRUE(interrogationAccepted(newer.send("I\r\n")));
  c.calibrated = false;
  Rig uncal(c);
  const std::string reply = uncal.send("I\r\n");
  EXPECT_EQ(strip(at(reply, 22, 3)), "Not");
  EXPECT_FALSE(calibrationAcked(uncal.send("F\r\n")));
}

TEST(Commands, BannerAnswersTheFirstCommandsAfterPowerUpOnTheSerialSideOnly) {
  SensorConfig c = Rig::quiet();
  c.bannerCount = 2;
  Rig serial(c, {}, true);
  EXPECT_EQ(serial.send("I\r\n"), "rs232\r\n");
  EXPECT_EQ(serial.send("I\r\n"), "rs232\r\n");
  EXPECT_TRUE(interrogationAccepted(serial.send("I\r\n")));
  serial.engine.powerUp(serial.t);
  EXPECT_EQ(serial.send("F\r\n"), "rs232\r\n");

  Rig usb(c, {}, false);
  EXPECT_TRUE(interrogationAccepted(usb.send("I\r\n")));
}

TEST(Commands, CalibrationAndSerialNumberAndTestRead) {
  SensorConfig c = Rig::quiet();
  c.serialNumber = "A-0042";
  Rig r(c);
  EXPECT_TRUE(calibrationAcked(r.send("F\r\n")));
  const std::string sn = r.send("S");  // no line end at all
  EXPECT_EQ(serialNumberOf(sn), "A-0042");
  EXPECT_EQ(serialNumberOf(r.send("S\r\n")), "A-0042");  // a stray line end is harmless
  const std::string t = r.send("T\r\n");
  ASSERT_GE(t.size(), 3u);
  EXPECT_EQ(t[0], 'T');
  EXPECT_EQ(t.find('\n'), t.size() - 1);
  EXPECT_EQ(r.send("Q\r\n"), "?\r\n");
  EXPECT_EQ(r.send("IX\r\n"), "?\r\n");
}

TEST(Commands, CommandsSplitAcrossWritesAndTerminatedByCrOrLfAlone) {
  Rig r;
  EXPECT_EQ(r.send("F"), "");
  EXPECT_TRUE(calibrationAcked(r.send("\r")));
  EXPECT_EQ(r.send("\n"), "");
  EXPECT_TRUE(calibrationAcked(r.send("F\n")));
  const std::string g = gCommand(3, 0, 4500, 11, 50);
  EXPECT_EQ(r.send(g.substr(0, 20)), "");
  EXPECT_TRUE(settingsAcked(r.send(g.substr(20))));
}

TEST(Commands, HalfACommandIsForgottenAfterASecond) {
  Rig r;
  r.send("G,");
  EXPECT_TRUE(r.engine.nextDeadline());
  r.run(1000);
  EXPECT_NE(r.trace.captured().find("incomplete command 47 2C"), std::string::npos);
  EXPECT_TRUE(interrogationAccepted(r.send("I\r\n")));
}

TEST(Settings, GReplyIsNineteenBytesAndTheSettingsTakeEffect) {
  Rig r;
  r.send("D\r\n");
  const double ccdfBefore = field(r.dataLines(100).at(0), 'A', 9);
  const std::string reply = r.send(gCommand(2, 3.0, 400, 11, 120));
  EXPECT_TRUE(settingsAcked(reply)) << reply;
  EXPECT_EQ(reply.size(), 19u);
  EXPECT_EQ(reply.substr(2, 11), "4.00000e+02");
  EXPECT_EQ(r.engine.settings().type, 2);
  EXPECT_DOUBLE_EQ(r.engine.settings().filterHz, 400);
  const std::string line = r.dataLines(100).at(0);
  EXPECT_EQ(field(line, 'A', 7), 2);
  // The offset shows in field 6: forward average raised by 3 dB.
  EXPECT_NEAR(field(line, 'A', 6) / field(line, 'A', 3), std::pow(10, 0.3), 1e-3);
  // A CCDF limit above the in-burst trough lowers the CCDF figure.
  EXPECT_LT(field(line, 'A', 9), ccdfBefore);
}

TEST(Settings, FilterAndCcdfLimitMoveThePeakFiguresConsistently) {
  SensorConfig c = Rig::quiet();
  c.signal.noisePercent = 0;
  c.signal.driftPercent = 0;
  Rig r(c);
  r.send("D\r\n");
  auto figures = [&](double filter, double limit) {
    r.send(gCommand(1, 0, filter, 11, limit));
    const std::string l = r.dataLines(100).at(0);
    const double avg = field(l, 'A', 3), peak = field(l, 'A', 5), burst = field(l, 'A', 1);
    const double crest = field(l, 'A', 10), duty = field(l, 'A', 11);
    EXPECT_NEAR(crest, peak / avg, 1e-3);
    EXPECT_NEAR(burst * duty / 100, avg, 0.05);
    return std::pair(peak, field(l, 'A', 9));
  };
  const auto wide = figures(4500, 50);
  const auto narrow = figures(100, 50);
  EXPECT_GT(wide.first, narrow.first);      // a narrow filter smooths the peak
  EXPECT_NEAR(wide.second, 80.0, 1e-6);     // limit below every in-burst level: the duty cycle
  EXPECT_EQ(figures(4500, 400).second, 0);  // limit above the peak: never exceeded
  const double mid = figures(4500, 150).second;
  EXPECT_GT(mid, 0);
  EXPECT_LT(mid, 80);
}

TEST(Settings, RawUnitByteMayBeALineFeed) {
  SensorConfig c = Rig::quiet();
  c.layout = Layout::B;
  Rig r(c);
  EXPECT_TRUE(settingsAcked(r.send(gCommand(1, 0, 4500, 10, 50))));
  EXPECT_EQ(r.engine.settings().unit, 10);
  r.send("D\r\n");
  const std::string l = r.dataLines(100).at(0);
  EXPECT_EQ(at(l, 75, 2), "10");  // layout B's extra field echoes the unit
  EXPECT_NE(r.trace.captured().find("cmd G bytes=47 2C 01 2C"), std::string::npos);
}

TEST(Settings, TypeZeroIsAcknowledgedAsAverageAndUnitZeroTakenAsSent) {
  Rig r;
  ASSERT_TRUE(settingsAcked(r.send(gCommand(2, 0, 4500, 11, 50))));
  ASSERT_EQ(r.engine.settings().type, 2);
  // What a host sends before its first display tick: type 0, unit 0.
  EXPECT_TRUE(settingsAcked(r.send(gCommand(0, 0, 400, 0, 50))));
  EXPECT_EQ(r.engine.settings().type, 1);
  EXPECT_EQ(r.engine.settings().unit, 0);
  EXPECT_DOUBLE_EQ(r.engine.settings().filterHz, 400);
  r.send("D\r\n");
  const std::string l = r.dataLines(100).at(0);
  EXPECT_EQ(field(l, 'A', 7), 1);
  EXPECT_EQ(r.trace.captured().find("settings command malformed"), std::string::npos);
}

TEST(Settings, MalformedOrRefusedGKeepsTheSettings) {
  Rig r(Rig::quiet(), faults({"refuse-g,count=1"}));
  EXPECT_FALSE(settingsAcked(r.send(gCommand(2, 0, 400, 11, 50))));  // the refusal
  EXPECT_EQ(r.engine.settings().type, 1);
  EXPECT_FALSE(settingsAcked(r.send(gCommand(9, 0, 400, 11, 50))));  // no such type
  std::string bad = gCommand(2, 0, 400, 11, 50);
  bad[20] = 'x';
  EXPECT_FALSE(settingsAcked(r.send(bad)));
  EXPECT_FALSE(settingsAcked(r.send("G\r\n")));  // short: ends at its line feed
  EXPECT_EQ(r.engine.settings().type, 1);
  EXPECT_TRUE(settingsAcked(r.send(gCommand(2, 0, 400, 11, 50))));
  EXPECT_EQ(r.engine.settings().type, 2);
}

TEST(Stream, DataLinesFollowTheIntervalUntilU) {
  SensorConfig c = Rig::quiet();
  c.intervalMs = 50;
  Rig r(c);
  EXPECT_EQ(r.send("D\r\n"), "");
  const std::string out = r.run(500);
  int lines = 0;
  for (size_t p = 0; (p = out.find("\r", p)) != std::string::npos; ++p) ++lines;
  EXPECT_EQ(lines, 10);
  EXPECT_EQ(out.find('\n'), std::string::npos);  // data lines end in CR alone
  EXPECT_EQ(out[0], 'D');
  const std::string stop = r.send("U\r\n");
  EXPECT_EQ(stop.substr(0, 5), "U,ACK");
  EXPECT_EQ(r.run(500), "");
  EXPECT_FALSE(r.engine.nextDeadline());  // idle: nothing to wake up for
}

TEST(Stream, BothLayoutsHoldTheirColumnsAndDecodeAsNumbers) {
  for (Layout layout : {Layout::A, Layout::B}) {
    SensorConfig c = Rig::quiet();
    c.layout = layout;
    Rig r(c);
    r.send("D\r\n");
    const char name = layout == Layout::A ? 'A' : 'B';
    for (const std::string& l : r.dataLines(1000)) {
      ASSERT_LE(l.size() + 1, 128u);  // the host reads at most 128 characters
      std::string why;
      auto f = dataFields(l, name, why);
      ASSERT_TRUE(f) << why << ": " << l;
      for (int i : {0, 1, 2, 3, 4, 5, 8, 9, 10}) {
        double v;
        EXPECT_TRUE(toNumber((*f)[i], v)) << (*f)[i];
      }
      EXPECT_EQ(strip((*f)[6]), "1");
      EXPECT_EQ(strip((*f)[7]), "9");
    }
  }
}

TEST(Stream, KilowattSensorReportsScaleCodeTenAndKilowatts) {
  SensorConfig c = Rig::quiet();
  c.kilowatt = true;
  c.signal.forwardAvgW = 500;
  c.fullScaleW = 1500;
  Rig r(c);
  r.send("D\r\n");
  const std::string l = r.dataLines(100).at(0);
  EXPECT_EQ(strip(at(l, 78, 2)), "10");
  EXPECT_NEAR(field(l, 'A', 3), 0.5, 0.05);
}

TEST(Stream, SameSeedSameReadingsOtherSeedOthers) {
  SensorConfig c = Rig::quiet();
  Rig a(c), b(c);
  c.seed = 2;
  Rig other(c);
  for (Rig* r : {&a, &b, &other}) r->send("D\r\n");
  const auto la = a.dataLines(1000), lb = b.dataLines(1000), lo = other.dataLines(1000);
  EXPECT_EQ(la, lb);
  EXPECT_NE(la, lo);
  EXPECT_NE(la.front(), la.back());  // noise and drift move the readings
}

TEST(Zero, AnswersAfterTheConfiguredTimeWithTheConfiguredCode) {
  SensorConfig c = Rig::quiet();
  c.zeroTimeMs = 3000;
  c.zeroResult = "2";
  Rig r(c);
  r.send("D\r\n");
  r.run(250);
  EXPECT_EQ(r.send("Z\r\n"), "");
  EXPECT_TRUE(r.engine.zeroing());
  EXPECT_EQ(r.send("I\r\n"), "");  // busy
  EXPECT_EQ(r.run(2990), "");
  const std::string z = r.run(20);
  EXPECT_EQ(z.size(), 10u);  // the serial host reads exactly 10 bytes
  EXPECT_EQ(z[0], 'Z');
  EXPECT_EQ(zeroResultCode(z), "2");
  EXPECT_FALSE(r.engine.streaming());
}

TEST(Faults, StreamLineFaults) {
  {
    Rig r(Rig::quiet(), faults({"garbage,every=1"}));
    r.send("D\r\n");
    const std::string out = r.run(100);
    EXPECT_NE(out[0], 'D');
    EXPECT_NE(out.find("\r\nD,"), std::string::npos);
  }
  {
    Rig r(Rig::quiet(), faults({"truncate"}));
    r.send("D\r\n");
    const auto lines = r.dataLines(200);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_LT(lines[0].size(), 107u);
    EXPECT_EQ(lines[1].find(",,") + 1, 116u);  // once only
  }
  {
    Rig r(Rig::quiet(), faults({"layout"}));
    r.send("D\r\n");
    EXPECT_EQ(r.dataLines(100).at(0).find(",,") + 1, 117u);
  }
  {
    Rig r(Rig::quiet(), faults({"nan,field=3"}));
    r.send("D\r\n");
    std::string why;
    auto f = dataFields(r.dataLines(100).at(0), 'A', why);
    ASSERT_TRUE(f) << why;
    double v;
    EXPECT_FALSE(toNumber((*f)[2], v)) << (*f)[2];
    EXPECT_TRUE(toNumber((*f)[3], v));
  }
  {
    Rig r(Rig::quiet(), faults({"wrong-type,count=2"}));
    r.send(gCommand(4, 0, 4500, 11, 50));
    r.send("D\r\n");
    const auto lines = r.dataLines(300);
    EXPECT_EQ(field(lines.at(0), 'A', 7), 5);
    EXPECT_EQ(field(lines.at(1), 'A', 7), 5);
    EXPECT_EQ(field(lines.at(2), 'A', 7), 4);
  }
}

TEST(Faults, StallPausesTheStream) {
  Rig r(Rig::quiet(), faults({"stall,at=1000,for=700"}));
  r.send("D\r\n");
  EXPECT_EQ(r.dataLines(1000).size(), 9u);  // lines at 100..900 ms
  EXPECT_EQ(r.dataLines(600).size(), 0u);
  EXPECT_EQ(r.dataLines(400).size(), 4u);
}

TEST(Faults, SilenceAfterACommand) {
  Rig r(Rig::quiet(), faults({"silence,cmd=G,for=1000"}));
  r.send("D\r\n");
  EXPECT_TRUE(interrogationAccepted(r.send("I\r\n")));
  EXPECT_EQ(r.send(gCommand(2, 0, 4500, 11, 50)), "");
  EXPECT_EQ(r.run(999), "");
  EXPECT_FALSE(r.dataLines(200).empty());
  EXPECT_TRUE(settingsAcked(r.send(gCommand(2, 0, 4500, 11, 50))));
}

TEST(Faults, RefusalsOfFGivenTimes) {
  Rig r(Rig::quiet(), faults({"refuse-f,count=2"}));
  EXPECT_FALSE(calibrationAcked(r.send("F\r\n")));
  EXPECT_FALSE(calibrationAcked(r.send("F\r\n")));
  EXPECT_TRUE(calibrationAcked(r.send("F\r\n")));
}

TEST(Faults, UNotAnsweredKeepsStreaming) {
  Rig r(Rig::quiet(), faults({"no-u-reply,count=1"}));
  r.send("D\r\n");
  EXPECT_EQ(r.send("U\r\n"), "");
  EXPECT_FALSE(r.dataLines(200).empty());
  EXPECT_EQ(r.send("U\r\n").substr(0, 5), "U,ACK");
}

TEST(Faults, HangupAsksTheTransportToGoAway) {
  Rig r(Rig::quiet(), faults({"hangup,at=500,for=1500"}));
  r.run(499);
  EXPECT_FALSE(r.engine.takeHangup());
  r.run(1);
  auto h = r.engine.takeHangup();
  ASSERT_TRUE(h);
  EXPECT_EQ(h->count(), 1500);
  r.engine.powerDown();
  EXPECT_EQ(r.send("I\r\n"), "");  // nothing while gone
  r.engine.powerUp(r.t);
  EXPECT_TRUE(interrogationAccepted(r.send("I\r\n")));
  r.run(5000);
  EXPECT_FALSE(r.engine.takeHangup());  // once
}

TEST(Faults, RateFaultsRepeatWithTheSeed) {
  auto pattern = [](uint64_t seed) {
    SensorConfig c = Rig::quiet();
    c.seed = seed;
    Rig r(c, faults({"layout,rate=0.3"}));
    r.send("D\r\n");
    std::string p;
    for (const auto& l : r.dataLines(3000)) p += l.find(",,") == 115 ? '.' : 'x';
    return p;
  };
  const std::string a = pattern(7);
  EXPECT_EQ(a, pattern(7));
  EXPECT_NE(a, pattern(8));
  const auto hits = std::count(a.begin(), a.end(), 'x');
  EXPECT_GT(hits, 0);
  EXPECT_LT(hits, 30);
}

TEST(Faults, OnlyTheNamedSensor) {
  std::vector<FaultSpec> f = faults({"refuse-f,on=usb1,count=5"});
  Rig r(Rig::quiet(), f);  // named "serial"
  EXPECT_TRUE(calibrationAcked(r.send("F\r\n")));
}
