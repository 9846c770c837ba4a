// The CSV log file: opened for appending, the header lines only when the file
// is new, one whole record per write.
//
// A record is never torn: the caller builds the whole line, append() writes it
// in one call, checks the count and, after a short or failed write, cuts the
// file back so it ends with the last whole record. Errors come back as values
// with a text for the user; nothing throws.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace zrq::core {

struct LogFileResult {
  bool ok = true;
  int errorNumber = 0;  // errno of the failure, 0 when none applies
  std::string message;  // what went wrong, with the file's name
  explicit operator bool() const { return ok; }
};

class LogFile {
 public:
  LogFile() = default;
  ~LogFile() { close(); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens `path` for appending (creating it with mode 0666 less the umask).
  // A file that did not exist gets the two header lines; if they cannot be
  // written the new file is removed again, so a later attempt starts afresh
  // with headers. On failure nothing stays open.
  LogFileResult open(const std::string& path);

  // Writes one record (its line end included) in a single call. Fails when
  // no file is open, when the file was deleted meanwhile (its records would go
  // nowhere), and on any short or failed write.
  LogFileResult append(std::string_view record);

  void close();
  bool isOpen() const { return fd_ >= 0; }
  // The last open() created the file and wrote the header lines.
  bool createdNew() const { return createdNew_; }
  const std::string& path() const { return path_; }

 private:
  LogFileResult fail(int err, std::string_view what);
  LogFileResult writeWhole(std::string_view text);

  int fd_ = -1;
  bool createdNew_ = false;
  std::string path_;
};

}  // namespace zrq::core
