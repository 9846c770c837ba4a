// Help-engine command numbers and the records exchanged with the HTML Help
// plug-in (libhhctrl.so). The records are this program's own layout: the
// plug-in and the bridge are built together, so only `cbStruct` is checked.
#pragma once

#include <cstdint>

#define HB_API __attribute__((visibility("default")))

namespace hb {

// The old engine's commands.
inline constexpr unsigned HELP_CONTEXT = 1;
inline constexpr unsigned HELP_QUIT = 2;
inline constexpr unsigned HELP_INDEX = 3;
inline constexpr unsigned HELP_CONTEXTPOPUP = 8;
inline constexpr unsigned HELP_FINDER = 11;
inline constexpr unsigned HELP_SETPOPUP_POS = 13;
inline constexpr unsigned HELP_TAB = 15;
inline constexpr unsigned HELP_KEY = 257;
inline constexpr unsigned HELP_PARTIALKEY = 261;

// HTML Help commands.
inline constexpr unsigned HH_DISPLAY_TOPIC = 0;
inline constexpr unsigned HH_DISPLAY_TOC = 1;
inline constexpr unsigned HH_DISPLAY_INDEX = 2;
inline constexpr unsigned HH_DISPLAY_SEARCH = 3;
inline constexpr unsigned HH_SET_WIN_TYPE = 4;
inline constexpr unsigned HH_GET_WIN_TYPE = 5;
inline constexpr unsigned HH_SYNC = 9;
inline constexpr unsigned HH_DISPLAY_TEXT_POPUP = 14;
inline constexpr unsigned HH_HELP_CONTEXT = 15;
inline constexpr unsigned HH_CLOSE_ALL = 18;
inline constexpr unsigned HH_ALINK_LOOKUP = 19;
// Translation result meaning "do not pass the request on".
inline constexpr unsigned HH_NONE = 0xFFFFFFFFu;

// The plug-in's entry point.
using HtmlHelpFn = intptr_t (*)(uintptr_t caller, const char* file, unsigned command,
                                uintptr_t data);
inline constexpr const char* kEngineLibrary = "libhhctrl.so";
inline constexpr const char* kEngineEntry = "HtmlHelpA";

// HH_DISPLAY_SEARCH: the query record.
struct HhFtsQuery {
  int cbStruct = sizeof(HhFtsQuery);
  int fUniCodeStrings = 0;
  const char* pszSearchQuery = nullptr;
  long iProximity = -1;
  int fStemmedSearch = 0;
  int fTitleOnly = 0;
  int fExecute = 0;
  const char* pszWindow = nullptr;
};

// HH_DISPLAY_TEXT_POPUP: the pop-up record. x, y of -1 mean "at the cursor".
struct HhPopup {
  int cbStruct = sizeof(HhPopup);
  const char* pszText = nullptr;
  int x = -1;
  int y = -1;
  uint32_t clrBackground = 0xFFFFE1;  // 0xRRGGBB
  uint32_t clrForeground = 0x000000;
  int marginLeft = 4, marginTop = 4, marginRight = 4, marginBottom = 4;
  const char* pszFont = nullptr;  // family,point size (empty: the default)
  int fontPointSize = 0;
};

// Notification codes a window type's owner receives.
inline constexpr int HHN_NAVCOMPLETE = -2000;
inline constexpr int HHN_TRACK = -2001;
inline constexpr int HHN_WINDOW_CREATE = -2002;
using HhNotifyFn = void (*)(void* context, uintptr_t owner, int idNotify, int code,
                            const char* url);

// Valid-member and property bits of a window type.
inline constexpr unsigned HHWIN_PARAM_PROPERTIES = 0x02;
inline constexpr unsigned HHWIN_PARAM_RECT = 0x20;
inline constexpr unsigned HHWIN_PROP_TRACKING = 0x200;
inline constexpr int kNotifyId = 0x5209900;

// HH_GET_WIN_TYPE fills one (data points at it); HH_SET_WIN_TYPE takes one.
struct HhWinType {
  int cbStruct = sizeof(HhWinType);
  unsigned fsValidMembers = 0;
  unsigned fsWinProperties = 0;
  int idNotify = 0;
  uintptr_t hwndCaller = 0;
  int left = 0, top = 0, right = 0, bottom = 0;
  HhNotifyFn notify = nullptr;
  void* notifyContext = nullptr;
};

struct HbRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

}  // namespace hb
