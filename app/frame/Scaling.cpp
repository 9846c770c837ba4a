#include "Scaling.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zrq::frame {

double screenScale() {
  if (const char* env = std::getenv("ZRQ_SCREEN_SCALE")) {
    double v = 0;
    auto [p, ec] = std::from_chars(env, env + std::strlen(env), v);
    if (ec == std::errc() && v > 0) return v;
  }
  const QScreen* s = QGuiApplication::primaryScreen();
  if (!s || s->geometry().width() <= 0) return 1.0;
  return static_cast<double>(s->geometry().width()) / kDesignScreenWidth;
}

namespace {

int scaled(int v, double f) { return static_cast<int>(std::lround(v * f)); }

QFont scaledFont(QFont font, double f) {
  if (font.pixelSize() > 0)
    font.setPixelSize(std::max(1, scaled(font.pixelSize(), f)));
  else if (font.pointSizeF() > 0)
    font.setPointSizeF(font.pointSizeF() * f);
  return font;
}

// A scaled font rounds to whole pixels and its hinted text may grow a little
// more than its box did ("Zero" reading "Zerc"): the label grows to its text,
// around the side its text is aligned to.
void keepTextWhole(QLabel* l) {
  if (l->wordWrap() || l->text().isEmpty()) return;
  const int need = l->sizeHint().width();
  if (need <= l->width()) return;
  const int grow = need - l->width();
  const Qt::Alignment h = l->alignment() & Qt::AlignHorizontal_Mask;
  const int left = h & Qt::AlignRight ? grow : h & Qt::AlignHCenter ? grow / 2 : 0;
  l->setMinimumWidth(0);
  l->setMaximumWidth(QWIDGETSIZE_MAX);
  l->setGeometry(l->x() - left, l->y(), need, l->height());
}

void scaleTree(QWidget* w, double f) {
  for (QObject* o : w->children()) {
    auto* c = qobject_cast<QWidget*>(o);
    if (!c || c->isWindow()) continue;
    const QRect g = c->geometry();
    c->setGeometry(scaled(g.x(), f), scaled(g.y(), f), scaled(g.width(), f), scaled(g.height(), f));
    if (c->testAttribute(Qt::WA_SetFont)) c->setFont(scaledFont(c->font(), f));
    scaleTree(c, f);
  }
}

void fitLabels(QWidget* w) {
  for (QLabel* l : w->findChildren<QLabel*>()) keepTextWhole(l);
}

}  // namespace

void scaleChildren(QWidget* window, double factor) {
  if (!window || factor <= 0 || factor == 1.0) return;
  scaleTree(window, factor);
  // Last, so the children with fonts of their own took theirs from the
  // unscaled one; the others, captions and buttons, inherit this.
  window->setFont(scaledFont(window->font(), factor));
  fitLabels(window);
}

}  // namespace zrq::frame
