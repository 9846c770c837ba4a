#include "Common/Version.h"

#include <cstdio>

#include "Common/WideText.h"

std::string versionTextUtf8() {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s v%d.%d %s, %s", "ZervDCom.dll", 1, 0, "(UNICODE)",
                "2004/05/10");
  return buf;
}

std::u16string versionText() { return toU16(versionTextUtf8()); }
