#pragma once
// The per-user log folder: $ZRQ_LOG_DIR, else $XDG_STATE_HOME/zrq, else
// ~/.local/state/zrq (the home from the password database when HOME is
// unset; no folder at all rather than a shared one); created with mode 0700
// on first need. A folder another user owns, or others may write, is refused
// (said once on standard error).

#include <cstdio>
#include <string>

// "" when there is none.
std::string logDirPath();
// Creates the folder (and missing parents) if needed; false on failure or
// when the folder is refused, with the reason in why when given.
bool ensureLogDir(std::string* why = nullptr);
// Opens a file in the log folder (or an absolute path as given) without
// following a symbolic link; mode "a" or "w". nullptr with errno on failure.
FILE* openLogFile(const std::string& nameOrPath, bool append);
// The full path openLogFile would use for a name.
std::string logFilePath(const std::string& nameOrPath);
