#pragma once
// The per-device marker that a device is in use, across processes: an
// exclusive flock on a file named after the device path (every "/" removed)
// in $XDG_RUNTIME_DIR, else the per-user log folder. The lock lives as long
// as this object; the file is removed when the lock is released (while still
// held, and a locker checks that the file it locked is still the one named).

#include <string>

namespace HidIo {

class HidLockFile {
 public:
  HidLockFile() = default;
  ~HidLockFile() { release(); }
  HidLockFile(const HidLockFile&) = delete;
  HidLockFile& operator=(const HidLockFile&) = delete;

  enum class Result { Locked, Busy, Failed };
  // err receives errno on Failed.
  Result acquire(const std::string& devicePath, int& err);
  void release();
  bool held() const { return fd_ >= 0; }

  // The file a device path maps to (folder created with mode 0700 if needed).
  static std::string lockFilePath(const std::string& devicePath);

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace HidIo
