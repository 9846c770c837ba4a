#include "CommAssert.h"

#include <cstdio>

namespace zrq::comm {

namespace {
std::string describe(const char* condition, const char* unit, int line) {
  return std::string("Assertion failed: ") + condition + " (" + unit + ", line " +
         std::to_string(line) + ")";
}
}  // namespace

AssertionFailed::AssertionFailed(const char* condition, const char* unit, int line)
    : std::logic_error(describe(condition, unit, line)), condition_(condition) {}

void assertionFailed(const char* condition, const char* unit, int line) {
  AssertionFailed failure(condition, unit, line);
  std::fprintf(stderr, "%s\n", failure.what());
  throw failure;
}

}  // namespace zrq::comm
