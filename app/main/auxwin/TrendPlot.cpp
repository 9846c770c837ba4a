#include "TrendPlot.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/PowerMath.h"

using zrq::core::TrendColumn;
using zrq::core::TrendQuantity;

namespace {

constexpr int kLeft = 62, kRight = 132, kTop = 6, kBottom = 22;
// Following the newest reading, the view moves on by 1/kFollowSteps of its width.
constexpr int kFollowSteps = 40;
constexpr int kLanePad = 4;                        // keeps the extremes off the lane's frame
constexpr int kPieceMargin = 2;                    // room for a character's ink beyond its advance
constexpr double kDbPerLog2 = 3.0102999566398120;  // 10 log10(2)
constexpr QRgb kWhite = 0xFFFFFFFF, kGrid = 0xFFE1E1E1, kFrame = 0xFF969696;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The smallest 1, 2 or 5 times a power of ten that is at least x.
std::int64_t niceWidth(std::int64_t x) {
  for (std::int64_t m = 1;; m *= 10)
    for (std::int64_t f : {1, 2, 5})
      if (f * m >= x) return f * m;
}

// Copies only what of an image lands in the exposed rectangle: left to the
// clip, the raster engine spreads a tall image over its thread pool, which
// for the few columns a reading changes costs more than the copy itself.
void drawExposed(QPainter& p, QPoint at, const QImage& image, const QRect& source,
                 const QRect& exposed) {
  const QRect part = QRect(at, source.size()).intersected(exposed);
  if (!part.isEmpty()) p.drawImage(part.topLeft(), image, part.translated(source.topLeft() - at));
}

}  // namespace

QColor TrendPlot::colorOf(TrendQuantity q) {
  switch (q) {
    case TrendQuantity::ForwardAverage:
      return {0, 80, 200};
    case TrendQuantity::Peak:
      return {200, 30, 30};
    case TrendQuantity::Burst:
      return {210, 110, 0};
    case TrendQuantity::Crest:
      return {130, 50, 170};
    case TrendQuantity::Reflected:
      return {0, 130, 50};
    case TrendQuantity::Vswr:
      return {0, 125, 140};
    case TrendQuantity::ReturnLoss:
      break;
  }
  return {130, 80, 30};
}

namespace {

struct Range {
  double lo, hi, step;
};

// About four grid steps of 1, 2 or 5 times a power of ten around [lo, hi].
Range niceRange(double lo, double hi) {
  double span = hi - lo;
  if (!(span > std::max(std::abs(hi), std::abs(lo)) * 1e-4)) {
    // A flat line sits in the middle of a range a tenth of its value.
    span = std::max(std::abs(hi) * 0.1, 0.01);
    lo -= span / 2;
    hi += span / 2;
  } else {
    lo -= span * 0.05;
    hi += span * 0.05;
  }
  const double raw = (hi - lo) / 4;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double step = mag * 10;
  for (double f : {1.0, 2.0, 5.0})
    if (f * mag >= raw) {
      step = f * mag;
      break;
    }
  return {std::floor(lo / step) * step, std::ceil(hi / step) * step, step};
}

// Time grid steps in ms.
constexpr std::int64_t kTimeSteps[] = {1'000,      2'000,      5'000,     10'000,    15'000,
                                       30'000,     60'000,     120'000,   300'000,   600'000,
                                       900'000,    1'800'000,  3'600'000, 7'200'000, 10'800'000,
                                       21'600'000, 43'200'000, 86'400'000};

QString number(double v, double step) {
  const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step))) + 1, 0, 6);
  return QString::number(v, 'f', decimals);
}

}  // namespace

TrendPlot::TrendPlot(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("trendPlot"));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(kLeft + kRight + 200, kTop + kBottom + 120);
}

void TrendPlot::setStore(zrq::core::TrendStore* store) {
  store_ = store;
  cursor_.reset();
  relayout();
}

void TrendPlot::setQuantities(const std::vector<TrendQuantity>& quantities) {
  quantities_ = quantities;
  layoutLanes();
  relayout();
}

void TrendPlot::setPowerUnit(zrq::core::PowerUnit unit) {
  const bool dbm = unit == zrq::core::PowerUnit::dBm;
  if (dbm == dbm_) return;
  dbm_ = dbm;
  relayout();
}

void TrendPlot::setSpan(std::int64_t spanMs) {
  spanMs_ = std::max<std::int64_t>(spanMs, 0);
  relayout();
}

void TrendPlot::setEnd(std::optional<std::int64_t> endMs) {
  endMs_ = endMs;
  relayout();
}

void TrendPlot::setLimits(TrendQuantity q, std::optional<double> lower,
                          std::optional<double> upper) {
  limits_[static_cast<int>(q)] = {lower, upper};
  for (Lane& l : lanes_)
    if (l.q == q) l.lower = lower, l.upper = upper;
  relayout();
}

void TrendPlot::refresh() {
  dataDirty_ = true;
  pending_ = QRegion();
  paintTimer_.stop();
  update();
}

void TrendPlot::paintSoon(const QRegion& changed) {
  pending_ |= changed;
  if (pending_.isEmpty() || paintTimer_.isActive()) return;
  const qint64 wait = sincePaint_.isValid() ? paintIntervalMs_ - sincePaint_.elapsed() : 0;
  if (wait > 0)
    paintTimer_.start(static_cast<int>(wait), Qt::PreciseTimer, this);
  else
    paintPending();
}

void TrendPlot::paintPending() {
  paintTimer_.stop();
  if (!pending_.isEmpty()) update(pending_);
  pending_ = QRegion();
  sincePaint_.start();
}

void TrendPlot::timerEvent(QTimerEvent* e) {
  if (e->timerId() == paintTimer_.timerId())
    paintPending();
  else
    QWidget::timerEvent(e);
}

void TrendPlot::relayout() {
  layerDirty_ = holdStale_ = true;
  refresh();
}

QRect TrendPlot::plotRect() const { return rect().adjusted(kLeft, kTop, -kRight, -kBottom); }

void TrendPlot::layoutLanes() {
  std::vector<Lane> lanes;
  const QRect pr = plotRect();
  const int n = static_cast<int>(quantities_.size());
  for (int i = 0; i < n; ++i) {
    Lane l;
    l.q = quantities_[static_cast<std::size_t>(i)];
    const int top = pr.height() * i / n, bottom = pr.height() * (i + 1) / n;
    l.rect = QRect(0, top, pr.width(), bottom - top);
    for (const Lane& old : lanes_)
      if (old.q == l.q) l.lo = old.lo, l.hi = old.hi, l.step = old.step;
    std::tie(l.lower, l.upper) = limits_[static_cast<int>(l.q)];
    lanes.push_back(l);
  }
  lanes_ = std::move(lanes);
}

TrendPlot::View TrendPlot::currentView() const {
  const int count = plotRect().width();
  if (!store_ || store_->empty() || count <= 0) return {};
  const std::int64_t oldest = store_->timeAt(0), newest = store_->timeAt(store_->size() - 1);
  if (spanMs_ > 0) {
    const std::int64_t width = std::max<std::int64_t>(1, spanMs_ / count);
    std::int64_t end = floorDiv(endMs_.value_or(newest), width);
    // Following the newest reading, the view moves on in steps of a few
    // columns, not one at every reading: between steps a reading draws one
    // column instead of moving the whole plot.
    if (!endMs_) {
      const std::int64_t step = std::max(1, count / kFollowSteps);
      end = (floorDiv(end, step) + 1) * step - 1;
    }
    return {width, end - count + 1, count};
  }
  // Every reading: the width steps up as the store fills, so the columns stay put meanwhile.
  const std::int64_t width = niceWidth((newest - oldest) / count + 1);
  return {width, floorDiv(oldest, width), count};
}

double TrendPlot::display(TrendQuantity q, double stored) const {
  if (dbm_ && zrq::core::trendIsPower(q))
    return zrq::core::convertPower(zrq::core::PowerUnit::dBm, stored);
  return stored;
}

QString TrendPlot::unitText(TrendQuantity q) const {
  if (zrq::core::trendIsPower(q)) return dbm_ ? QStringLiteral("dBm") : QStringLiteral("W");
  if (q == TrendQuantity::Vswr) return {};
  return QStringLiteral("dB");
}

QString TrendPlot::quantityName(TrendQuantity q) {
  switch (q) {
    case TrendQuantity::ForwardAverage:
      return QStringLiteral("Forward average");
    case TrendQuantity::Peak:
      return QStringLiteral("Peak");
    case TrendQuantity::Burst:
      return QStringLiteral("Burst");
    case TrendQuantity::Crest:
      return QStringLiteral("Crest factor");
    case TrendQuantity::Reflected:
      return QStringLiteral("Reflected");
    case TrendQuantity::Vswr:
      return QStringLiteral("VSWR");
    case TrendQuantity::ReturnLoss:
      break;
  }
  return QStringLiteral("Return loss");
}

// Ranges follow the data shown (and any limit set). growOnly: only asks
// whether the columns drawn since the last full redraw left a lane's range.
bool TrendPlot::fitRanges(const View& v, bool growOnly) {
  bool changed = false;
  // Growing, only the columns new readings reached can hold a new extreme:
  // from the one the newest drawn reading was in, which need not be the last.
  const std::int64_t from =
      growOnly ? std::min(dataEnd_, drawn_.first + drawn_.count - 1) : v.first;
  for (Lane& l : lanes_) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    if (v.valid()) {
      // Display units rise with the stored value: converting the extremes is enough.
      float rawLo = std::numeric_limits<float>::infinity(), rawHi = -rawLo;
      const auto cols = store_->reduce(l.q, v.widthMs, v.first, v.count);
      for (std::int64_t k = std::max(from, v.first); k < v.first + v.count; ++k) {
        const TrendColumn& c = cols[static_cast<std::size_t>(k - v.first)];
        if (c.empty()) continue;
        rawLo = std::min(rawLo, c.min);
        rawHi = std::max(rawHi, c.max);
      }
      if (rawLo <= rawHi) lo = display(l.q, rawLo), hi = display(l.q, rawHi);
    }
    if (growOnly) {
      if (lo < l.lo || hi > l.hi) return true;
      continue;
    }
    for (const auto& limit : {l.lower, l.upper})
      if (limit) lo = std::min(lo, *limit), hi = std::max(hi, *limit);
    if (lo > hi) lo = hi = 0;
    const Range r = niceRange(lo, hi);
    changed |= r.lo != l.lo || r.hi != l.hi;
    l.lo = r.lo, l.hi = r.hi, l.step = r.step;
  }
  return changed;
}

double TrendPlot::yOf(const Lane& lane, double value) const {
  const QRect r = lane.rect.adjusted(0, kLanePad, 0, -kLanePad);
  const double y = r.bottom() - (value - lane.lo) / (lane.hi - lane.lo) * (r.height() - 1);
  return std::clamp(y, -1e4, 1e4);
}

int TrendPlot::ringX(std::int64_t column) const {
  const std::int64_t w = data_.width();
  return static_cast<int>(((column % w) + w) % w);
}

std::int64_t TrendPlot::timeAtX(int x) const {
  return (drawn_.first + (x - plotRect().left())) * drawn_.widthMs + drawn_.widthMs / 2;
}

QString TrendPlot::timeLabel(std::int64_t t, std::int64_t stepMs) const {
  const QDateTime d = QDateTime::fromMSecsSinceEpoch(t);
  if (stepMs >= 86'400'000) return d.toString(QStringLiteral("dd.MM."));
  if (stepMs >= 60'000) return d.toString(QStringLiteral("HH:mm"));
  return d.toString(QStringLiteral("HH:mm:ss"));
}

void TrendPlot::buildLayer() {
  ++layerBuilds_;
  layerDirty_ = false;
  const qreal dpr = devicePixelRatioF();
  layer_ = QImage(size() * dpr, QImage::Format_ARGB32_Premultiplied);
  layer_.setDevicePixelRatio(dpr);
  layer_.fill(palette().window().color());
  QPainter p(&layer_);
  const QRect pr = plotRect();
  p.fillRect(pr, Qt::white);
  const QFontMetrics fm(font());

  for (const Lane& l : lanes_) {
    const QRect r = l.rect.translated(pr.topLeft());
    const int ticks = static_cast<int>(std::round((l.hi - l.lo) / l.step));
    for (int i = 0; i <= ticks; ++i) {
      const double value = l.lo + i * l.step;
      const int y = pr.top() + static_cast<int>(std::lround(yOf(l, value)));
      // Labels only where they do not crowd a lane boundary.
      if (y - fm.ascent() / 2 < r.top() || y + fm.ascent() / 2 > r.bottom()) continue;
      p.setPen(Qt::black);
      const QString text = number(value, l.step);
      p.drawText(r.left() - 4 - fm.horizontalAdvance(text), y + fm.ascent() / 2 - 1, text);
    }
  }
}

// The time axis under the plot: clock times at the grid columns, drawn again
// whenever the view moves on.
const QImage& TrendPlot::timeAxis() {
  const QRect pr = plotRect();
  const QSize size(width(), height() - pr.bottom() - 1);
  if (axisFirst_ == drawn_.first && axisWidth_ == drawn_.widthMs && axis_.size() == size)
    return axis_;
  axisFirst_ = drawn_.first;
  axisWidth_ = drawn_.widthMs;
  // Opaque, and kept between redraws: painting it is a plain copy.
  if (axis_.size() != size) axis_ = QImage(size, QImage::Format_RGB32);
  axis_.fill(palette().window().color());
  QPainter p(&axis_);
  p.setFont(font());
  const QFontMetrics fm(font());
  for (std::int64_t k = drawn_.first; k < drawn_.first + drawn_.count; ++k) {
    if (!gridColumn(k)) continue;
    const std::int64_t t =
        floorDiv((k + 1) * drawn_.widthMs - 1 + zoneMs_, timeStep_) * timeStep_ - zoneMs_;
    const QString label = timeLabel(t, timeStep_);
    const int x = pr.left() + static_cast<int>(k - drawn_.first);
    const int w = fm.horizontalAdvance(label);
    p.drawText(std::clamp(x - w / 2, 0, size.width() - w), fm.ascent() + 4, label);
  }
  return axis_;
}

// A column holding a whole step of local clock time (a minute, an hour) is a grid line.
bool TrendPlot::gridColumn(std::int64_t k) const {
  const std::int64_t w = drawn_.widthMs;
  return floorDiv((k + 1) * w - 1 + zoneMs_, timeStep_) != floorDiv(k * w - 1 + zoneMs_, timeStep_);
}

void TrendPlot::clearColumns(const View& v, std::int64_t from, std::int64_t to) {
  from = std::max(from, v.first);
  to = std::min(to, v.first + v.count);
  if (from >= to) return;
  auto* bits = reinterpret_cast<QRgb*>(data_.bits());
  const qsizetype stride = data_.bytesPerLine() / 4;
  for (std::int64_t k = from; k < to;) {
    // One run of adjacent ring positions at a time.
    const int x = ringX(k);
    const int n = static_cast<int>(std::min<std::int64_t>(to - k, data_.width() - x));
    for (int y = 0; y < data_.height(); ++y)
      std::fill_n(bits + y * stride + x, n, rowColor_[static_cast<std::size_t>(y)]);
    for (std::int64_t g = k; g < k + n; ++g)
      if (gridColumn(g)) paintGridColumn(ringX(g));
    k += n;
  }
}

void TrendPlot::paintGridColumn(int x) {
  auto* bits = reinterpret_cast<QRgb*>(data_.bits());
  const qsizetype stride = data_.bytesPerLine() / 4;
  for (int y = 0; y < data_.height(); ++y) {
    QRgb& px = bits[y * stride + x];
    if (rowColor_[static_cast<std::size_t>(y)] == kWhite) px = kGrid;
  }
}

// Columns are one pixel wide and never antialiased: their spans are written
// straight into the image, which is what keeps a full redraw cheap. Only a
// line across empty columns goes through the painter.
QRegion TrendPlot::drawColumns(const View& v, std::int64_t from, std::int64_t to) {
  from = std::max(from, v.first);
  to = std::min(to, v.first + v.count);
  QRegion changed;
  if (from >= to || !store_) return changed;
  auto* bits = reinterpret_cast<QRgb*>(data_.bits());
  const qsizetype stride = data_.bytesPerLine() / 4;
  const int w = data_.width();
  std::optional<QPainter> painter;
  for (const Lane& l : lanes_) {
    const auto cols = store_->reduce(l.q, v.widthMs, v.first, v.count);
    auto col = [&](std::int64_t k) -> const TrendColumn& {
      return cols[static_cast<std::size_t>(k - v.first)];
    };
    const QRect clip = l.rect.adjusted(1, 1, -1, -1);
    const QColor color = colorOf(l.q);
    const QRgb pixel = color.rgba();
    // yOf(display()) with the lane's constants taken once and the logarithm
    // from log2Fast (the C library's log10 and log2f were most of a full
    // redraw).
    const QRect rows = l.rect.adjusted(0, kLanePad, 0, -kLanePad);
    const bool dbm = dbm_ && zrq::core::trendIsPower(l.q);
    const double perUnit = (rows.height() - 1) / (l.hi - l.lo);
    auto yOfStored = [&](float stored) {
      double v = stored;
      if (dbm)
        v = stored > 0
                ? std::max(kDbPerLog2 * zrq::core::log2Fast(stored) + 30.0, zrq::core::kDbmFloor)
                : zrq::core::kDbmFloor;
      return std::clamp(rows.bottom() - (v - l.lo) * perUnit, -1e4, 1e4);
    };
    // What the lane's new pixels cover: columns k0..k1, rows y0..y1.
    std::int64_t k0 = to, k1 = from - 1;
    int y0 = clip.bottom() + 1, y1 = clip.top() - 1;
    auto touched = [&](std::int64_t ka, std::int64_t kb, int ya, int yb) {
      k0 = std::min(k0, ka), k1 = std::max(k1, kb);
      y0 = std::min(y0, std::max(clip.top(), std::min(ya, yb)));
      y1 = std::max(y1, std::min(clip.bottom(), std::max(ya, yb)));
    };
    auto span = [&](std::int64_t k, int x, double ya, double yb) {
      const int top = std::max(clip.top(), static_cast<int>(std::lround(std::min(ya, yb))));
      const int bottom = std::min(clip.bottom(), static_cast<int>(std::lround(std::max(ya, yb))));
      // Only pixels that change ask for a paint: most readings fall inside
      // their column's span already.
      int first = bottom + 1, last = top - 1;
      for (int y = top; y <= bottom; ++y)
        if (QRgb& px = bits[y * stride + x]; px != pixel) {
          px = pixel;
          first = std::min(first, y), last = y;
        }
      if (first <= last) touched(k, k, first, last);
    };
    // The column a line to `from` starts at, if any is shown.
    std::int64_t prev = from - 1;
    while (prev >= v.first && col(prev).empty()) --prev;
    int x = ringX(from) - 1;  // stepped along: a division per column costs more than the drawing
    for (std::int64_t k = from; k < to; ++k) {
      if (++x == w) x = 0;
      const TrendColumn& c = col(k);
      if (c.empty()) continue;
      double top = yOfStored(c.max), bottom = yOfStored(c.min);
      if (c.joined && prev >= v.first) {
        const double join = yOfStored(col(prev).last);
        if (k - prev == 1) {
          // Neighbours: the step from the last value before reads as part of the column.
          top = std::min(top, join);
          bottom = std::max(bottom, join);
        } else {
          if (!painter) painter.emplace(&data_);
          painter->setClipRect(clip);
          painter->setPen(color);
          // On whole pixels, as the spans are: a flat line stays flat.
          const QPoint a(ringX(prev), static_cast<int>(std::lround(join)));
          const QPoint b(x, static_cast<int>(std::lround(yOfStored(c.first))));
          touched(prev, k, a.y(), b.y());
          if (a.x() < b.x()) {
            painter->drawLine(a, b);
          } else {
            // Across the ring's seam: both halves, each clipped by the image.
            painter->drawLine(a - QPoint(w, 0), b);
            painter->drawLine(a, b + QPoint(w, 0));
          }
        }
      }
      span(k, x, top, bottom);
      prev = k;
    }
    if (k0 <= k1 && y0 <= y1)
      changed |=
          QRect(static_cast<int>(k0 - v.first), y0, static_cast<int>(k1 - k0 + 1), y1 - y0 + 1);
  }
  return changed;
}

// The data image is opaque, so that showing it is a copy: its background is
// white with the value grid and the lanes' top and bottom edges, the same in
// every column, and a cleared column takes it again.
// The rows whose background changed, repainted where no data covers them:
// what a full redraw would give, at the cost of a few rows.
QRegion TrendPlot::moveHoldRows() {
  const std::vector<QRgb> before = rowColor_;
  fillRowColors();
  if (before.size() != rowColor_.size()) {
    refresh();
    return {};
  }
  QRegion rows;
  auto* bits = reinterpret_cast<QRgb*>(data_.bits());
  const qsizetype stride = data_.bytesPerLine() / 4;
  const QRect pr = plotRect();
  for (std::size_t y = 0; y < rowColor_.size(); ++y) {
    if (before[y] == rowColor_[y]) continue;
    QRgb* row = bits + static_cast<qsizetype>(y) * stride;
    for (std::int64_t k = drawn_.first; k < drawn_.first + drawn_.count; ++k) {
      const bool grid = gridColumn(k);
      const QRgb was = grid && before[y] == kWhite ? kGrid : before[y];
      QRgb& px = row[ringX(k)];
      if (px == was) px = grid && rowColor_[y] == kWhite ? kGrid : rowColor_[y];
    }
    rows |= QRect(pr.left(), pr.top() + static_cast<int>(y), pr.width(), 1);
  }
  return rows;
}

void TrendPlot::fillRowColors() {
  rowColor_.assign(static_cast<std::size_t>(std::max(0, plotRect().height())), kWhite);
  auto set = [&](int y, QRgb c) {
    if (y >= 0 && y < static_cast<int>(rowColor_.size()))
      rowColor_[static_cast<std::size_t>(y)] = c;
  };
  for (const Lane& l : lanes_) {
    const int ticks = static_cast<int>(std::round((l.hi - l.lo) / l.step));
    for (int i = 0; i <= ticks; ++i)
      set(static_cast<int>(std::lround(yOf(l, l.lo + i * l.step))), kGrid);
    set(l.rect.top(), kFrame);
    set(l.rect.bottom(), kFrame);
  }
  // Holds: tints of the line's colour, max and min stronger than the average.
  holdYs_ = holdPixels();
  for (std::size_t i = 0; i < lanes_.size(); ++i) {
    const QColor c = colorOf(lanes_[i].q);
    auto tint = [&](double part) {
      return QColor::fromRgbF(1 - part * (1 - c.redF()), 1 - part * (1 - c.greenF()),
                              1 - part * (1 - c.blueF()))
          .rgb();
    };
    set(holdYs_[i * 3 + 2], tint(0.3));
    set(holdYs_[i * 3], tint(0.5));
    set(holdYs_[i * 3 + 1], tint(0.5));
  }
}

void TrendPlot::redrawData() {
  ++fullRedraws_;
  dataDirty_ = false;
  layoutLanes();
  const QRect pr = plotRect();
  const View v = currentView();
  if (fitRanges(v, false)) layerDirty_ = true;
  if (data_.size() != pr.size()) data_ = QImage(pr.size(), QImage::Format_RGB32);
  fillRowColors();
  data_.fill(kWhite);
  auto* bits = reinterpret_cast<QRgb*>(data_.bits());
  const qsizetype stride = data_.bytesPerLine() / 4;
  for (int y = 0; y < data_.height(); ++y)
    if (const QRgb c = rowColor_[static_cast<std::size_t>(y)]; c != kWhite)
      std::fill_n(bits + y * stride, data_.width(), c);
  drawn_ = v;
  if (!v.valid() || data_.isNull()) return;
  dataEnd_ = floorDiv(store_->timeAt(store_->size() - 1), v.widthMs);
  chooseTimeStep();
  for (std::int64_t k = v.first; k < v.first + v.count; ++k)
    if (gridColumn(k)) paintGridColumn(ringX(k));
  drawColumns(v, v.first, v.first + v.count);
}

void TrendPlot::chooseTimeStep() {
  const std::int64_t spanShown = drawn_.widthMs * drawn_.count;
  timeStep_ = kTimeSteps[std::size(kTimeSteps) - 1];
  for (std::int64_t s : kTimeSteps)
    if (spanShown / s <= drawn_.count / 110) {
      timeStep_ = s;
      break;
    }
  zoneMs_ = QDateTime::fromMSecsSinceEpoch(drawn_.first * drawn_.widthMs).offsetFromUtc() * 1000LL;
}

void TrendPlot::readingAdded() {
  if (!isVisible()) {
    // Nothing is drawn for a closed window; showing it draws everything once.
    dataDirty_ = true;
    return;
  }
  if (dataDirty_ || layerDirty_) return update();
  const View v = currentView();
  if (!v.valid() || !drawn_.valid() || v.widthMs != drawn_.widthMs || v.count != drawn_.count ||
      v.first < drawn_.first || v.first - drawn_.first >= v.count || fitRanges(v, true))
    return refresh();
  // The hold lines lie under the data, in every column: when one moves by a
  // pixel (a new extreme, the average drifting) only its rows change.
  const QRegion holdRows = holdPixels() != holdYs_ ? moveHoldRows() : QRegion();
  if (dataDirty_) return;  // moving them asked for a full redraw
  const std::int64_t oldEnd = drawn_.first + drawn_.count - 1, newEnd = v.first + v.count - 1;
  const std::int64_t shift = v.first - drawn_.first;
  const std::int64_t newest = floorDiv(store_->timeAt(store_->size() - 1), v.widthMs);
  const std::int64_t from = std::min(dataEnd_, newest);
  clearColumns(v, oldEnd + 1, newEnd + 1);
  drawn_ = v;
  const QRegion changed = drawColumns(v, from, newest + 1);
  dataEnd_ = newest;
  const QRect pr = plotRect();
  auto xOfColumn = [&](std::int64_t k) {
    return pr.left() + static_cast<int>(std::clamp<std::int64_t>(k - v.first, -1, v.count));
  };
  if (shift > 0) {
    // Everything inside the plot's frame is tied to time: what is on screen
    // moves left (a copy in the window's buffer) and only the columns from
    // the last drawn one on are painted again. The labels under it follow.
    const QRect inside(pr.left() + 1, pr.top(), pr.width() - 2, pr.height());
    // What waits to be painted may move with the scroll or stay: both places.
    pending_ |= pending_.translated(-static_cast<int>(shift), 0) & inside;
    paintPending();
    scroll(-static_cast<int>(shift), 0, inside);
    // A line from a reading now left of the view is not kept: the plot
    // starts at its first reading, as when drawn afresh.
    std::int64_t firstShown = v.first + v.count;
    for (const Lane& l : lanes_) {
      const auto cols = store_->reduce(l.q, v.widthMs, v.first, v.count);
      for (std::int64_t k = v.first; k < firstShown; ++k)
        if (!cols[static_cast<std::size_t>(k - v.first)].empty()) {
          firstShown = k;
          break;
        }
    }
    if (firstShown > v.first) {
      clearColumns(v, v.first, firstShown);
      update(QRect(pr.left(), pr.top(), xOfColumn(firstShown) - pr.left() + 1, pr.height()));
    }
    const int x = xOfColumn(from);
    update(QRegion(x - 1, pr.top(), pr.right() - x + 2, pr.height()) | holdRows);
    update(QRect(0, pr.bottom() + 1, width(), height() - pr.bottom() - 1));
    // The holds beside the lanes.
    update(QRect(pr.right(), pr.top(), kRight, pr.height()));
  } else {
    // The new readings' columns, the rows of a hold line that moved and the
    // hold values beside the lanes that changed: no more of the window's
    // buffer than that is touched, as its memory is cold by the next reading.
    paintSoon(changed.translated(pr.topLeft()) | holdRows | changedHoldLines());
  }
}

QRect TrendPlot::laneRect(TrendQuantity q) const {
  for (const Lane& l : lanes_)
    if (l.q == q) return l.rect.translated(plotRect().topLeft());
  return {};
}

std::optional<int> TrendPlot::xOf(std::int64_t timeMs) const {
  if (!drawn_.valid()) return std::nullopt;
  const std::int64_t k = floorDiv(timeMs, drawn_.widthMs) - drawn_.first;
  if (k < 0 || k >= drawn_.count) return std::nullopt;
  return plotRect().left() + static_cast<int>(k);
}

// Where hold text k (a lane's max, avg, min) stands in the hold image.
QRect TrendPlot::holdLine(std::size_t k, const QFontMetrics& fm) const {
  const int y = lanes_[k / 3].rect.top() + (2 + static_cast<int>(k % 3)) * fm.height();
  return {0, y - fm.ascent(), width() - plotRect().right() - 1, fm.height()};
}

// The lines beside the lanes whose hold value changed: the backing store's
// rows are cold by the next reading, so each row not touched is saved.
QRegion TrendPlot::changedHoldLines() const {
  const QRect pr = plotRect();
  const QRect all(pr.right() + 1, pr.top(), width() - pr.right() - 1, pr.height());
  const QStringList texts = holdStrings();
  if (texts.size() != holdKey_.size() || holdStale_) return all;
  const QFontMetrics fm(font());
  QRegion lines;
  for (qsizetype k = 0; k < texts.size(); ++k)
    if (texts[k] != holdKey_[k])
      lines |= holdLine(static_cast<std::size_t>(k), fm).translated(all.topLeft()).intersected(all);
  return lines;
}

// The hold values beside the lanes, drawn again only when a text changes.
QStringList TrendPlot::holdStrings() const {
  QStringList texts;
  for (const Lane& l : lanes_) {
    const zrq::core::TrendHold& h = store_->hold(l.q);
    for (double v : {h.max, h.average(), h.min})
      texts << (h.count ? number(display(l.q, v), l.step / 10) + ' ' + unitText(l.q) : QString());
  }
  return texts;
}

const QImage& TrendPlot::holdTexts() {
  const QStringList texts = holdStrings();
  const QSize size(width() - plotRect().right() - 1, plotRect().height());
  const bool same = holdImage_.size() == size && !holdStale_;
  if (same && texts == holdKey_) return holdImage_;
  // Text is the dear part: with only values changed (the average moves with
  // most readings), only their lines are drawn again.
  const bool whole = !same || texts.size() != holdKey_.size();
  const QStringList before = whole ? QStringList() : holdKey_;
  holdStale_ = false;
  holdKey_ = texts;
  const QColor background = palette().window().color();
  if (holdImage_.size() != size) holdImage_ = QImage(size, QImage::Format_RGB32);
  if (whole) holdImage_.fill(background);
  QPainter p(&holdImage_);
  p.setFont(font());
  const QFontMetrics fm(font());
  if (whole) {
    for (const Lane& l : lanes_) {
      p.setPen(colorOf(l.q));
      const QString unit = unitText(l.q);
      p.drawText(5, l.rect.top() + fm.ascent() + 1,
                 quantityName(l.q) + (unit.isEmpty() ? QString() : " (" + unit + ")"));
    }
  }
  if (whole) pieces_.clear();  // the font may have changed
  static constexpr const char* kNames[] = {"max", "avg", "min"};
  for (std::size_t k = 0; k < lanes_.size() * 3; ++k) {
    const QRect line = holdLine(k, fm);
    if (line.top() + fm.ascent() > lanes_[k / 3].rect.bottom() + 2) continue;
    const QString& t = texts[static_cast<qsizetype>(k)];
    if (!whole && t == before[static_cast<qsizetype>(k)]) continue;
    p.fillRect(line, background);
    if (t.isEmpty()) continue;
    // "max", then the value a character at a time, then its unit.
    qreal x = line.left() + 5;
    auto put = [&](const QString& text) {
      const Piece& pc = piece(text);
      p.drawImage(QPoint(static_cast<int>(std::lround(x)) - kPieceMargin, line.top()), pc.image);
      x += pc.advance;
    };
    put(QLatin1String(kNames[k % 3]) + ' ');
    const qsizetype unitAt = t.indexOf(' ');
    for (QChar c : QStringView(t).left(unitAt)) put(QString(c));
    if (unitAt >= 0) put(t.mid(unitAt));
  }
  return holdImage_;
}

// A part of a hold line drawn once: the values change with most readings,
// and copying drawn characters costs a fraction of laying out and drawing
// the text each time.
const TrendPlot::Piece& TrendPlot::piece(const QString& text) {
  if (auto it = pieces_.constFind(text); it != pieces_.cend()) return *it;
  if (pieces_.size() >= 256) pieces_.clear();
  const QFontMetrics fm(font());
  Piece pc;
  pc.advance = QFontMetricsF(font()).horizontalAdvance(text);
  pc.image = QImage(static_cast<int>(std::ceil(pc.advance)) + 2 * kPieceMargin, fm.height(),
                    QImage::Format_ARGB32_Premultiplied);
  pc.image.fill(Qt::transparent);
  QPainter p(&pc.image);
  p.setFont(font());
  p.setPen(Qt::black);
  p.drawText(kPieceMargin, fm.ascent(), text);
  p.end();
  return *pieces_.insert(text, std::move(pc));
}

std::vector<int> TrendPlot::holdPixels() const {
  std::vector<int> ys;
  if (!store_) return std::vector<int>(lanes_.size() * 3, -1);
  for (const Lane& l : lanes_) {
    const zrq::core::TrendHold& h = store_->hold(l.q);
    for (double v : {h.max, h.min, h.average()})
      ys.push_back(h.count ? static_cast<int>(std::lround(yOf(l, display(l.q, v)))) : -1);
  }
  return ys;
}

std::optional<std::pair<std::int64_t, std::int64_t>> TrendPlot::shownRange() const {
  const View v = drawn_.valid() && !dataDirty_ ? drawn_ : currentView();
  if (!v.valid()) return std::nullopt;
  return std::make_pair(v.first * v.widthMs, (v.first + v.count) * v.widthMs);
}

std::optional<std::size_t> TrendPlot::cursorReading() const {
  if (!cursor_ || !store_) return std::nullopt;
  const std::size_t i = store_->lowerBound(*cursor_);
  if (i == store_->size() || store_->timeAt(i) != *cursor_) return std::nullopt;  // overwritten
  return i;
}

void TrendPlot::setCursorTime(std::optional<std::int64_t> timeMs) {
  if (!timeMs || !store_ || store_->empty())
    cursor_.reset();
  else
    cursor_ = store_->timeAt(store_->nearest(*timeMs));
  emit cursorMoved();
  update();
}

void TrendPlot::resizeEvent(QResizeEvent*) {
  layoutLanes();
  relayout();
}

void TrendPlot::mouseMoveEvent(QMouseEvent* e) {
  const QRect pr = plotRect();
  const int x = static_cast<int>(e->position().x());
  if (!drawn_.valid() || x < pr.left() || x > pr.right()) return;
  setCursorTime(timeAtX(x));
}

void TrendPlot::paintEvent(QPaintEvent* e) {
  pending_ -= e->region();  // painted from the current images
  if (dataDirty_) redrawData();
  if (layerDirty_) buildLayer();
  QPainter p(this);
  if (data_.isNull() || !drawn_.valid()) {
    p.drawImage(QPoint(0, 0), layer_);
    return;
  }
  // Rectangle by rectangle: under a clip of one rectangle the raster engine
  // copies an image line by line; under a region of several it goes span by
  // span over its thread pool, which costs more than the copy.
  const QImage& axis = timeAxis();
  const QImage& holds = holdTexts();
  for (const QRect& r : e->region()) {
    p.setClipRect(r);
    paintPart(p, r, axis, holds);
  }
}

void TrendPlot::paintPart(QPainter& p, const QRect& exposed, const QImage& axis,
                          const QImage& holds) {
  const QRect pr = plotRect();
  // The layer left of and above the plot, the axis under it, the holds
  // right of it, the data image inside it.
  const qreal dpr = layer_.devicePixelRatio();
  for (const QRect& r :
       {QRect(0, 0, width(), pr.top()), QRect(0, pr.top(), pr.left(), pr.height())})
    if (r.intersects(exposed))
      p.drawImage(QRectF(r), layer_, QRectF(r.topLeft() * dpr, r.size() * dpr));
  // The ring from the view's first column on, then its start after the seam.
  const int w = data_.width(), seam = ringX(drawn_.first);
  drawExposed(p, pr.topLeft(), data_, QRect(seam, 0, w - seam, data_.height()), exposed);
  if (seam > 0)
    drawExposed(p, pr.topLeft() + QPoint(w - seam, 0), data_, QRect(0, 0, seam, data_.height()),
                exposed);
  drawExposed(p, QPoint(0, pr.bottom() + 1), axis, axis.rect(), exposed);
  drawExposed(p, QPoint(pr.right() + 1, pr.top()), holds, holds.rect(), exposed);
  p.setPen(QColor(kFrame));
  p.drawLine(pr.left(), pr.top(), pr.left(), pr.bottom());
  p.drawLine(pr.right(), pr.top(), pr.right(), pr.bottom());
  p.save();
  p.translate(pr.topLeft());
  for (const Lane& l : lanes_) {
    p.setClipRect(l.rect.adjusted(1, 1, -1, -1).intersected(exposed.translated(-pr.topLeft())));
    auto hline = [&](double value, Qt::PenStyle style, QColor color) {
      QPen pen(color, 1, style);
      // The dashes keep their place in time, as the columns scroll by.
      pen.setDashOffset(static_cast<qreal>(((drawn_.first % 6) + 6) % 6));
      p.setPen(pen);
      const double y = yOf(l, value);
      p.drawLine(QPointF(0, y), QPointF(l.rect.width(), y));
    };
    for (const auto& limit : {l.lower, l.upper})
      if (limit) hline(*limit, Qt::DashLine, QColor(220, 0, 0));
  }
  p.setClipRect(exposed.translated(-pr.topLeft()));
  if (cursor_) {
    const std::int64_t k = floorDiv(*cursor_, drawn_.widthMs) - drawn_.first;
    if (k >= 0 && k < drawn_.count) {
      p.setPen(QPen(QColor(60, 60, 60), 1, Qt::DashLine));
      p.drawLine(static_cast<int>(k), 0, static_cast<int>(k), pr.height() - 1);
    }
  }
  p.restore();
}
