#include "Frame.h"

#include "Fonts.h"
#include "QtMessageBoxes.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

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

void installFrame() {
  installFontSubstitutes();
  zrq::ui::setMessageBoxes(&qtBoxes);
  zrq::ui::setDelayFunction(&eventLoopDelay);
}

void uninstallFrame() {
  zrq::ui::setMessageBoxes(nullptr);
  zrq::ui::setDelayFunction({});
}

}  // namespace zrq::frame
