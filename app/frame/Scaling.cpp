#include "Scaling.h"

#include <QGuiApplication>
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

void scaleTree(QWidget* w, double f) {
  for (QObject* o : w->children()) {
    auto* c = qobject_cast<QWidget*>(o);
    if (!c || c->isWindow()) continue;
    const QRect g = c->geometry();
    c->setGeometry(scaled(g.x(), f), scaled(g.y(), f), scaled(g.width(), f), scaled(g.height(), f));
    if (c->testAttribute(Qt::WA_SetFont)) {
      QFont font = c->font();
      if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, scaled(font.pixelSize(), f)));
      else if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * f);
      c->setFont(font);
    }
    scaleTree(c, f);
  }
}

}  // namespace

void scaleChildren(QWidget* window, double factor) {
  if (!window || factor <= 0 || factor == 1.0) return;
  scaleTree(window, factor);
}

}  // namespace zrq::frame
