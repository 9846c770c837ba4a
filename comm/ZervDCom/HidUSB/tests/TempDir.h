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

// Sets an environment variable for one scope and puts the old value back, so
// a test never leaves the next one pointing into a folder already removed.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

}  // namespace HidTestData
