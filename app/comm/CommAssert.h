// Precondition checks of the connection side. A failed check is a programming
// error of the caller: it is thrown as AssertionFailed naming the condition,
// the source unit and the line, so it can neither pass unnoticed nor kill a
// window without a report.
#pragma once

#include <stdexcept>
#include <string>

namespace zrq::comm {

class AssertionFailed : public std::logic_error {
 public:
  AssertionFailed(const char* condition, const char* unit, int line);
  const std::string& condition() const { return condition_; }

 private:
  std::string condition_;
};

[[noreturn]] void assertionFailed(const char* condition, const char* unit, int line);

}  // namespace zrq::comm

#define ZRQ_COMM_ASSERT(cond, text, unit)                            \
  do {                                                               \
    if (!(cond)) ::zrq::comm::assertionFailed(text, unit, __LINE__); \
  } while (0)
