#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "LabelFormat.h"
#include "MeterGeometry.h"

using namespace zrq::meter;

namespace {

constexpr double kDegPerRad = 180.0 / 3.14159265358979;

// A fixed-pitch stand-in for a font: 6 pixels a character, 10 high.
TextSize fixedPitch(const std::string& s) { return {int(s.size()) * 6, 10}; }

MeterGeometry build(const MeterProps& p, int W = 234, int H = 155) {
  MeterGeometry g;
  buildGeometry(g, p, W, H, fixedPitch);
  return g;
}

double angleOf(const MeterGeometry& g, double x, double y) {
  return std::atan2(g.cy - y, x - g.cx);
}

// Where the needle from the centre to the tip crosses row L, truncated toward zero.
int crossing(int cx, int cy, int tipX, int tipY, int L) {
  return static_cast<int>(std::trunc(cx + double(tipX - cx) * (L - cy) / double(tipY - cy)));
}

}  // namespace

TEST(MeterGeometry, MeterWindowSizeGivesTheDocumentedScale) {
  const MeterGeometry g = build(MeterProps{});
  EXPECT_EQ(g.small, 155);
  EXPECT_EQ(g.large, 234);
  EXPECT_EQ(g.cx, 117);
  EXPECT_EQ(g.cy, 171);
  EXPECT_FLOAT_EQ(g.R, 140.4f);
  EXPECT_FLOAT_EQ(g.R_major, float(1.2 * 1.06 * 234 * 0.5));
  EXPECT_FLOAT_EQ(g.R_minor, float(1.2 * (0.06 * 0.65 + 1) * 234 * 0.5));
  EXPECT_FLOAT_EQ(g.R_text, float(1.2 * 234 * 0.96 * 0.5));
  EXPECT_FLOAT_EQ(g.R_needle, float(1.2 * 234 * 1.1 * 0.5));
  EXPECT_EQ(g.coverTop, 124);
  EXPECT_NEAR(g.sweep * kDegPerRad, 78.8, 0.05);
  EXPECT_NEAR(g.thetaStart * kDegPerRad, 129.4, 0.05);
  EXPECT_NEAR(g.thetaEnd * kDegPerRad, 50.6, 0.05);
  // The scale arcs end on the radials through the visible segment's ends on the top edge.
  EXPECT_NEAR(g.arcStartDeg, std::atan2(171.0, 257 - 117.0) * kDegPerRad, 1e-6);
  EXPECT_NEAR(g.arcStartDeg + g.arcSpanDeg, std::atan2(171.0, -23 - 117.0) * kDegPerRad, 1e-6);
}

TEST(MeterGeometry, TicksAndLabelsSpanTheScale) {
  const MeterGeometry g = build(MeterProps{});
  ASSERT_EQ(g.minor.size(), 21u);
  ASSERT_EQ(g.major.size(), 11u);
  ASSERT_EQ(g.labelText.size(), 11u);
  for (size_t j = 0; j < 11; ++j) {
    SCOPED_TRACE(j);
    char want[16];
    std::snprintf(want, sizeof want, "%.1f", 10.0 * j);
    EXPECT_EQ(g.labelText[j], want);
    const double expectAngle = g.thetaStart - j * g.sweep / 10.0;
    EXPECT_NEAR(angleOf(g, g.major.innerX[j], g.major.innerY[j]), expectAngle, 1e-5);
    EXPECT_NEAR(std::hypot(g.major.innerX[j] - g.cx, g.major.innerY[j] - g.cy), g.R, 1e-3);
    EXPECT_NEAR(std::hypot(g.major.outerX[j] - g.cx, g.major.outerY[j] - g.cy), g.R_major, 1e-3);
    // The label's centre (halves truncated) lies on the label circle.
    const TextSize ts = fixedPitch(g.labelText[j]);
    EXPECT_NEAR(std::hypot(g.labelX[j] + ts.w / 2 - g.cx, g.labelY[j] + ts.h / 2 - g.cy), g.R_text,
                1e-3);
  }
  for (size_t i = 0; i < 21; ++i)
    EXPECT_NEAR(std::hypot(g.minor.outerX[i] - g.cx, g.minor.outerY[i] - g.cy), g.R_minor, 1e-3);
  EXPECT_NEAR(angleOf(g, g.minor.outerX[20], g.minor.outerY[20]), g.thetaEnd, 1e-5);
}

TEST(MeterGeometry, NeedleEndPointsBelowAtInsideAndBeyondTheScale) {
  MeterProps p;
  p.MinimumValue = 0;
  const MeterGeometry g = build(p);
  const float Rn = g.R_needle;
  auto tip = [&](double theta) {
    return std::pair<int, int>{int(std::trunc(std::cos(theta) * Rn + g.cx)),
                               int(std::trunc(g.cy - std::sin(theta) * Rn))};
  };
  struct Case {
    double value;
    double theta;
  };
  const double start = g.thetaStart, end = (3.1415926535 - g.sweep) / 2;
  for (const Case& c : {Case{-20, start}, Case{0, start}, Case{25, start - g.sweep * 0.25},
                        Case{50, start - g.sweep * 0.5}, Case{100, end}, Case{1e9, end}}) {
    SCOPED_TRACE(c.value);
    p.Value = c.value;
    const NeedleLine n = needleLine(g, p);
    const auto [tx, ty] = tip(c.theta);
    ASSERT_TRUE(n.visible);
    EXPECT_EQ(n.x1, tx);
    EXPECT_EQ(n.y1, ty);
    // The centre lies under the cover: the needle starts where it crosses the cover's top row.
    EXPECT_EQ(n.y0, 123);
    EXPECT_EQ(n.x0, crossing(g.cx, g.cy, tx, ty, 123));
  }
  p.Value = 0;
  const NeedleLine left = needleLine(g, p);
  EXPECT_EQ(left.x1, 18);
  EXPECT_EQ(left.y1, 51);
  EXPECT_EQ(left.x0, 77);
  p.Value = 50;
  const NeedleLine up = needleLine(g, p);
  EXPECT_NEAR(up.x1, 117, 1);
  EXPECT_EQ(up.y1, 16);
}

TEST(MeterGeometry, CoverHidesANeedleThatLiesUnderItAndACentreAboveItIsTheBase) {
  MeterProps p;
  p.RelativeIndexLength = 0.3;  // tip at about row 129, under the cover from row 124
  const MeterGeometry g = build(p);
  p.Value = 50;
  EXPECT_FALSE(needleLine(g, p).visible);

  MeterProps high;
  high.ScaledCircleRelativeShifting = -0.5;  // centre well above the cover
  high.ScaledCircleRelativeDiameter = 0.4;
  high.Value = 50;
  const MeterGeometry h = build(high);
  ASSERT_LE(h.cy, h.coverTop - 1);
  const NeedleLine n = needleLine(h, high);
  ASSERT_TRUE(n.visible);
  EXPECT_EQ(n.x0, h.cx);
  EXPECT_EQ(n.y0, h.cy);
}

TEST(MeterGeometry, BandsCoverTheirStartUpToTheMaximum) {
  MeterProps p;
  const MeterGeometry g = build(p);
  ASSERT_EQ(g.bands.size(), 3u);
  for (const BandArc& b : g.bands) {
    SCOPED_TRACE(b.band);
    const double start = b.band == 0 ? 60 : b.band == 1 ? 75 : 90;
    EXPECT_NEAR(b.startDeg, g.thetaEnd * kDegPerRad, 1e-6);
    const double expectTheta =
        g.thetaStart - (start - p.MinimumValue) / (100 - p.MinimumValue) * g.sweep;
    EXPECT_NEAR((b.startDeg + b.spanDeg) / kDegPerRad, expectTheta, 1e-6);
  }
  ASSERT_FALSE(g.bandRings.empty());
  EXPECT_FLOAT_EQ(g.bandRings.front(), g.R);
  EXPECT_LE(g.bandRings.back(), g.R_major);
  EXPECT_GT(g.bandRings.back() + 2, g.R_major);

  p.RedStartValue = 100;  // equal to the maximum: not drawn
  EXPECT_EQ(build(p).bands.size(), 2u);
  MeterModel m;
  m.set(kMaximumValue, 50.0);
  EXPECT_TRUE(build(m.props()).bands.empty());
}

TEST(MeterGeometry, UnusableScalesDrawNoTicksLabelsOrBandsAndRestTheNeedleAtTheStart) {
  struct Case {
    const char* what;
    std::function<void(MeterProps&)> spoil;
  };
  const double nan = std::nan(""), inf = double(INFINITY);
  const std::vector<Case> cases = {
      {"zero span", [](MeterProps& p) { p.MinimumValue = p.MaximumValue = 100; }},
      {"no divisions", [](MeterProps& p) { p.NumberOfDivisions = 0; }},
      {"negative subdivisions", [](MeterProps& p) { p.NumberOfSubdivisions = -1; }},
      {"NaN minimum", [&](MeterProps& p) { p.MinimumValue = nan; }},
      {"infinite maximum", [&](MeterProps& p) { p.MaximumValue = inf; }},
      {"overflowing span",
       [](MeterProps& p) {
         p.MinimumValue = -1e308;
         p.MaximumValue = 1e308;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MeterProps p;
    c.spoil(p);
    p.Value = 50;
    const MeterGeometry g = build(p);
    EXPECT_FALSE(g.scaleUsable);
    EXPECT_EQ(g.minor.size() + g.major.size() + g.labelText.size() + g.bands.size(), 0u);
    EXPECT_EQ(needleAngle(g, p), g.thetaStart);
  }
  MeterProps p;
  const MeterGeometry g = build(p);
  for (double v : {nan, inf, -inf}) {
    p.Value = v;
    EXPECT_EQ(needleAngle(g, p), g.thetaStart) << v;
  }
}

TEST(MeterGeometry, AZeroDivisionNeverPrintsAsMinusZero) {
  MeterProps p;
  p.MinimumValue = -100;
  p.MaximumValue = 0;
  p.ValueFormatString = "%.0f";
  const MeterGeometry g = build(p);
  EXPECT_EQ(g.labelText.front(), "-100");
  EXPECT_EQ(g.labelText[5], "-50");
  EXPECT_EQ(g.labelText.back(), "0");
}

TEST(MeterGeometry, OneDivisionBelowTheMinimumStillRestsAtTheStart) {
  MeterProps p;
  p.NumberOfDivisions = 1;
  p.Value = -5;
  const MeterGeometry g = build(p);
  EXPECT_EQ(needleAngle(g, p), g.thetaStart);
}

TEST(MeterGeometry, DrawnTicksStayBoundedForHugeDivisionCounts) {
  MeterProps p;
  p.NumberOfDivisions = 32767;
  p.NumberOfSubdivisions = 32767;
  p.ScaleRelativeWidth = 1e12;
  const auto t0 = std::chrono::steady_clock::now();
  MeterGeometry g = build(p);
  EXPECT_LE(g.major.size(), size_t(kMaxDivisions + 1));
  EXPECT_LE(g.minor.size(), size_t(kMaxMinorTicks + 1));
  EXPECT_LE(g.bandRings.size(), size_t(kMaxBandRings));
  p.NumberOfDivisions = 1000;
  p.NumberOfSubdivisions = 20;
  g = build(p);
  EXPECT_EQ(g.major.size(), 1001u);
  EXPECT_EQ(g.minor.size(), 20001u);
  // Generous: the cap is what keeps this from running for minutes.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
}

TEST(MeterGeometry, NonFiniteShapePropertiesGiveDefinedPixels) {
  for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY), 1e300}) {
    SCOPED_TRACE(bad);
    MeterProps p;
    p.ScaledCircleRelativeDiameter = bad;
    p.BottomCoverRelativeHeight = bad;
    p.Value = 50;
    const MeterGeometry g = build(p);
    const NeedleLine n = needleLine(g, p);
    EXPECT_LE(std::abs(n.x0), 1 << 30);
    EXPECT_LE(std::abs(n.y1), 1 << 30);
  }
}

TEST(MeterGeometry, CacheRebuildsOnlyForTheRectangleOrAGeometryProperty) {
  MeterModel m;
  GeometryCache cache;
  int measured = 0;
  const MeasureText measure = [&](const std::string& s) {
    ++measured;
    return fixedPitch(s);
  };
  cache.get(m, 234, 155, measure);
  cache.get(m, 234, 155, measure);
  EXPECT_EQ(cache.rebuilds(), 1);
  EXPECT_EQ(measured, 11);
  m.setValue(50);
  m.set(kIndexColor, OleColor{0xFF0000});
  m.set(kSmallScaleFont, FontDesc{"Courier", 100000, 400, 0, false, false, false});
  cache.get(m, 234, 155, measure);
  EXPECT_EQ(cache.rebuilds(), 1);
  m.set(kValueFormatString, std::string("%.0f"));
  EXPECT_EQ(cache.get(m, 234, 155, measure).labelText.back(), "100");
  EXPECT_EQ(cache.rebuilds(), 2);
  EXPECT_FALSE(m.geometryDirty());
  cache.get(m, 300, 155, measure);
  EXPECT_EQ(cache.rebuilds(), 3);
}
