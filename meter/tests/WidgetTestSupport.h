// Shared helpers of the widget tests: one QApplication, pixel checks.
#pragma once

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QImage>
#include <cstdlib>
#include <string>

#include "QtTestApp.h"

namespace meter_test {

using zrq::test::qt::ensureApplication;

// Colour of the logical pixel (x, y) in an image drawn at its device pixel ratio.
inline QColor at(const QImage& img, int x, int y) {
  const qreal dpr = img.devicePixelRatio();
  return img.pixelColor(int(x * dpr), int(y * dpr));
}

inline std::string rgb(const QColor& c) {
  return std::to_string(c.red()) + "," + std::to_string(c.green()) + "," + std::to_string(c.blue());
}

// Artefacts land beside bin/, in artefacts/.
inline QString artefact(const char* name) {
  const char* bin = std::getenv("ZRQ_BIN_DIR");
  QDir dir(bin ? QString::fromLocal8Bit(bin) + QStringLiteral("/..") : QDir::tempPath());
  dir.mkpath(QStringLiteral("artefacts"));
  return dir.absoluteFilePath(QStringLiteral("artefacts/") + QString::fromLatin1(name));
}

}  // namespace meter_test
