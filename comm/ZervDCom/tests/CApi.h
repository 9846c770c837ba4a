#pragma once
// The built libZervDCom.so, loaded as the application loads it: dlopen by
// file name and every comm_* bound by name.

#include <cstdlib>
#include <dlfcn.h>
#include <string>

#include "ZervDCom.h"

// The folder every built program lands in.
inline std::string binDir() {
  if (const char* bin = std::getenv("ZRQ_BIN_DIR"); bin && *bin) return bin;
  std::string so = ZERVDCOM_SO;
  return so.substr(0, so.find_last_of('/'));
}

inline std::string zervdcomPath() {
  if (const char* bin = std::getenv("ZRQ_BIN_DIR"); bin && *bin)
    return std::string(bin) + "/" ZERVDCOM_LIBRARY_NAME;
  return ZERVDCOM_SO;
}

struct CApi {
#define X(name) name##_fn name = nullptr;
  ZERVDCOM_FUNCTIONS(X)
#undef X
  void* lib = nullptr;
  int bound = 0;

  bool load() {
    lib = ::dlopen(zervdcomPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) return false;
#define X(name) \
  if ((name = reinterpret_cast<name##_fn>(::dlsym(lib, #name)))) ++bound;
    ZERVDCOM_FUNCTIONS(X)
#undef X
    return bound == 20;
  }
  void unload() {
    if (lib) ::dlclose(lib);
    lib = nullptr;
  }
};

inline std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
