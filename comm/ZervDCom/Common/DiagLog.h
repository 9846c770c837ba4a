#pragma once
// The library-wide diagnostic log. At level 0 (normal use) it writes nothing
// and creates no file.

#include <cstdio>
#include <string>

#include "CriticalSection.h"

enum class LogKind : int { COMM = 0, USB = 1, Serial = 2, MISC = 3, None = 4 };

class DiagLog {
 public:
  static DiagLog& instance();

  // A relative file name is placed in the per-user log folder. Raises
  // CannotOpenFileExc when the file cannot be opened.
  void init(int level, const char* fileName, bool append);
  void write(LogKind kind, int level, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
  void flush();
  void close();

  bool isEnabled() const;
  int level() const;

 private:
  DiagLog() = default;
  mutable CriticalSection cs_;
  FILE* file_ = nullptr;
  int level_ = 0;
  bool enabled_ = false;
};

inline DiagLog& diagLog() { return DiagLog::instance(); }
