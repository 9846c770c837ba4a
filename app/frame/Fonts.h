// Fonts requested by the names the windows were designed with.
#pragma once

#include <QFont>
#include <QString>

namespace zrq::frame {

// "Arial Black" and "MS Sans Serif" have no fontconfig alias on Debian; map
// them once, before the first window is built.
void installFontSubstitutes();

// A font of the design family and point size. Sizes are fixed in pixels for
// the 96 dpi the windows were laid out at, so the panel looks the same on
// every display; scaling windows then scales these pixel sizes.
QFont designFont(const QString& family, int points, bool bold = false);

}  // namespace zrq::frame
