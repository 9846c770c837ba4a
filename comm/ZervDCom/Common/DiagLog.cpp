#include "Common/DiagLog.h"

#include <cstdarg>

#include "Common/Assertion.h"
#include "Common/Exc.h"
#include "Common/LogDir.h"

DiagLog& DiagLog::instance() {
  static DiagLog log;
  return log;
}

void DiagLog::init(int level, const char* fileName, bool append) {
  CsLock lk(cs_);
  if (fileName && *fileName && level != 0) {
    ZRQ_ASSERT(file_ == nullptr);
    if (file_) {
      std::fclose(file_);
      file_ = nullptr;
    }
    file_ = openLogFile(fileName, append);
    if (!file_) {
      enabled_ = false;
      throw CannotOpenFileExc(fileName, ZRQ_HERE);
    }
    level_ = level;
    enabled_ = level > 0;
  } else {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    level_ = level;
    enabled_ = false;
  }
}

void DiagLog::write(LogKind kind, int level, const char* fmt, ...) {
  static const char* const kTags[] = {"COMM  >>>", "USB   >>>", "Serial>>>", "MISC  >>>"};
  CsLock lk(cs_);
  if (!file_ || !enabled_ || kind == LogKind::None || level > level_) return;
  int k = static_cast<int>(kind);
  if (k < 0 || k > 3) return;
  std::fprintf(file_, "Log: %s", kTags[k]);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(file_, fmt, ap);
  va_end(ap);
}

void DiagLog::flush() {
  CsLock lk(cs_);
  if (file_) std::fflush(file_);
}

void DiagLog::close() {
  CsLock lk(cs_);
  if (file_) std::fclose(file_);
  file_ = nullptr;
  enabled_ = false;
}

bool DiagLog::isEnabled() const {
  CsLock lk(cs_);
  return enabled_;
}

int DiagLog::level() const {
  CsLock lk(cs_);
  return level_;
}
