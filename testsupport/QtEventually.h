// Waiting for what another process does while the event loop keeps running
// (timers, queued status lines): bounded, so a loaded machine makes a test
// wait longer but never hang.
#pragma once

#include <QElapsedTimer>
#include <QTest>
#include <functional>

namespace zrq::test::qt {

inline bool eventually(const std::function<bool()>& pred, int timeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return false;
    QTest::qWait(10);
  }
  return true;
}

}  // namespace zrq::test::qt
