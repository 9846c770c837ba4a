#include <gtest/gtest.h>

#include <QBuffer>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <cmath>

#include "DialixHQCtrl.h"
#include "StreamBytes.h"
#include "WidgetTestSupport.h"

using namespace zrq::meter;
using meter_test::at;
using meter_test::rgb;

namespace {

class MeterRender : public ::testing::Test {
 protected:
  void SetUp() override {
    meter_test::ensureApplication();
    ctrl.resize(234, 155);
  }
  // The point at radius r and angle theta of the control's current geometry.
  QPoint polar(double r, double theta) {
    const MeterGeometry& g = ctrl.geometry();
    return QPoint(int(std::trunc(g.cx + r * std::cos(theta))),
                  int(std::trunc(g.cy - r * std::sin(theta))));
  }
  double angleOf(double value) {
    const MeterGeometry& g = ctrl.geometry();
    const MeterProps& p = ctrl.model().props();
    return g.thetaStart - (value - p.MinimumValue) / (p.MaximumValue - p.MinimumValue) * g.sweep;
  }
  // Mid points of the needle's visible line.
  std::vector<QPoint> needlePoints() {
    const NeedleLine n = needleLine(ctrl.geometry(), ctrl.model().props());
    EXPECT_TRUE(n.visible);
    std::vector<QPoint> pts;
    for (double t : {0.25, 0.5, 0.75})
      pts.emplace_back(int(std::lround(n.x0 + t * (n.x1 - n.x0))),
                       int(std::lround(n.y0 + t * (n.y1 - n.y0))));
    return pts;
  }
  static bool isBlue(const QColor& c) { return c.blue() > 180 && c.red() < 90 && c.green() < 90; }

  struct App {
    App() { meter_test::ensureApplication(); }
  } app;  // before the control: a widget needs the application
  CDialixHQCtrl ctrl;
};

const QColor kBackground(255, 255, 207);

}  // namespace

TEST_F(MeterRender, BackgroundBevelAndCoverAtBothPixelRatios) {
  for (qreal dpr : {1.0, 2.0}) {
    SCOPED_TRACE(dpr);
    const QImage img = ctrl.renderImage(dpr);
    ASSERT_EQ(img.size(), QSize(int(234 * dpr), int(155 * dpr)));
    EXPECT_EQ(at(img, 117, 90), kBackground) << rgb(at(img, 117, 90));
    // Left and top edges: black at the border towards the background, N = 15.
    EXPECT_EQ(at(img, 0, 60), QColor(0, 0, 0));
    EXPECT_EQ(at(img, 7, 60), QColor(255 * 7 / 15, 255 * 7 / 15, 207 * 7 / 15));
    EXPECT_EQ(at(img, 60, 3), QColor(51, 51, 41));
    // Right edge: white at the border towards the background.
    EXPECT_EQ(at(img, 233, 60), QColor(255, 255, int(48 * (1 - 1 / 15.0) + 207)));
    EXPECT_EQ(at(img, 230, 60), QColor(255, 255, int(48 * (1 - 4 / 15.0) + 207)));
    // The cover from row 124 down, over the bevel.
    EXPECT_EQ(at(img, 117, 123).blue() > 100, true);
    for (QPoint p : {QPoint(2, 124), QPoint(117, 150), QPoint(231, 154)})
      EXPECT_EQ(at(img, p.x(), p.y()), QColor(0, 0, 0));
  }
  ctrl.setProp(kShadedAreaRelativeSize, 0.0);
  ctrl.setProp(kBottomCoverColor, OleColor{0x00FF00});
  const QImage flat = ctrl.renderImage();
  EXPECT_EQ(at(flat, 0, 60), kBackground);
  EXPECT_EQ(at(flat, 233, 60), kBackground);
  EXPECT_EQ(at(flat, 117, 150), QColor(0, 255, 0));
}

TEST_F(MeterRender, NeedleFollowsTheValueWithoutRebuildingTheLayer) {
  ctrl.setProp(kIndexThickness, int16_t(3));
  ctrl.setProp(kIndexColor, OleColor{0xFF0000});
  ctrl.setProp(kValue, 50.0);
  QImage img = ctrl.renderImage();
  const std::vector<QPoint> upright = needlePoints();
  for (QPoint p : upright) EXPECT_TRUE(isBlue(at(img, p.x(), p.y()))) << rgb(at(img, p.x(), p.y()));
  EXPECT_EQ(at(img, 117 - 8, 60), kBackground);
  const int layers = ctrl.layerRebuilds(), geometries = ctrl.geometryRebuilds();

  ctrl.setProp(kValue, 25.0);
  img = ctrl.renderImage();
  for (QPoint p : needlePoints())
    EXPECT_TRUE(isBlue(at(img, p.x(), p.y()))) << rgb(at(img, p.x(), p.y()));
  for (QPoint p : upright)
    EXPECT_EQ(at(img, p.x(), p.y()), kBackground) << rgb(at(img, p.x(), p.y()));
  EXPECT_EQ(ctrl.layerRebuilds(), layers);
  EXPECT_EQ(ctrl.geometryRebuilds(), geometries);

  // The same at a device pixel ratio of 2.
  img = ctrl.renderImage(2.0);
  for (QPoint p : needlePoints())
    EXPECT_TRUE(isBlue(at(img, p.x(), p.y()))) << rgb(at(img, p.x(), p.y()));
}

TEST_F(MeterRender, MovedNeedleLeavesNoTraceBehind) {
  ctrl.setProp(kIndexThickness, int16_t(4));
  for (qreal dpr : {1.0, 2.0}) {
    for (double v : {50.0, 3.0, 97.0, 20.0, 64.0, -10.0, 150.0, 49.0}) {
      SCOPED_TRACE(std::to_string(dpr) + " " + std::to_string(v));
      ctrl.setProp(kValue, v);
      const QImage moved = ctrl.renderImage(dpr);
      CDialixHQCtrl fresh;
      fresh.resize(234, 155);
      fresh.setProp(kIndexThickness, int16_t(4));
      fresh.setProp(kValue, v);
      EXPECT_TRUE(moved == fresh.renderImage(dpr));
    }
  }
}

TEST_F(MeterRender, CoverClipsTheNeedleAndHidesOneUnderIt) {
  ctrl.setProp(kIndexThickness, int16_t(5));
  ctrl.setProp(kIndexColor, OleColor{0xFF0000});
  ctrl.setProp(kValue, 10.0);
  QImage img = ctrl.renderImage();
  const NeedleLine n = needleLine(ctrl.geometry(), ctrl.model().props());
  ASSERT_TRUE(n.visible);
  EXPECT_EQ(n.y0, 123);
  EXPECT_TRUE(isBlue(at(img, n.x0, 121))) << rgb(at(img, n.x0, 121));
  // Below the cover's top row the thick pen leaves nothing.
  for (int dx = -4; dx <= 4; ++dx)
    for (int y = 124; y < 130; ++y)
      EXPECT_EQ(at(img, n.x0 + dx, y), QColor(0, 0, 0)) << dx << "," << y;

  ctrl.setProp(kRelativeIndexLength, 0.3);
  ctrl.setProp(kValue, 50.0);
  img = ctrl.renderImage();
  EXPECT_FALSE(needleLine(ctrl.geometry(), ctrl.model().props()).visible);
  for (int y = 100; y < 124; ++y) EXPECT_FALSE(isBlue(at(img, 117, y))) << y;
}

TEST_F(MeterRender, BandsShowFromTheirStartAndVanishWhenClamped) {
  // Between ticks (every 5) and rings: the band's own colour, give or take the arcs' smoothing.
  auto near = [](const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
           std::abs(a.blue() - b.blue()) < 40;
  };
  QImage img = ctrl.renderImage();
  const float mid = ctrl.geometry().R + 4;
  struct Case {
    double value;
    QColor colour;
  };
  for (const Case& c :
       {Case{92.5 + 0.6, QColor(255, 0, 0)}, Case{82.5, QColor(255, 255, 0)},
        Case{67.5, QColor(0, 255, 0)}, Case{47.5, kBackground}, Case{57.5, kBackground}}) {
    const QPoint p = polar(mid, angleOf(c.value));
    EXPECT_TRUE(near(at(img, p.x(), p.y()), c.colour))
        << c.value << ": " << rgb(at(img, p.x(), p.y()));
  }
  ctrl.setProp(kMaximumValue, 50.0);
  img = ctrl.renderImage();
  for (double v : {42.0, 47.0}) {
    const QPoint p = polar(mid, angleOf(v));
    EXPECT_EQ(at(img, p.x(), p.y()), kBackground) << v << ": " << rgb(at(img, p.x(), p.y()));
  }
}

TEST_F(MeterRender, OnlyGeometryWritesRebuildTheGeometryAndValueAloneKeepsTheLayer) {
  ctrl.renderImage();
  ctrl.renderImage();
  EXPECT_EQ(ctrl.layerRebuilds(), 1);
  EXPECT_EQ(ctrl.geometryRebuilds(), 1);
  ctrl.StepIt();
  ctrl.renderImage();
  EXPECT_EQ(ctrl.layerRebuilds(), 1);
  ctrl.setProp(kBottomCoverColor, OleColor{0x808080});
  ctrl.renderImage();
  EXPECT_EQ(ctrl.layerRebuilds(), 2);
  EXPECT_EQ(ctrl.geometryRebuilds(), 1);
  ctrl.setProp(kValueFormatString, std::string("%.0f"));
  ctrl.renderImage();
  EXPECT_EQ(ctrl.geometryRebuilds(), 2);
  EXPECT_EQ(ctrl.geometry().labelText.back(), "100");
  ctrl.resize(300, 200);
  ctrl.renderImage();
  EXPECT_EQ(ctrl.geometryRebuilds(), 3);
}

TEST_F(MeterRender, DesignModeRestsTheNeedleAtTheMinimum) {
  ctrl.setProp(kIndexThickness, int16_t(3));
  ctrl.setProp(kIndexColor, OleColor{0xFF0000});
  ctrl.setProp(kValue, 50.0);
  ctrl.setDesignMode(true);
  const QImage img = ctrl.renderImage();
  EXPECT_EQ(std::get<double>(ctrl.getProp(kValue)), 1e-13);
  EXPECT_EQ(needleAngle(ctrl.geometry(), ctrl.model().props()), ctrl.geometry().thetaStart);
  EXPECT_EQ(at(img, 117, 60), kBackground);
  for (QPoint p : needlePoints()) EXPECT_TRUE(isBlue(at(img, p.x(), p.y())));
}

TEST_F(MeterRender, PictureFillsTheInsetRectangle) {
  QImage blue(8, 8, QImage::Format_RGB32);
  blue.fill(QColor(0, 0, 255));
  QByteArray png;
  QBuffer buf(&png);
  buf.open(QIODevice::WriteOnly);
  blue.save(&buf, "PNG");
  ctrl.setProp(kBackgroundImage, Picture{std::vector<uint8_t>(png.begin(), png.end())});
  const QImage img = ctrl.renderImage();
  EXPECT_EQ(at(img, 117, 90), QColor(0, 0, 255));
  EXPECT_EQ(at(img, 16, 60), QColor(0, 0, 255));
  EXPECT_EQ(at(img, 7, 60), QColor(119, 119, 96));  // the bevel is drawn over it
  // Bytes that are no picture draw nothing.
  ctrl.setProp(kBackgroundImage, Picture{{1, 2, 3}});
  EXPECT_EQ(at(ctrl.renderImage(), 117, 90), kBackground);
}

TEST_F(MeterRender, UnusableScalesStillDrawAndRestTheNeedleAtTheStart) {
  ctrl.setProp(kIndexThickness, int16_t(3));
  ctrl.setProp(kIndexColor, OleColor{0xFF0000});
  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"zero span", [&] { ctrl.setProp(kMaximumValue, 1e-13); }},
      {"no divisions", [&] { ctrl.setProp(kNumberOfDivisions, int16_t(0)); }},
      {"no subdivisions", [&] { ctrl.setProp(kNumberOfSubdivisions, int16_t(-4)); }},
      {"NaN value", [&] { ctrl.setProp(kValue, std::nan("")); }},
      {"infinite minimum", [&] { ctrl.setProp(kMinimumValue, -double(INFINITY)); }},
      {"bad format", [&] { ctrl.setProp(kValueFormatString, std::string("%s%n")); }},
  };
  for (const auto& [what, spoil] : cases) {
    SCOPED_TRACE(what);
    ctrl.resetState();
    ctrl.setProp(kIndexThickness, int16_t(3));
    ctrl.setProp(kIndexColor, OleColor{0xFF0000});
    ctrl.setProp(kValue, 50.0);
    spoil();
    const QImage img = ctrl.renderImage();
    const double theta = needleAngle(ctrl.geometry(), ctrl.model().props());
    if (std::string(what) == "bad format") {
      EXPECT_EQ(ctrl.geometry().labelText.front(), "0.0");
      continue;
    }
    EXPECT_EQ(theta, ctrl.geometry().thetaStart);
    EXPECT_EQ(at(img, 117, 60), kBackground) << rgb(at(img, 117, 60));
  }
}

TEST_F(MeterRender, HugeCountsAndWidthsDrawABoundedPicture) {
  ctrl.setProp(kNumberOfDivisions, int16_t(32767));
  ctrl.setProp(kNumberOfSubdivisions, int16_t(32767));
  ctrl.setProp(kScaleRelativeWidth, 1e9);
  ctrl.setProp(kScaleThickLineWidth, int16_t(-5));
  ctrl.setProp(kShadedAreaRelativeSize, 1e6);
  ctrl.setProp(kValue, 50.0);
  const QImage img = ctrl.renderImage();
  EXPECT_EQ(img.size(), QSize(234, 155));
  EXPECT_TRUE(ctrl.geometry().major.size() == 0 && ctrl.geometry().minor.size() == 0);
  EXPECT_LE(ctrl.geometry().bandRings.size(), size_t(kMaxBandRings));
  EXPECT_NEAR(needleAngle(ctrl.geometry(), ctrl.model().props()), 3.1415926535 / 2, 1e-6);
}

TEST_F(MeterRender, ShownWidgetPaintsTheSamePicture) {
  ctrl.setProp(kValue, 30.0);
  ctrl.setProp(kCaption, std::string("Average Power"));
  const QImage direct = ctrl.renderImage();
  ctrl.show();
  const QImage shown = ctrl.grab().toImage();
  ASSERT_EQ(shown.size(), direct.size());
  int differing = 0;
  for (int y = 0; y < 155; ++y)
    for (int x = 0; x < 234; ++x) differing += shown.pixelColor(x, y) != direct.pixelColor(x, y);
  EXPECT_EQ(differing, 0);
}

TEST_F(MeterRender, PicturesOfSomeStatesForTheRecord) {
  auto save = [](const QImage& img, const char* name) {
    EXPECT_TRUE(img.save(meter_test::artefact(name)));
  };
  ctrl.setProp(kValue, 42.0);
  ctrl.setProp(kCaption, std::string("Default"));
  save(ctrl.renderImage(), "meter-default.png");
  save(ctrl.renderImage(2.0), "meter-default-dpr2.png");

  const meter_test::StreamBytes fwd = meter_test::meterWindowState("Average Power", 0.93);
  ctrl.loadState(fwd.b);
  EXPECT_EQ(ctrl.size(), QSize(234, 155));
  ctrl.setProp(kValue, 120.0);
  save(ctrl.renderImage(), "meter-forward.png");

  ctrl.setPropText("Caption", "Rho");
  ctrl.setPropText("MaximumValue", "1");
  ctrl.setPropText("ValueFormatString", "%.1f");
  ctrl.setPropText("Value", "0.2");
  save(ctrl.renderImage(), "meter-rho.png");
  EXPECT_EQ(ctrl.geometry().labelText.back(), "1.0");

  ctrl.setPropText("Caption", "Return Loss");
  ctrl.setPropText("MinimumValue", "-100");
  ctrl.setPropText("MaximumValue", "0");
  ctrl.setPropText("ValueFormatString", "%.0f");
  ctrl.setPropText("Value", "-20");
  save(ctrl.renderImage(), "meter-return-loss.png");
  EXPECT_EQ(ctrl.geometry().labelText.front(), "-100");
}

TEST_F(MeterRender, AValueRepaintsOnlyWhereTheNeedleWasAndGoes) {
  ctrl.setProp(kValue, 20.0);
  ctrl.show();
  QApplication::processEvents();
  struct Paints : QObject {
    QRegion region;
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) {
        region += static_cast<QPaintEvent*>(e)->region();
        ++count;
      }
      return false;
    }
  } paints;
  ctrl.installEventFilter(&paints);
  ctrl.setProp(kValue, 20.0);
  QApplication::processEvents();
  EXPECT_EQ(paints.count, 0);

  ctrl.setProp(kValue, 70.0);
  QApplication::processEvents();
  ASSERT_EQ(paints.count, 1);
  const QRect painted = paints.region.boundingRect();
  EXPECT_LT(painted.width() * painted.height(), ctrl.width() * ctrl.height() / 2);
  for (const QPoint& p : needlePoints()) EXPECT_TRUE(painted.contains(p));
  // What reached the screen is the picture drawn afresh: no old needle left.
  const QImage screen = ctrl.screen()->grabWindow(ctrl.winId()).toImage();
  const QImage fresh = ctrl.renderImage();
  ASSERT_EQ(screen.size(), fresh.size());
  int differing = 0;
  for (int y = 0; y < fresh.height(); ++y)
    for (int x = 0; x < fresh.width(); ++x)
      differing += screen.pixelColor(x, y) != fresh.pixelColor(x, y);
  EXPECT_EQ(differing, 0);
}
