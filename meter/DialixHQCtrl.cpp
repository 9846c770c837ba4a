#include "DialixHQCtrl.h"

#include <QFont>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "DialixHQFactory.h"
#include "model/LabelFormat.h"
#include "model/MeterStream.h"
#include "model/ValueText.h"

using namespace zrq::meter;

namespace {

QColor qcolor(OleColor c) {
  const Rgb rgb = toRgb(c);
  return QColor(rgb.r, rgb.g, rgb.b);
}

QFont qfont(const FontDesc& f) {
  QFont q(QString::fromStdString(f.name));
  // Points at 96 dpi, so the font keeps its size relative to the logical pixels of the geometry.
  q.setPixelSize(std::max(1, static_cast<int>(std::lround(f.points() * 96.0 / 72.0))));
  q.setWeight(static_cast<QFont::Weight>(f.weight <= 0 ? 400 : std::min<int>(f.weight, 1000)));
  q.setItalic(f.italic);
  q.setUnderline(f.underline);
  q.setStrikeOut(f.strikeout);
  return q;
}

// A zero or negative pen width draws one pixel, as a zero-width pen does.
QPen pen(OleColor c, int width) {
  QPen p(qcolor(c));
  p.setWidth(std::max(1, width));
  p.setCapStyle(Qt::FlatCap);
  return p;
}

QRect arcBox(int cx, int cy, float r) {
  const int l = truncPixel(cx - double(r)), t = truncPixel(cy - double(r));
  const int rgt = truncPixel(cx + double(r)), b = truncPixel(cy + double(r));
  return QRect(QPoint(l, t), QPoint(rgt - 1, b - 1));
}

void drawArcDeg(QPainter& p, const QRect& box, double startDeg, double spanDeg) {
  if (!std::isfinite(startDeg) || !std::isfinite(spanDeg) || box.width() <= 0) return;
  p.drawArc(QRectF(box), static_cast<int>(std::lround(startDeg * 16)),
            static_cast<int>(std::lround(spanDeg * 16)));
}

// The default fonts are requested by name; where fontconfig knows no
// substitute, give them the metric-compatible sans face.
void installFontSubstitutes() {
  static const bool done = [] {
    for (const char* family : {"Arial", "MS Sans Serif"})
      if (QFont::substitutes(QString::fromLatin1(family)).isEmpty())
        QFont::insertSubstitutions(QString::fromLatin1(family), {QStringLiteral("Liberation Sans"),
                                                                 QStringLiteral("DejaVu Sans")});
    return true;
  }();
  (void)done;
}

}  // namespace

CDialixHQCtrl::CDialixHQCtrl(QWidget* parent) : QWidget(parent) {
  installFontSubstitutes();
  zrq::meter::detail::instanceCreated();
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::TabFocus);
  model_.onInvalidate = [this](int dispid) { changed(dispid); };
  resize(himetricToPixels(model_.extentX()), himetricToPixels(model_.extentY()));
}

CDialixHQCtrl::~CDialixHQCtrl() { zrq::meter::detail::instanceDestroyed(); }

QSize CDialixHQCtrl::sizeHint() const {
  return QSize(himetricToPixels(model_.extentX()), himetricToPixels(model_.extentY()));
}

PropValue CDialixHQCtrl::getProp(int dispid) const { return model_.get(dispid); }
PropValue CDialixHQCtrl::getProp(std::string_view name) const { return model_.get(name); }
void CDialixHQCtrl::setProp(int dispid, const PropValue& v) { model_.set(dispid, v); }
void CDialixHQCtrl::setProp(std::string_view name, const PropValue& v) { model_.set(name, v); }

std::string CDialixHQCtrl::getPropText(std::string_view name) const {
  return formatValue(model_.get(name));
}

void CDialixHQCtrl::setPropText(std::string_view name, std::string_view text) {
  const PropInfo* info = findProperty(name);
  if (!info) throw MeterError("unknown property \"" + std::string(name) + "\"");
  const PropValue current = model_.get(info->dispid);
  model_.set(info->dispid, parseValue(*info, text, &current));
}

void CDialixHQCtrl::StepIt() { model_.stepIt(); }

std::vector<uint8_t> CDialixHQCtrl::saveState() const {
  // A hidden widget gets its resize event only when shown: take the size itself.
  // The stored extent stays while it still gives the same size, so a loaded
  // state saves back byte for byte.
  int32_t x = model_.extentX(), y = model_.extentY();
  if (himetricToPixels(x) != width()) x = pixelsToHimetric(width());
  if (himetricToPixels(y) != height()) y = pixelsToHimetric(height());
  return saveStream(model_, x, y);
}

void CDialixHQCtrl::loadState(std::span<const uint8_t> bytes) {
  loadStream(model_, bytes);
  resize(himetricToPixels(model_.extentX()), himetricToPixels(model_.extentY()));
}

void CDialixHQCtrl::resetState() { model_.reset(); }

void CDialixHQCtrl::setDesignMode(bool on) { model_.setDesignMode(on); }

void CDialixHQCtrl::changed(int dispid) {
  if (dispid != kValue) layerDirty_ = true;
  if (dispid == kValue && !layerDirty_ && !model_.geometryDirty() && !model_.designMode() &&
      !frame_.isNull()) {
    // A new value moves the needle alone: repaint where it was and where it
    // goes, or nothing while it stays on the same pixels.
    const NeedleLine n = needleLine(cache_.geometry(), model_.props());
    if (n.visible == drawn_.visible && n.x0 == drawn_.x0 && n.y0 == drawn_.y0 &&
        n.x1 == drawn_.x1 && n.y1 == drawn_.y1)
      return;
    update(needleBox(drawn_) | needleBox(n));
    return;
  }
  update();
}

QRect CDialixHQCtrl::needleBox(const NeedleLine& n) const {
  if (!n.visible) return {};
  const MeterGeometry& g = cache_.geometry();
  const int m = std::max<int>(1, model_.props().IndexThickness) / 2 + 2;
  return QRect(QPoint(std::min(n.x0, n.x1) - m, std::min(n.y0, n.y1) - m),
               QPoint(std::max(n.x0, n.x1) + m, std::max(n.y0, n.y1) + m)) &
         QRect(0, 0, g.right, g.coverTop);
}

void CDialixHQCtrl::resizeEvent(QResizeEvent* e) {
  layerDirty_ = true;
  QWidget::resizeEvent(e);
}

void CDialixHQCtrl::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  ensureFrame(devicePixelRatioF());
  // Rectangle by rectangle: an image clipped to a region of several is
  // copied span by span, spread over the raster engine's threads.
  const qreal dpr = frame_.devicePixelRatio();
  for (const QRect& r : e->region())
    p.drawImage(QRectF(r), frame_, QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr));
}

void CDialixHQCtrl::paintMeter(QPainter& painter) {
  ensureFrame(painter.device() ? painter.device()->devicePixelRatioF() : 1.0);
  painter.drawImage(QPoint(0, 0), frame_);
}

QImage CDialixHQCtrl::renderImage(qreal dpr) {
  QImage img(QSize(std::max(1, int(width() * dpr)), std::max(1, int(height() * dpr))),
             QImage::Format_RGB32);
  img.setDevicePixelRatio(dpr);
  QPainter p(&img);
  paintMeter(p);
  return img;
}

void CDialixHQCtrl::ensureFrame(qreal dpr) {
  model_.beginPaint();
  const QSize device(std::max(1, int(width() * dpr)), std::max(1, int(height() * dpr)));
  if (layerDirty_ || model_.geometryDirty() || layer_.size() != device ||
      layer_.devicePixelRatio() != dpr) {
    rebuildLayer(dpr);
    frame_ = layer_.copy();
    needleRect_ = QRect();
    drawNeedle();
    return;
  }
  const NeedleLine n = needleLine(cache_.geometry(), model_.props());
  if (n.visible == needle_.visible && n.x0 == needle_.x0 && n.y0 == needle_.y0 &&
      n.x1 == needle_.x1 && n.y1 == needle_.y1)
    return;
  // Only the old needle's pixels go back to the layer's: per row, the span
  // the line crosses there plus the pen's reach, within its bounding box.
  const QRect r = needleRect_ & frame_.rect();
  if (!r.isEmpty()) {
    const qreal dpr = frame_.devicePixelRatio();
    const double x0 = (drawn_.x0 + 0.5) * dpr, y0 = (drawn_.y0 + 0.5) * dpr;
    const double x1 = (drawn_.x1 + 0.5) * dpr, y1 = (drawn_.y1 + 0.5) * dpr;
    const double reach = needleReach_ * dpr;
    const double dxdy = y1 != y0 ? (x1 - x0) / (y1 - y0) : 0;
    const double slack = reach * std::sqrt(1 + dxdy * dxdy) + 1;
    for (int y = r.top(); y <= r.bottom(); ++y) {
      int left = r.left(), right = r.right();
      if (y1 != y0) {
        const double xa = x0 + (y - y0) * dxdy, xb = x0 + (y + 1 - y0) * dxdy;
        left = std::max(left, int(std::floor(std::min(xa, xb) - slack)));
        right = std::min(right, int(std::ceil(std::max(xa, xb) + slack)));
      }
      if (left > right) continue;
      std::memcpy(frame_.scanLine(y) + size_t(left) * 4, layer_.constScanLine(y) + size_t(left) * 4,
                  size_t(right - left + 1) * 4);
    }
  }
  needleRect_ = QRect();
  drawNeedle();
}

void CDialixHQCtrl::drawNeedle() {
  const MeterProps& p = model_.props();
  const MeterGeometry& g = cache_.geometry();
  needle_ = needleLine(g, p);
  if (!needle_.visible || g.coverTop <= 0) return;
  const qreal dpr = frame_.devicePixelRatio();
  const int width = std::max<int>(1, p.IndexThickness);
  QPainter painter(&frame_);
  painter.setRenderHint(QPainter::Antialiasing);
  // The cover hides the needle's foot, whatever its pen width.
  const QRect visible(0, 0, g.right, g.coverTop);
  painter.setClipRect(visible);
  painter.translate(0.5, 0.5);
  painter.setPen(pen(p.IndexColor, width));
  painter.drawLine(needle_.x0, needle_.y0, needle_.x1, needle_.y1);
  drawn_ = needle_;
  needleReach_ = width / 2.0 + 1.5;
  const QRect logical = needleBox(needle_);
  needleRect_ =
      QRect(int(std::floor(logical.left() * dpr)), int(std::floor(logical.top() * dpr)),
            int(std::ceil(logical.width() * dpr)) + 1, int(std::ceil(logical.height() * dpr)) + 1);
}

void CDialixHQCtrl::rebuildLayer(qreal dpr) {
  ++layerRebuilds_;
  layerDirty_ = false;
  const MeterProps& p = model_.props();
  const int W = width(), H = height();
  layer_ =
      QImage(QSize(std::max(1, int(W * dpr)), std::max(1, int(H * dpr))), QImage::Format_RGB32);
  layer_.setDevicePixelRatio(dpr);
  QPainter painter(&layer_);

  const QColor bg = qcolor(p.InstrumentBackGroundColor);
  painter.fillRect(QRect(0, 0, W, H), bg);

  const QFont smallFont = qfont(p.SmallScaleFont);
  const QFontMetrics smallMetrics(smallFont);
  const MeterGeometry& g = cache_.get(model_, W, H, [&](const std::string& s) {
    const QString t = QString::fromStdString(s);
    return TextSize{smallMetrics.horizontalAdvance(t), smallMetrics.height()};
  });

  const double D = g.small * p.ShadedAreaRelativeSize;
  const int inset = truncPixel(D);
  if (!p.BackgroundImage.empty()) {
    if (pictureBytes_ != p.BackgroundImage.data) {
      pictureBytes_ = p.BackgroundImage.data;
      picture_ =
          pictureBytes_.size() <= size_t(std::numeric_limits<int>::max())
              ? QImage::fromData(pictureBytes_.data(), static_cast<int>(pictureBytes_.size()))
              : QImage();
    }
    const QRect target(QPoint(inset, inset), QPoint(W - inset - 1, H - inset - 1));
    if (!picture_.isNull() && target.isValid()) painter.drawImage(target, picture_);
  }

  // Bevel: 1-pixel lines as filled rectangles, exact at any pixel ratio.
  const int N = inset;
  if (N > 0) {
    const int last = std::min(N, g.large + 1);  // lines further in lie outside
    for (int i = 0; i < last; ++i) {
      const QColor c(bg.red() * i / N, bg.green() * i / N, bg.blue() * i / N);
      painter.fillRect(QRect(i, i, 1, H - i), c);
      painter.fillRect(QRect(i, i, W - i, 1), c);
    }
    for (int i = 0; i < D && i <= g.large; ++i) {
      auto ch = [&](int c) { return int((255 - c) * (1 - double(i) / N) + c); };
      const QColor c(ch(bg.red()), ch(bg.green()), ch(bg.blue()));
      painter.fillRect(QRect(W - i, i, 1, H - 2 * i), c);
      painter.fillRect(QRect(i, H - i, W - 2 * i, 1), c);
    }
  }

  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(0.5, 0.5);  // pixel centres, so 1-pixel lines stay sharp

  const OleColor bandColors[3] = {p.GreenColor, p.YellowColor, p.RedColor};
  for (float rr : g.bandRings) {
    const QRect box = arcBox(g.cx, g.cy, rr);
    for (const BandArc& b : g.bands) {
      painter.setPen(pen(bandColors[b.band], 2));
      drawArcDeg(painter, box, b.startDeg, b.spanDeg);
    }
  }

  painter.setPen(pen(p.ScaleColor, p.ScaleThickLineWidth));
  if (std::isfinite(g.R)) drawArcDeg(painter, arcBox(g.cx, g.cy, g.R), g.arcStartDeg, g.arcSpanDeg);
  if (std::isfinite(g.R_major))
    drawArcDeg(painter, arcBox(g.cx, g.cy, g.R_major), g.arcStartDeg, g.arcSpanDeg);

  painter.setPen(pen(p.ScaleColor, p.ScaleThinLineWidth));
  for (const TickPoints* t : {&g.minor, &g.major})
    for (size_t i = 0; i < t->size(); ++i)
      painter.drawLine(truncPixel(t->innerX[i]), truncPixel(t->innerY[i]), truncPixel(t->outerX[i]),
                       truncPixel(t->outerY[i]));

  painter.translate(-0.5, -0.5);
  painter.setFont(smallFont);
  painter.setPen(qcolor(p.ScaleColor));
  for (size_t i = 0; i < g.labelText.size(); ++i)
    painter.drawText(
        QPoint(truncPixel(g.labelX[i]), truncPixel(g.labelY[i]) + smallMetrics.ascent()),
        QString::fromStdString(g.labelText[i]));

  painter.setRenderHint(QPainter::Antialiasing, false);
  if (g.coverTop < H) painter.fillRect(QRect(0, g.coverTop, W, H), qcolor(p.BottomCoverColor));
  if (!p.Caption.empty()) {
    const QFont coverFont = qfont(p.BottomCoverLabelFont);
    const QFontMetrics fm(coverFont);
    const QString caption = QString::fromStdString(p.Caption);
    const int cw = fm.horizontalAdvance(caption), chh = fm.height();
    const int x = W / 2 - cw / 2;
    const int y = truncPixel((1 - p.BottomCoverRelativeHeight * 0.5) * H - chh / 2);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(coverFont);
    painter.setPen(qcolor(p.BottomCoverTextColor));
    painter.drawText(QPoint(x, y + fm.ascent()), caption);
  }
}
