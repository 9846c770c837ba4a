#include "RecordingEngine.h"

#include "HelpConsts.h"

namespace {
std::vector<HhRecord> g_calls;
int g_winResult = 1;
hb::HhWinType g_winType;
hb::HhWinType g_lastSet;
intptr_t g_result = 1;
}  // namespace

extern "C" {

const std::vector<HhRecord>& hhrec_calls() { return g_calls; }

void hhrec_reset() {
  g_calls.clear();
  g_winResult = 1;
  g_winType = hb::HhWinType{};
  g_winType.left = 100;
  g_winType.top = 100;
  g_winType.right = 700;
  g_winType.bottom = 500;
  g_lastSet = hb::HhWinType{};
  g_result = 1;
}

void hhrec_set_wintype(int result, int left, int top, int right, int bottom) {
  g_winResult = result;
  g_winType.left = left;
  g_winType.top = top;
  g_winType.right = right;
  g_winType.bottom = bottom;
}

void hhrec_set_result(intptr_t result) { g_result = result; }

void hhrec_notify(int code, const char* url) {
  if (g_lastSet.notify)
    g_lastSet.notify(g_lastSet.notifyContext, g_lastSet.hwndCaller, g_lastSet.idNotify, code, url);
}

__attribute__((visibility("default"))) intptr_t HtmlHelpA(uintptr_t caller, const char* file,
                                                          unsigned command, uintptr_t data) {
  HhRecord r;
  r.caller = caller;
  r.file = file ? file : "";
  r.command = command;
  r.data = data;
  intptr_t result = g_result;
  switch (command) {
    case hb::HH_DISPLAY_TOPIC:
    case hb::HH_DISPLAY_INDEX:
      if (data) r.text = reinterpret_cast<const char*>(data);
      break;
    case hb::HH_DISPLAY_SEARCH:
      if (data) {
        auto* q = reinterpret_cast<const hb::HhFtsQuery*>(data);
        r.text = q->pszSearchQuery ? q->pszSearchQuery : "";
        r.x = static_cast<int>(q->iProximity);
        r.y = q->cbStruct;
      }
      break;
    case hb::HH_DISPLAY_TEXT_POPUP:
      if (data) {
        auto* p = reinterpret_cast<const hb::HhPopup*>(data);
        r.text = p->pszText ? p->pszText : "";
        r.x = p->x;
        r.y = p->y;
      }
      break;
    case hb::HH_GET_WIN_TYPE:
      if (g_winResult > 0 && data) *reinterpret_cast<hb::HhWinType*>(data) = g_winType;
      result = g_winResult;
      break;
    case hb::HH_SET_WIN_TYPE:
      if (data) {
        g_lastSet = *reinterpret_cast<const hb::HhWinType*>(data);
        r.x = g_lastSet.left;
        r.y = g_lastSet.top;
        r.right = g_lastSet.right;
        r.bottom = g_lastSet.bottom;
        r.valid = g_lastSet.fsValidMembers;
        r.props = g_lastSet.fsWinProperties;
        r.idNotify = g_lastSet.idNotify;
        r.owner = g_lastSet.hwndCaller;
      }
      break;
    default:
      break;
  }
  g_calls.push_back(r);
  return result;
}

}  // extern "C"
