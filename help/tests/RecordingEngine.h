// A stand-in HTML Help plug-in that records every call it receives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HhRecord {
  uintptr_t caller = 0;
  std::string file;
  unsigned command = 0;
  uintptr_t data = 0;
  std::string text;  // topic, keyword, query or pop-up text the data pointed at
  int x = 0, y = 0;  // pop-up position; window type rectangle's left/top
  int right = 0, bottom = 0;
  unsigned valid = 0, props = 0;
  int idNotify = 0;
  uintptr_t owner = 0;
};

extern "C" {
__attribute__((visibility("default"))) const std::vector<HhRecord>& hhrec_calls();
__attribute__((visibility("default"))) void hhrec_reset();
// What HH_GET_WIN_TYPE answers (0: no window type) and the rectangle it gives.
__attribute__((visibility("default"))) void hhrec_set_wintype(int result, int left, int top,
                                                              int right, int bottom);
// What every other command answers.
__attribute__((visibility("default"))) void hhrec_set_result(intptr_t result);
// Sends a notification to the owner of the last window type set.
__attribute__((visibility("default"))) void hhrec_notify(int code, const char* url);
}
