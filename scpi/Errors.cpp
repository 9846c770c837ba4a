#include "scpi/Errors.h"

namespace zrq::scpi {

const char* errorText(int code) {
  static const struct {
    int code;
    const char* text;
  } texts[] = {
      {0, "No error"},
      {-100, "Command error"},
      {-101, "Invalid character"},
      {-102, "Syntax error"},
      {-103, "Invalid separator"},
      {-104, "Data type error"},
      {-108, "Parameter not allowed"},
      {-109, "Missing parameter"},
      {-110, "Command header error"},
      {-113, "Undefined header"},
      {-114, "Header suffix out of range"},
      {-120, "Numeric data error"},
      {-131, "Invalid suffix"},
      {-138, "Suffix not allowed"},
      {-141, "Invalid character data"},
      {-150, "String data error"},
      {-200, "Execution error"},
      {-213, "Init ignored"},
      {-220, "Parameter error"},
      {-221, "Settings conflict"},
      {-222, "Data out of range"},
      {-223, "Too much data"},
      {-224, "Illegal parameter value"},
      {-230, "Data corrupt or stale"},
      {-240, "Hardware error"},
      {-241, "Hardware missing"},
      {-300, "Device-specific error"},
      {-310, "System error"},
      {-330, "Self-test failed"},
      {-350, "Queue overflow"},
      {-363, "Input buffer overrun"},
      {-400, "Query error"},
      {-410, "Query INTERRUPTED"},
      {-420, "Query UNTERMINATED"},
      {-430, "Query DEADLOCKED"},
      {-440, "Query UNTERMINATED after indefinite response"},
  };
  for (const auto& t : texts)
    if (t.code == code) return t.text;
  return "Unknown error";
}

unsigned esrBitFor(int code) {
  if (code <= -100 && code > -200) return 0x20;
  if (code <= -200 && code > -300) return 0x10;
  if (code <= -300 && code > -400) return 0x08;
  if (code <= -400 && code > -500) return 0x04;
  return 0;
}

std::string formatError(const Error& e) {
  std::string text = errorText(e.code);
  if (!e.detail.empty()) text += ";" + e.detail;
  std::string out = std::to_string(e.code) + ",\"";
  for (char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

void ErrorQueue::push(int code, std::string detail) {
  if (q_.size() < kCapacity)
    q_.push_back(Error{code, std::move(detail)});
  else
    q_.back() = Error{-350, {}};
}

std::optional<Error> ErrorQueue::pop() {
  if (q_.empty()) return std::nullopt;
  Error e = std::move(q_.front());
  q_.pop_front();
  return e;
}

}  // namespace zrq::scpi
