// The meter's scale geometry, free of Qt: a pure function of the properties,
// the drawing rectangle and a text measure, with 32-bit floats and truncation
// toward zero where the drawing rules have them. Angles count counterclockwise
// from the positive x axis with y up; a point at radius r and angle t is at
// x = cx + r cos t, y = cy - r sin t.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MeterProperties.h"

namespace zrq::meter {

inline constexpr double kPi = 3.1415926535;
// Bounds on what is drawn, so a short's worth of divisions times
// subdivisions or a huge relative width cannot eat memory or time.
inline constexpr int kMaxDivisions = 1000;
inline constexpr int kMaxMinorTicks = 20000;
inline constexpr int kMaxBandRings = 512;

struct TextSize {
  int w = 0, h = 0;
};
using MeasureText = std::function<TextSize(const std::string&)>;

struct TickPoints {
  std::vector<float> innerX, innerY, outerX, outerY;
  size_t size() const { return innerX.size(); }
  void clear() {
    innerX.clear();
    innerY.clear();
    outerX.clear();
    outerY.clear();
  }
};

struct BandArc {
  int band = 0;         // 0 green, 1 yellow, 2 red
  double startDeg = 0;  // at the scale end
  double spanDeg = 0;   // counterclockwise, to the band's start value
};

struct MeterGeometry {
  int left = 0, top = 0, right = 0, bottom = 0;
  int small = 0, large = 0, cx = 0, cy = 0;
  float R = 0, R_major = 0, R_minor = 0, R_text = 0, R_needle = 0;
  int coverTop = 0;
  float sweep = 0;
  float thetaStart = 0;  // left end of the scale
  double thetaEnd = 0;   // right end
  // False for an empty or unusable scale (zero or non-finite span, fewer
  // than one division or subdivision): no ticks, labels or bands, needle at
  // the start.
  bool scaleUsable = false;
  TickPoints minor, major;
  std::vector<std::string> labelText;
  std::vector<float> labelX, labelY;
  // The two scale arcs (radius R and R_major): counterclockwise, degrees.
  double arcStartDeg = 0, arcSpanDeg = 0;
  std::vector<BandArc> bands;    // in drawing order
  std::vector<float> bandRings;  // radii R, R + 2, ... up to R_major
};

// Rebuilds g in place (its arrays keep their capacity) for the rectangle
// (0, 0, W, H).
void buildGeometry(MeterGeometry& g, const MeterProps& p, int W, int H, const MeasureText& measure);

// Where the needle is drawn: from (x0, y0) to (x1, y1) unless hidden by the cover.
struct NeedleLine {
  bool visible = false;
  double theta = 0;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
double needleAngle(const MeterGeometry& g, const MeterProps& p);
NeedleLine needleLine(const MeterGeometry& g, const MeterProps& p);

// Truncation toward zero that stays defined: NaN gives 0, the rest is held
// within +-2^30 so later integer sums cannot overflow.
int truncPixel(double v);

// The cached geometry: rebuilt only when the rectangle changes or the
// model's geometryDirty is set, which it clears.
class GeometryCache {
 public:
  const MeterGeometry& get(MeterModel& m, int W, int H, const MeasureText& measure);
  const MeterGeometry& geometry() const { return g_; }
  int rebuilds() const { return rebuilds_; }
  void invalidate() { valid_ = false; }

 private:
  MeterGeometry g_;
  bool valid_ = false;
  int rebuilds_ = 0;
};

}  // namespace zrq::meter
