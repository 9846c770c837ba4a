#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

#include "MeterStream.h"
#include "StreamBytes.h"

using namespace zrq::meter;
using meter_test::StreamBytes;

namespace {

MeterProps forwardWindowProps(const std::string& caption, double textRadius) {
  MeterProps p;
  p.Caption = caption;
  p.ShadedAreaRelativeSize = 0;
  p.MinimumValue = 0;
  p.MaximumValue = 150;
  p.IndexThickness = 2;
  p.RedColor = p.YellowColor = p.GreenColor = OleColor{0xFFFFFF};
  p.ValueFormatString = "%.0f";
  p.InstrumentBackGroundColor = OleColor{0xFFFFFF};
  p.SmallScaleFont = FontDesc{"Arial", 67500, 700, 0, false, false, false};
  p.BottomCoverLabelFont = FontDesc{"Arial", 97500, 700, 0, false, false, false};
  p.RelativeTextRadius = textRadius;
  return p;
}

// A model in a state no stream below holds, to prove a refused load changes nothing.
MeterModel distinctModel() {
  MeterModel m;
  m.set(kCaption, std::string("untouched"));
  m.set(kValue, 33.0);
  m.set(kSmallScaleFont, FontDesc{"Courier", 90000, 400, 0, true, false, false});
  m.setExtent(1234, 567);
  m.setModified(true);
  return m;
}

void expectUnchanged(const MeterModel& m) {
  const MeterModel ref = distinctModel();
  EXPECT_EQ(m.props(), ref.props());
  EXPECT_EQ(m.extentX(), 1234);
  EXPECT_EQ(m.extentY(), 567);
}

}  // namespace

TEST(MeterStream, MeterWindowStatesLoadAsTheirTables) {
  struct Case {
    std::string caption;
    double radius;
  };
  for (const Case& c : {Case{"Average Power", 0.93}, Case{"Power", 0.94}}) {
    SCOPED_TRACE(c.caption);
    const StreamBytes s = meter_test::meterWindowState(c.caption, c.radius);
    MeterModel m;
    loadStream(m, s.b);
    EXPECT_EQ(m.props(), forwardWindowProps(c.caption, c.radius));
    EXPECT_EQ(m.extentX(), 6191);
    EXPECT_EQ(m.extentY(), 4101);
    EXPECT_FALSE(m.modified());
    EXPECT_TRUE(m.geometryDirty());
    // Saved again, the state is the same bytes.
    EXPECT_EQ(saveStream(m), s.b);
  }
}

TEST(MeterStream, FreshInstanceWritesTheDefaultsInPersistenceOrder) {
  StreamBytes s;
  s.header(2646, 1323, "");
  s.f64(0.1), s.f64(1.2), s.f64(0.2), s.f64(1.2), s.f64(0.06);
  s.u16(2), s.u16(1), s.u32(0), s.u16(10), s.u16(2);
  s.f64(1e-13), s.f64(100), s.f64(1), s.f64(0);
  s.u16(1), s.u32(0x0000FF), s.u32(0x0000FF), s.u32(0x00FFFF), s.u32(0x00FF00);
  s.text("%.1f"), s.f64(0.2), s.u32(0), s.u32(0xFFFFFF), s.u32(0xCFFFFF);
  s.font("Arial", 60000, 700), s.font("MS Sans Serif", 120000, 700);
  s.f64(1.1), s.f64(0.96), s.f64(60), s.f64(75), s.f64(90);
  s.picture();
  MeterModel m;
  EXPECT_EQ(saveStream(m), s.b);
}

TEST(MeterStream, EveryCutShortLengthIsRefusedOrEndsOnAnItem) {
  const StreamBytes s = meter_test::meterWindowState("Average Power", 0.93);
  const MeterProps full = forwardWindowProps("Average Power", 0.93);
  const std::vector<int>& order = persistenceOrder();
  ASSERT_EQ(s.itemEnds.size(), order.size());
  const size_t headerEnd = s.itemEnds.front() - 8;
  for (size_t len = 0; len < s.b.size(); ++len) {
    SCOPED_TRACE("length " + std::to_string(len));
    MeterModel m = distinctModel();
    const std::span<const uint8_t> cut(s.b.data(), len);
    size_t items = order.size() + 1;  // not a boundary
    if (len == headerEnd) items = 0;
    for (size_t k = 0; k < s.itemEnds.size(); ++k)
      if (s.itemEnds[k] == len) items = k + 1;
    if (items > order.size()) {
      EXPECT_THROW(loadStream(m, cut), StreamError);
      expectUnchanged(m);
      continue;
    }
    // Ends after a whole item: the missing ones take their defaults.
    ASSERT_NO_THROW(loadStream(m, cut));
    const MeterProps defaults;
    for (size_t k = 0; k < order.size(); ++k) {
      const PropInfo& info = *findProperty(order[k]);
      EXPECT_EQ(info.get(m.props()), info.get(k < items ? full : defaults)) << info.name;
    }
    EXPECT_EQ(m.props().Caption, "Average Power");
  }
}

TEST(MeterStream, LongStringsUseTheLongerPrefixBothWays) {
  for (size_t n :
       {size_t(254), size_t(255), size_t(300), size_t(0xFFFD), size_t(0xFFFE), size_t(70000)}) {
    SCOPED_TRACE(n);
    const std::string caption(n, 'c');
    StreamBytes s;
    s.header(10, 20, caption);
    MeterModel m;
    loadStream(m, s.b);
    EXPECT_EQ(m.props().Caption, caption);
    // The writer uses the same prefix.
    const std::vector<uint8_t> saved = saveStream(m);
    ASSERT_GE(saved.size(), s.b.size());
    EXPECT_TRUE(std::equal(s.b.begin(), s.b.end(), saved.begin()));
  }
  StreamBytes prefix;
  prefix.text(std::string(255, 'x'));
  EXPECT_EQ(prefix.b[0], 0xFF);
  EXPECT_EQ(prefix.b[1], 0xFF);
  EXPECT_EQ(prefix.b[2], 0x00);
}

TEST(MeterStream, WideCaptionIsReadAsUtf8) {
  StreamBytes s;
  s.u32(0x00010000), s.u32(1), s.u32(1), s.u32(2);
  s.u8(0xFF), s.u16(0xFFFE), s.u8(3);
  s.u16('W'), s.u16(0x00B5), s.u16(0x20AC);
  MeterModel m;
  loadStream(m, s.b);
  EXPECT_EQ(m.props().Caption, "W\xC2\xB5\xE2\x82\xAC");
}

TEST(MeterStream, FontStylesAndPicturesRoundTrip) {
  MeterModel m;
  m.set(kSmallScaleFont, FontDesc{"Liberation Serif", 112500, 400, 2, true, false, true});
  m.set(kBottomCoverLabelFont, FontDesc{"X", 1, 1000, 0, false, true, false});
  m.set(kBackgroundImage, Picture{{1, 2, 3, 4, 5}});
  m.set(kCaption, std::string("caption"));
  const std::vector<uint8_t> bytes = saveStream(m);

  StreamBytes font;
  font.font("Liberation Serif", 112500, 400, 0x02 | 0x08, 2);
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), font.b.begin(), font.b.end()), bytes.end());
  StreamBytes pic;
  pic.picture({1, 2, 3, 4, 5});
  EXPECT_TRUE(std::equal(pic.b.rbegin(), pic.b.rend(), bytes.rbegin()));

  MeterModel back;
  loadStream(back, bytes);
  EXPECT_EQ(back.props(), m.props());
  EXPECT_EQ(back.props().BottomCoverLabelFont.underline, true);
}

TEST(MeterStream, MalformedStreamsAreRefusedWithAReason) {
  const std::vector<uint8_t> good = meter_test::meterWindowState("Power", 0.94).b;
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> spoil;
    const char* mentions;
  };
  const size_t fontAt = [&] {
    StreamBytes id;
    id.stdClassId(0x03);
    return size_t(std::search(good.begin(), good.end(), id.b.begin(), id.b.end()) - good.begin()) -
           1;
  }();
  const size_t pictureAt = good.size() - 23;
  const std::vector<Case> cases = {
      {"version", [](auto& b) { b[2] = 2; }, "version"},
      {"stock mask", [](auto& b) { b[12] |= 0x01; }, "stock"},
      {"negative extent", [](auto& b) { b[7] = 0x80; }, "extent"},
      {"font marker", [&](auto& b) { b[fontAt] = 1; }, "SmallScaleFont"},
      {"font class", [&](auto& b) { b[fontAt + 1] ^= 1; }, "class identifier"},
      {"font version", [&](auto& b) { b[fontAt + 17] = 2; }, "version"},
      {"picture class", [&](auto& b) { b[pictureAt + 16] ^= 0xFF; }, "BackgroundImage"},
      {"picture tag", [&](auto& b) { b[pictureAt + 17] = 0; }, "tag"},
      {"picture size", [&](auto& b) { b[pictureAt + 22] = 0x7F; }, "cut short"},
      {"trailing byte", [](auto& b) { b.push_back(0); }, "after the last"},
      {"empty", [](auto& b) { b.clear(); }, "cut short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = good;
    c.spoil(bytes);
    MeterModel m = distinctModel();
    try {
      loadStream(m, bytes);
      ADD_FAILURE() << "accepted";
    } catch (const StreamError& e) {
      EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
    }
    expectUnchanged(m);
  }
}

TEST(MeterStream, CommittedMeterWindowFilesHoldTheWindowsStates) {
  const char* src = std::getenv("ZRQ_SOURCE_DIR");
  ASSERT_NE(src, nullptr);
  struct Case {
    const char* file;
    const char* caption;
    double radius;
  };
  for (const Case& c : {Case{"frmMeter.ControlData", "Average Power", 0.93},
                        Case{"frmRflMeter.ControlData", "Power", 0.94}}) {
    SCOPED_TRACE(c.file);
    std::ifstream in(std::string(src) + "/app/main/auxwin/" + c.file, std::ios::binary);
    ASSERT_TRUE(in);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, meter_test::meterWindowState(c.caption, c.radius).b);
  }
}
