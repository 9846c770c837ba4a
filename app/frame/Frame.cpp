#include "Frame.h"

#include "Fonts.h"
#include "QtMessageBoxes.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace zrq::frame {

namespace {
QtMessageBoxes qtBoxes;
}

void eventLoopDelay(int ms) {
  if (ms <= 0) return;
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  // User input stays live, as it did during the original waits; the windows
  // guard their own re-entry.
  loop.exec();
}

void eventLoopWait(const std::function<bool()>& finished) {
  if (finished()) return;
  QEventLoop loop;
  QTimer slice;
  QElapsedTimer since;
  since.start();
  bool said = false;
  // Short slices: a reply usually comes within milliseconds, and the window
  // repaints and takes input in between.
  slice.setInterval(kWaitSliceMs);
  QObject::connect(&slice, &QTimer::timeout, &loop, [&] {
    if (finished()) {
      loop.quit();
    } else if (!said && since.elapsed() >= kWaitSaidAfterMs) {
      said = true;
      zrq::ui::indicateWait(true);
    }
  });
  slice.start();
  loop.exec();
  if (said) zrq::ui::indicateWait(false);
}

void installFrame() {
  installFontSubstitutes();
  zrq::ui::setMessageBoxes(&qtBoxes);
  zrq::ui::setDelayFunction(&eventLoopDelay);
  zrq::ui::setWaitFunction(&eventLoopWait);
}

void uninstallFrame() {
  zrq::ui::setMessageBoxes(nullptr);
  zrq::ui::setDelayFunction({});
  zrq::ui::setWaitFunction({});
}

}  // namespace zrq::frame
