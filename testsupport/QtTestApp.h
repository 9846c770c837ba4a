// The one QApplication of a Qt test program, made on first use and kept until
// the process ends: Qt allows one per process, and every test shares it.
#pragma once

#include <QApplication>

namespace zrq::test::qt {

inline QApplication& ensureApplication() {
  static int argc = 1;
  static char name[] = "zrq-qt-test";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) new QApplication(argc, argv);
  return *qApp;
}

}  // namespace zrq::test::qt
