#include "Trace.h"

namespace tks7730sim {

Trace::~Trace() {
  if (file_ && ownsFile_) std::fclose(file_);
}

bool Trace::open(const std::string& path, TimePoint start) {
  start_ = start;
  if (path == "-") {
    file_ = stderr;
    return true;
  }
  file_ = std::fopen(path.c_str(), "we");
  ownsFile_ = file_ != nullptr;
  return file_ != nullptr;
}

void Trace::captureInMemory(TimePoint start) {
  start_ = start;
  capture_ = true;
}

void Trace::log(TimePoint now, std::string_view sensor, std::string_view event) {
  if (!enabled()) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count();
  std::string line = std::to_string(ms);
  line += ' ';
  line += sensor;
  line += ' ';
  line += event;
  line += '\n';
  if (capture_) text_ += line;
  if (file_) {
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);  // tests read the file while the simulator runs
  }
}

std::string hexBytes(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

}  // namespace tks7730sim
