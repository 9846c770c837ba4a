#include "MeterGeometry.h"

#include <algorithm>
#include <cmath>

#include "LabelFormat.h"

namespace zrq::meter {

namespace {

constexpr double kDeg = 180.0 / kPi;

// Counterclockwise span from a to b in (0, 360]; equal angles give a full turn, as an arc call
// does.
double ccwSpanDeg(double a, double b) {
  double s = std::fmod((b - a) * kDeg, 360.0);
  if (s <= 0) s += 360.0;
  return s;
}

bool finite(double v) { return std::isfinite(v); }

}  // namespace

int truncPixel(double v) {
  if (std::isnan(v)) return 0;
  constexpr double lim = 1073741824.0;
  return static_cast<int>(std::clamp(v, -lim, lim));
}

void buildGeometry(MeterGeometry& g, const MeterProps& p, int W, int H,
                   const MeasureText& measure) {
  g.left = 0;
  g.top = 0;
  g.right = W;
  g.bottom = H;
  g.small = std::min(W, H);
  g.large = std::max(W, H);
  g.cx = W / 2;
  const double D = p.ScaledCircleRelativeDiameter;
  g.cy = truncPixel(g.small * p.ScaledCircleRelativeShifting + g.large * D * 0.5);
  g.R = static_cast<float>(g.large * D * 0.5);
  g.R_major = static_cast<float>(D * (p.ScaleRelativeWidth + 1) * g.large * 0.5);
  g.R_minor = static_cast<float>(D * (p.ScaleRelativeWidth * 0.65 + 1) * g.large * 0.5);
  g.R_text = static_cast<float>(D * g.large * p.RelativeTextRadius * 0.5);
  g.R_needle = static_cast<float>(D * g.large * p.RelativeIndexLength * 0.5);
  g.coverTop = truncPixel((1 - p.BottomCoverRelativeHeight) * H);

  const double half = W * p.VisibleScaleRelativeSize * 0.5;
  const float dist = static_cast<float>(std::sqrt(double(g.cy) * g.cy + half * half));
  g.sweep = static_cast<float>(2 * std::asin(half / dist));
  g.thetaStart = static_cast<float>((g.sweep + kPi) / 2);
  g.thetaEnd = (kPi - g.sweep) / 2;

  // The scale arcs run between the radials through the visible segment's ends on the top edge.
  const double V = p.VisibleScaleRelativeSize;
  const int x1 = truncPixel(W * ((1 - V) / 2 + V));
  const int x2 = truncPixel(W * (1 - V) / 2);
  const double a1 = std::atan2(double(g.cy), double(x1 - g.cx));
  const double a2 = std::atan2(double(g.cy), double(x2 - g.cx));
  g.arcStartDeg = a1 * kDeg;
  g.arcSpanDeg = ccwSpanDeg(a1, a2);

  g.minor.clear();
  g.major.clear();
  g.labelText.clear();
  g.labelX.clear();
  g.labelY.clear();
  g.bands.clear();
  g.bandRings.clear();

  const double lo = p.MinimumValue, hi = p.MaximumValue;
  const int nd = p.NumberOfDivisions, ns = p.NumberOfSubdivisions;
  g.scaleUsable = finite(lo) && finite(hi) && finite(hi - lo) && hi != lo && nd >= 1 && ns >= 1 &&
                  finite(g.sweep) && g.sweep != 0 && finite(g.R) && finite(g.R_major) &&
                  finite(g.R_minor) && finite(g.R_text);
  if (!g.scaleUsable) return;

  const double cx = g.cx, cy = g.cy;
  auto point = [&](TickPoints& t, float theta, float rIn, float rOut) {
    const double c = std::cos(double(theta)), s = std::sin(double(theta));
    t.innerX.push_back(static_cast<float>(cx + rIn * c));
    t.innerY.push_back(static_cast<float>(cy - rIn * s));
    t.outerX.push_back(static_cast<float>(cx + rOut * c));
    t.outerY.push_back(static_cast<float>(cy - rOut * s));
  };

  if (nd <= kMaxDivisions) {
    const long n = long(nd) * ns;
    if (n <= kMaxMinorTicks) {
      const float step = g.sweep / static_cast<float>(nd) / static_cast<float>(ns);
      float theta = g.thetaStart;
      for (long i = 0; i <= n; ++i) {
        point(g.minor, theta, g.R, g.R_minor);
        theta -= step;
      }
    }
    const float step = g.sweep / static_cast<float>(nd);
    float theta = g.thetaStart;
    for (int j = 0; j <= nd; ++j) {
      double value = lo + (g.thetaStart - theta) / double(g.sweep) * (hi - lo);
      // The angle's float noise would print a zero division as "-0".
      if (std::abs(value) < std::abs(hi - lo) * 1e-6) value = 0;
      std::string text = formatLabel(p.ValueFormatString, value);
      const TextSize ts = measure ? measure(text) : TextSize{};
      const double c = std::cos(double(theta)), s = std::sin(double(theta));
      g.labelX.push_back(static_cast<float>(c * g.R_text + cx - ts.w / 2));
      g.labelY.push_back(static_cast<float>(cy - s * g.R_text - ts.h / 2));
      g.labelText.push_back(std::move(text));
      point(g.major, theta, g.R, g.R_major);
      theta -= step;
    }
  }

  const double starts[3] = {p.GreenStartValue, p.YellowStartValue, p.RedStartValue};
  for (int b = 0; b < 3; ++b) {
    const double S = starts[b];
    if (!(S < hi) || !finite(S)) continue;
    const double thetaS = g.thetaStart - (S - lo) * g.sweep / (hi - lo);
    g.bands.push_back({b, g.thetaEnd * kDeg, ccwSpanDeg(g.thetaEnd, thetaS)});
  }
  if (!g.bands.empty()) {
    for (float rr = g.R; rr <= g.R_major && int(g.bandRings.size()) < kMaxBandRings; rr += 2)
      g.bandRings.push_back(rr);
  }
}

double needleAngle(const MeterGeometry& g, const MeterProps& p) {
  const double v = p.Value, lo = p.MinimumValue, hi = p.MaximumValue;
  if (!g.scaleUsable || !std::isfinite(v) || v < lo) return g.thetaStart;
  if (v > hi) return g.thetaEnd;
  return g.thetaStart - g.sweep * (v - lo) / (hi - lo);
}

NeedleLine needleLine(const MeterGeometry& g, const MeterProps& p) {
  NeedleLine n;
  n.theta = needleAngle(g, p);
  if (!std::isfinite(n.theta) || !std::isfinite(g.R_needle)) return n;
  const int tipX = truncPixel(std::cos(n.theta) * g.R_needle + g.cx);
  const int tipY = truncPixel(g.cy - std::sin(n.theta) * g.R_needle);
  const int64_t L = int64_t(g.coverTop) - 1;
  n.x1 = tipX;
  n.y1 = tipY;
  if (tipY > L) return n;  // under the cover
  n.visible = true;
  if (g.cy <= L || g.cy == tipY) {
    n.x0 = g.cx;
    n.y0 = g.cy;
  } else {
    n.y0 = static_cast<int>(L);
    // Integer division truncating toward zero; 64 bits so held coordinates cannot overflow.
    const int64_t q = ((L - g.cy) * tipX + (tipY - L) * g.cx) / (int64_t(tipY) - g.cy);
    n.x0 = truncPixel(static_cast<double>(q));
  }
  return n;
}

const MeterGeometry& GeometryCache::get(MeterModel& m, int W, int H, const MeasureText& measure) {
  if (!valid_ || m.geometryDirty() || g_.right != W || g_.bottom != H) {
    buildGeometry(g_, m.props(), W, H, measure);
    m.clearGeometryDirty();
    valid_ = true;
    ++rebuilds_;
  }
  return g_;
}

}  // namespace zrq::meter
