#include "TrendRecorder.h"

#include <chrono>

#include "remote/TrendRecord.h"

namespace zrq::app {

TrendRecorder::TrendRecorder(const core::InstrumentState& state, QObject* parent)
    : QObject(parent), state_(state) {}

void TrendRecorder::readingAccepted() {
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  store_.push(remote::trendSampleOf(state_, now));
  emit appended();
}

}  // namespace zrq::app
