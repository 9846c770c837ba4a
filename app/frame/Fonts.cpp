#include "Fonts.h"

#include <QFontDatabase>
#include <QStringList>
#include <cmath>

namespace zrq::frame {

void installFontSubstitutes() {
  QFont::insertSubstitutions(QStringLiteral("Arial Black"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  QFont::insertSubstitutions(QStringLiteral("Arial"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
}

QFont designFont(const QString& family, int points, bool bold) {
  QFont f(family);
  f.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
  // The substitute of Arial Black is an ordinary sans face: only the weight
  // makes it read as the heavy read-out face.
  if (family == QLatin1String("Arial Black"))
    f.setWeight(QFont::Black);
  else if (bold)
    f.setWeight(QFont::Bold);
  return f;
}

}  // namespace zrq::frame
