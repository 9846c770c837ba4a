#pragma once
// The library's exception family. Every raise site attaches a DebugInfo with
// its source location (use ZRQ_HERE); exceptions are thrown by value and
// caught by reference.

#include <optional>
#include <string>

class DebugInfo {
 public:
  DebugInfo(const char* file, int line);
  // "File: %s at line %d"
  const std::u16string& text() const noexcept { return text_; }

 private:
  std::u16string text_;
};

#define ZRQ_HERE (::DebugInfo(__FILE__, __LINE__))

class Exc {
 public:
  explicit Exc(std::u16string description = {}, std::optional<DebugInfo> location = std::nullopt);
  virtual ~Exc();

  const std::u16string& description() const noexcept { return description_; }
  // "class <run-time type name>: <description>"
  std::u16string whatText() const;
  // The DebugInfo text, empty when the exception carries none.
  std::u16string locationText() const;
  // what-text, " - location: ", location text: what a last error's detail holds.
  std::u16string detailText() const;

 private:
  std::u16string description_;
  std::optional<DebugInfo> location_;
};

namespace CommErrInfo {

class CommExc : public Exc {
 public:
  CommExc(int code, std::optional<DebugInfo> location);
  CommExc(int code, std::u16string description, std::optional<DebugInfo> location);
  ~CommExc() override;
  int code() const noexcept { return code_; }

 private:
  int code_;
};

// A failed operating-system call: "<call> failed. Win32 message: <strerror text>".
// The call name keeps the logical operation's name whichever Linux call did it.
class CommWin32Exc : public CommExc {
 public:
  CommWin32Exc(int code, const char* callName, int osError, std::optional<DebugInfo> location);
  ~CommWin32Exc() override;
  int osError() const noexcept { return osError_; }

 private:
  int osError_;
};

// A failed C run-time call: "<call> failed. errno message: <strerror text>".
class CommSTDCExc : public CommExc {
 public:
  CommSTDCExc(int code, const char* callName, int errnum, std::optional<DebugInfo> location);
  ~CommSTDCExc() override;
};

}  // namespace CommErrInfo

class IndexOutOfBoundsExc : public Exc {
 public:
  IndexOutOfBoundsExc(unsigned index, unsigned size, std::optional<DebugInfo> location);
  ~IndexOutOfBoundsExc() override;
};

class CriticalSectionExc : public Exc {
 public:
  explicit CriticalSectionExc(std::optional<DebugInfo> location);
  ~CriticalSectionExc() override;
};

class CannotOpenFileExc : public Exc {
 public:
  CannotOpenFileExc(const std::string& fileName, std::optional<DebugInfo> location);
  ~CannotOpenFileExc() override;
};

class CannotLoadRscExc : public Exc {
 public:
  CannotLoadRscExc(int id, std::optional<DebugInfo> location);
  ~CannotLoadRscExc() override;
};

// Last error (or helper-thread status) made from the exception being handled.
struct ErrInfo {
  int code;
  std::u16string detail;
};

// Call only inside a catch block: CommExc family -> its code and detail text,
// any other Exc -> 33 with the detail text, anything else -> 34, no detail.
ErrInfo errInfoFromCurrentException() noexcept;
