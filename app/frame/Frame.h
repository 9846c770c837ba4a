// Start-up of the window framework: message boxes, delay and fonts.
#pragma once

#include <functional>

namespace zrq::frame {

// Routes every message box to QMessageBox, makes zrq::ui::delayMs and the
// library's waits (zrq::ui::callResponsive) keep the event loop running, and
// registers the font substitutes. Call once, after the QApplication exists;
// uninstallFrame undoes all but the fonts.
void installFrame();
void uninstallFrame();

// Waits ms milliseconds while the event loop keeps running (timers, repaints).
void eventLoopDelay(int ms);

// Runs the event loop in slices until finished() is true; past
// kWaitSaidAfterMs the wait indicator is told, and told again at the end.
inline constexpr int kWaitSliceMs = 5;
inline constexpr int kWaitSaidAfterMs = 400;
void eventLoopWait(const std::function<bool()>& finished);

}  // namespace zrq::frame
