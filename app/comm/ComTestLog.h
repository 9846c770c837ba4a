// The communication test log TKS7730ComTest.log in the per-user log folder:
// truncated when the connection window opens it, one flushed line per write,
// shared by every port and thread. It streams one line per data read, so it
// rotates: past the size limit it becomes TKS7730ComTest.log.1 (replacing
// the one before) and a new log starts.
#pragma once

#include <cstddef>
#include <string>

namespace zrq::comm {

// $ZRQ_LOG_DIR, else $XDG_STATE_HOME/zrq, else ~/.local/state/zrq, by the
// library's rule. Created with mode 0700 when missing; empty (and why) when
// no folder can be named or made, or it is refused.
std::string logFolder(bool create = true, std::string* why = nullptr);

namespace ComTestLog {

inline constexpr const char* kFileName = "TKS7730ComTest.log";

// Opens (truncating) the log; any file already open is closed first.
// Returns false when the file cannot be opened (nothing is logged then).
bool open(const std::string& path);
// The log in the log folder: TKS7730ComTest.log, or for a second and later
// ZRQ running beside the first, TKS7730ComTest-N.log. false, and why, when
// the log is off.
inline constexpr int kMaxInstances = 16;
std::string instanceFileName(int instance);
bool openDefault(std::string* why = nullptr);
void close();
bool isOpen();
std::string path();
// Writes text as given and flushes; nothing happens when no log is open.
void write(const std::string& text);

inline constexpr std::size_t kDefaultRotateBytes = 10u * 1024 * 1024;
// The size at which the log rotates (tests make it small).
void setRotateBytes(std::size_t bytes);

}  // namespace ComTestLog
}  // namespace zrq::comm
