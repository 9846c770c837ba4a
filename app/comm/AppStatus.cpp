#include "AppStatus.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "CommAssert.h"
#include "ComTestLog.h"

namespace zrq::comm {

namespace {
constexpr const char* kUnit = "AppStatus";
}

void MemoryStatusMemo::appendLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(line);
}

void MemoryStatusMemo::clearLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

std::vector<std::string> MemoryStatusMemo::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool MemoryStatusMemo::contains(const std::string& line) const { return find(line) >= 0; }

int MemoryStatusMemo::find(const std::string& line, int from) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = static_cast<std::size_t>(std::max(from, 0)); i < lines_.size(); ++i)
    if (lines_[i] == line) return static_cast<int>(i);
  return -1;
}

AppStatus::AppStatus(StatusMemo* statusMemo) : p_statusMemo_(statusMemo) {
  try {
    clear();
  } catch (...) {
  }
}

AppStatus::~AppStatus() {
  try {
    clear();
  } catch (...) {
  }
}

void AppStatus::add(const std::string& text) {
  ZRQ_COMM_ASSERT(p_statusMemo_ != nullptr, "p_statusMemo_ != NULL", kUnit);
  // One lock over memo and log keeps lines of different threads in the same
  // order in both.
  std::lock_guard<std::recursive_mutex> lock(lock_);
  p_statusMemo_->appendLine(text);
  ComTestLog::write(text + "\n");
}

void AppStatus::addf(const char* format, ...) {
  char buf[512] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  add(buf);
}

void AppStatus::clear() {
  ZRQ_COMM_ASSERT(p_statusMemo_ != nullptr, "p_statusMemo_ != NULL", kUnit);
  std::lock_guard<std::recursive_mutex> lock(lock_);
  p_statusMemo_->clearLines();
}

}  // namespace zrq::comm
