#pragma once
// Optional log of what the sensors receive and do, for people and for tests that
// check the bytes a command arrived with. One line per event:
//   <ms since start> <sensor> <event>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace tks7730sim {

class Trace {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  Trace() = default;
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  // "-" is standard error. Returns false (errno set) when the file cannot be opened.
  bool open(const std::string& path, TimePoint start);
  // Collects the lines in memory instead (tests).
  void captureInMemory(TimePoint start);
  bool enabled() const { return file_ != nullptr || capture_; }
  void log(TimePoint now, std::string_view sensor, std::string_view event);
  const std::string& captured() const { return text_; }

 private:
  FILE* file_ = nullptr;
  bool ownsFile_ = false;
  bool capture_ = false;
  std::string text_;
  TimePoint start_{};
};

// "47 2C 01 ..." for bytes that may hold control characters.
std::string hexBytes(std::string_view bytes);

}  // namespace tks7730sim
