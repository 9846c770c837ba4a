#include "Common/Exc.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <typeinfo>

#include "Common/ErrCodes.h"
#include "Common/WideText.h"

namespace {

std::u16string demangledName(const std::type_info& ti) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(ti.name(), nullptr, nullptr, &status), std::free);
  return toU16(status == 0 && name ? name.get() : ti.name());
}

// Locale-independent English text of an errno value, or nullptr if unknown.
const char* errnoText(int err) { return strerrordesc_np(err); }

std::u16string osDescription(const char* callName, const char* middle, int err,
                             const char* unknownFmt) {
  std::u16string d = toU16(callName ? callName : "");
  d += toU16(middle);
  if (const char* t = errnoText(err))
    d += toU16(t);
  else
    d += formatU16(128, unknownFmt, err);
  return d;
}

}  // namespace

DebugInfo::DebugInfo(const char* file, int line)
    : text_(formatU16(512, "File: %s at line %d", file ? file : "", line)) {}

Exc::Exc(std::u16string description, std::optional<DebugInfo> location)
    : description_(std::move(description)), location_(std::move(location)) {}
Exc::~Exc() = default;

std::u16string Exc::whatText() const {
  return u"class " + demangledName(typeid(*this)) + u": " + description_;
}

std::u16string Exc::locationText() const {
  return location_ ? location_->text() : std::u16string();
}

std::u16string Exc::detailText() const { return whatText() + u" - location: " + locationText(); }

namespace CommErrInfo {

CommExc::CommExc(int code, std::optional<DebugInfo> location)
    : Exc({}, std::move(location)), code_(code) {}
CommExc::CommExc(int code, std::u16string description, std::optional<DebugInfo> location)
    : Exc(std::move(description), std::move(location)), code_(code) {}
CommExc::~CommExc() = default;

CommWin32Exc::CommWin32Exc(int code, const char* callName, int osError,
                           std::optional<DebugInfo> location)
    : CommExc(code,
              osDescription(callName, " failed. Win32 message: ", osError,
                            "Unable to get Win32 error string for code %d"),
              std::move(location)),
      osError_(osError) {}
CommWin32Exc::~CommWin32Exc() = default;

CommSTDCExc::CommSTDCExc(int code, const char* callName, int errnum,
                         std::optional<DebugInfo> location)
    : CommExc(code,
              osDescription(callName, " failed. errno message: ", errnum,
                            "Unknown std error string for code %d"),
              std::move(location)) {}
CommSTDCExc::~CommSTDCExc() = default;

}  // namespace CommErrInfo

IndexOutOfBoundsExc::IndexOutOfBoundsExc(unsigned index, unsigned size,
                                         std::optional<DebugInfo> location)
    : Exc(formatU16(256, "requested index=%d; list size=%d", static_cast<int>(index),
                    static_cast<int>(size)),
          std::move(location)) {}
IndexOutOfBoundsExc::~IndexOutOfBoundsExc() = default;

CriticalSectionExc::CriticalSectionExc(std::optional<DebugInfo> location)
    : Exc({}, std::move(location)) {}
CriticalSectionExc::~CriticalSectionExc() = default;

CannotOpenFileExc::CannotOpenFileExc(const std::string& fileName, std::optional<DebugInfo> location)
    : Exc(toU16(fileName), std::move(location)) {}
CannotOpenFileExc::~CannotOpenFileExc() = default;

CannotLoadRscExc::CannotLoadRscExc(int id, std::optional<DebugInfo> location)
    : Exc(formatU16(128, "Unable to load resource (ID=%d)", id), std::move(location)) {}
CannotLoadRscExc::~CannotLoadRscExc() = default;

ErrInfo errInfoFromCurrentException() noexcept {
  try {
    try {
      throw;
    } catch (const CommErrInfo::CommExc& e) {
      return {e.code(), e.detailText()};
    } catch (const Exc& e) {
      return {ErrCode::UnknownError, e.detailText()};
    } catch (...) {
      return {ErrCode::UnhandledException, {}};
    }
  } catch (...) {
    // Building the detail itself failed (out of memory).
    return {ErrCode::UnhandledException, {}};
  }
}
