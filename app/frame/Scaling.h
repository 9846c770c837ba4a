// Windows are designed for a 1024-pixel-wide screen and scale themselves by
// the real screen width over that design width.
#pragma once

class QWidget;

namespace zrq::frame {

inline constexpr int kDesignScreenWidth = 1024;
inline constexpr int kDesignScreenHeight = 768;

// Screen width / 1024 of the primary screen (1 when there is no screen).
// ZRQ_SCREEN_SCALE, when set to a positive number, overrides it, so that
// screenshots and benchmarks do not depend on the virtual display's size.
double screenScale();

// Scales the positions and sizes of every child widget and their fonts (the
// window's own font too, which the children without one of their own
// inherit), like a window framework's ScaleBy; a label whose scaled text
// outgrew its scaled box grows to fit it. The window's own size is left to
// the caller, as each window fits it differently.
void scaleChildren(QWidget* window, double factor);

}  // namespace zrq::frame
