#pragma once
// The UUCP lock file /run/lock/LCK..<name> other serial programs honour.

#include <string>

// Creates the lock for a device path. Returns the lock file's path, "" when
// the lock folder is not writable (no lock is taken then). Sets busy when a
// live process (this one included) holds it.
std::string acquireUucpLock(const std::string& devicePath, bool& busy,
                            const char* lockDir = "/run/lock");
void releaseUucpLock(const std::string& lockPath);
