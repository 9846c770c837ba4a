// The status sink of the connection side: every line goes to the connection
// window's status memo and to the communication test log.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace zrq::comm {

// The memo as AppStatus sees it. Lines may be appended from any thread; an
// implementation bound to a window hands them to the interface thread in the
// order they were appended.
class StatusMemo {
 public:
  virtual ~StatusMemo() = default;
  virtual void appendLine(const std::string& line) = 0;
  virtual void clearLines() = 0;
};

// A memo that only keeps its lines (tests, and code run without a window).
class MemoryStatusMemo : public StatusMemo {
 public:
  void appendLine(const std::string& line) override;
  void clearLines() override;
  std::vector<std::string> lines() const;
  bool contains(const std::string& line) const;
  // Index of the first line at or after `from` equal to line, or -1.
  int find(const std::string& line, int from = 0) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class AppStatus {
 public:
  // The memo must outlive the sink; it is cleared here and on destruction.
  explicit AppStatus(StatusMemo* statusMemo);
  virtual ~AppStatus();
  AppStatus(const AppStatus&) = delete;
  AppStatus& operator=(const AppStatus&) = delete;

  virtual void add(const std::string& text);
  // printf-style; the result is cut to 511 characters.
  virtual void addf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  virtual void clear();

 private:
  StatusMemo* p_statusMemo_;
  std::recursive_mutex lock_;
};

}  // namespace zrq::comm
