#pragma once

#include <string>

// "ZervDCom.dll v1.0 (UNICODE), 2004/05/10" (39 characters)
std::u16string versionText();
std::string versionTextUtf8();
