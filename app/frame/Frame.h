// Start-up of the window framework: message boxes, delay and fonts.
#pragma once

namespace zrq::frame {

// Routes every message box to QMessageBox, makes zrq::ui::delayMs keep the
// event loop running, and registers the font substitutes. Call once, after
// the QApplication exists; uninstallFrame undoes the first two.
void installFrame();
void uninstallFrame();

// Waits ms milliseconds while the event loop keeps running (timers, repaints).
void eventLoopDelay(int ms);

}  // namespace zrq::frame
