// The communication test log TKS7730ComTest.log in the per-user log folder:
// truncated when the connection window opens it, one flushed line per write,
// shared by every port and thread.
#pragma once

#include <string>

namespace zrq::comm {

// $ZRQ_LOG_DIR, else $XDG_STATE_HOME/zrq, else ~/.local/state/zrq. Created
// with mode 0700 when missing; empty when no folder can be named.
std::string logFolder(bool create = true);

namespace ComTestLog {

inline constexpr const char* FILE_NAME = "TKS7730ComTest.log";

// Opens (truncating) the log; any file already open is closed first.
// Returns false when the file cannot be opened (nothing is logged then).
bool open(const std::string& path);
bool openDefault();
void close();
bool isOpen();
std::string path();
// Writes text as given and flushes; nothing happens when no log is open.
void write(const std::string& text);

}  // namespace ComTestLog
}  // namespace zrq::comm
