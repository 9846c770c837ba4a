#include "scpi/Errors.h"

namespace zrq::scpi {

const char* errorText(int code) {
  switch (code) {
    case 0:
      return "No error";
    case -100:
      return "Command error";
    case -101:
      return "Invalid character";
    case -102:
      return "Syntax error";
    case -103:
      return "Invalid separator";
    case -104:
      return "Data type error";
    case -108:
      return "Parameter not allowed";
    case -109:
      return "Missing parameter";
    case -110:
      return "Command header error";
    case -113:
      return "Undefined header";
    case -114:
      return "Header suffix out of range";
    case -120:
      return "Numeric data error";
    case -131:
      return "Invalid suffix";
    case -138:
      return "Suffix not allowed";
    case -141:
      return "Invalid character data";
    case -150:
      return "String data error";
    case -200:
      return "Execution error";
    case -213:
      return "Init ignored";
    case -220:
      return "Parameter error";
    case -221:
      return "Settings conflict";
    case -222:
      return "Data out of range";
    case -223:
      return "Too much data";
    case -224:
      return "Illegal parameter value";
    case -230:
      return "Data corrupt or stale";
    case -240:
      return "Hardware error";
    case -241:
      return "Hardware missing";
    case -300:
      return "Device-specific error";
    case -310:
      return "System error";
    case -330:
      return "Self-test failed";
    case -350:
      return "Queue overflow";
    case -363:
      return "Input buffer overrun";
    case -400:
      return "Query error";
    case -410:
      return "Query INTERRUPTED";
    case -420:
      return "Query UNTERMINATED";
    case -430:
      return "Query DEADLOCKED";
    case -440:
      return "Query UNTERMINATED after indefinite response";
    default:
      return "Unknown error";
  }
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
