// Waiting in a test for what another thread or process does: the condition
// is polled every few milliseconds up to a generous bound, so a loaded
// machine makes the test slower, never flaky, and a fault fails it instead of
// hanging it.
#pragma once

#include <functional>

namespace zrq::test {

// Whether pred held before timeoutMs ran out.
bool eventually(const std::function<bool()>& pred, int timeoutMs = 5000);

}  // namespace zrq::test
