// Program identity shown in captions and in the About window.
#pragma once

#define ZRQ_VERSION_TEXT "V3.1.4.3"

namespace zrq::frame {

inline constexpr const char* kVersionText = ZRQ_VERSION_TEXT;
inline constexpr const char* kBuildDateText = "05/10/2004";
inline constexpr const char* kAppTitle = "ZRQ";
// The main window's caption while no sensor is connected.
inline constexpr const char* kDisconnectedCaption = "7730 ZRQ " ZRQ_VERSION_TEXT;

// Shown at activation while no port is connected and, split into lines, in the
// About window.
inline constexpr const char* kOwnershipNotice =
    "ZRQ power sensor display.\r\n"
    "This program and its documentation belong to the ZRQ project.\r\n"
    "It is provided as is, without warranty of any kind.";

inline constexpr const char* kLegalLines[5] = {
    "ZRQ power sensor display software.",
    "Copyright the ZRQ project. All rights reserved.",
    "Provided as is, without warranty of any kind.",
    "Use it only with a TKS7730 sensor within its ratings.",
    "Redistribution requires the project's written consent.",
};

}  // namespace zrq::frame
