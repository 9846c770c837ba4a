// The SCPI error/event queue of one client, with the standard texts.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace zrq::scpi {

// The standard text of a code (-100..-440); "Unknown error" for others.
const char* errorText(int code);
// The ESR bit an error sets: CME 0x20, EXE 0x10, DDE 0x08, QYE 0x04; 0 for 0.
unsigned esrBitFor(int code);

struct Error {
  int code = 0;
  std::string detail;
};

// <code>,"<text>[;detail]" with quotes inside doubled.
std::string formatError(const Error& e);

class ErrorQueue {
 public:
  static constexpr std::size_t kCapacity = 16;
  // When full, the newest entry becomes -350 Queue overflow.
  void push(int code, std::string detail = {});
  std::optional<Error> pop();
  std::size_t size() const { return q_.size(); }
  bool empty() const { return q_.empty(); }
  void clear() { q_.clear(); }

 private:
  std::deque<Error> q_;
};

}  // namespace zrq::scpi
