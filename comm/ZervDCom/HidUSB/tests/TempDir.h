#pragma once
#include <filesystem>
#include <string>
#include <cstdlib>
#include <unistd.h>

namespace HidTestData {

// A private temporary folder removed with its contents at the end of a test.
// Kept short: socket paths must fit in 108 bytes.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/zrqhidXXXXXX";
    const char* p = ::mkdtemp(tmpl);
    path_ = p ? p : "";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace HidTestData
