// meter_bench: what a repaint of the meter control costs, against a baseline
// measured in the same run.
//
//   value     Value changes and the control paints itself into a target
//             image, at 234 x 155 and device pixel ratio 1 and 2, against
//             drawing one cached image of that size plus one antialiased
//             line into the same target (goal: at most 1.3 times)
//   rebuild   a geometry property changes and the control paints: scale,
//             labels and layer are rebuilt (a figure, no goal)
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchTiming.h"
#include "DialixHQCtrl.h"

using namespace zrq::meter;

namespace {

using zrq::bench::Clock;

// Median over rounds of the mean time of one call in a batch, in microseconds.
template <typename F>
double timeIt(F&& f, int rounds = 41, int batch = 200) {
  std::vector<double> t;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = Clock::now();
    for (int i = 0; i < batch; ++i) f(i);
    t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / batch);
  }
  return zrq::bench::median(std::move(t));
}

QImage target(qreal dpr) {
  QImage img(QSize(int(234 * dpr), int(155 * dpr)), QImage::Format_ARGB32_Premultiplied);
  img.setDevicePixelRatio(dpr);
  img.fill(Qt::white);
  return img;
}

bool valueBench(qreal dpr) {
  CDialixHQCtrl ctrl;
  ctrl.resize(234, 155);
  ctrl.setProp(kCaption, std::string("Average Power"));
  ctrl.setProp(kIndexThickness, int16_t(2));
  QImage out = target(dpr);

  // Baseline: one cached image of the same size and one antialiased line.
  QImage cached = ctrl.renderImage(dpr);
  const double baseline = timeIt([&](int i) {
    QPainter p(&out);
    p.drawImage(QPoint(0, 0), cached);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::red, 2));
    p.drawLine(QPointF(117.5, 123.5), QPointF(30.5 + (i % 170), 20.5));
  });

  const double meter = timeIt([&](int i) {
    ctrl.setProp(kValue, double(i % 101));
    QPainter p(&out);
    ctrl.paintMeter(p);
  });
  const int layers = ctrl.layerRebuilds();

  const double rebuild = timeIt(
      [&](int i) {
        ctrl.setProp(kMaximumValue, i % 2 ? 100.0 : 150.0);
        QPainter p(&out);
        ctrl.paintMeter(p);
      },
      21, 20);

  const double ratio = meter / baseline;
  std::printf("234 x 155 at device pixel ratio %.0f (microseconds per paint, median):\n", dpr);
  std::printf("  baseline: cached image + one antialiased line   %8.2f\n", baseline);
  std::printf("  meter repaint after a Value change              %8.2f  (x%.2f)\n", meter, ratio);
  std::printf("  layer rebuilds during the Value changes         %8d\n", layers - 1);
  std::printf("  full rebuild after a geometry change            %8.2f  (x%.1f the baseline)\n",
              rebuild, rebuild / baseline);
  std::printf("  goal: Value repaint at most 1.3 x baseline: %s\n",
              ratio <= 1.3 ? "met" : "NOT met");
  return ratio <= 1.3;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const bool one = valueBench(1.0);
  const bool two = valueBench(2.0);
  return one && two ? 0 : 1;
}
