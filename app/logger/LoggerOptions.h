// The command line of zrq-log, parsed without side effects so it can be
// tested on its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PortCandidates.h"
#include "core/LogSettings.h"
#include "core/MeasType.h"
#include "remote/RemoteValues.h"

namespace zrq::logger {

struct LoggerOptions {
  std::string port;                           // as the Comm menu names it, or a device path
  std::string out;                            // the log file; may be left out when scripts drive it
  std::optional<remote::ListenAddress> scpi;  // answer remote-control commands here
  core::MeasType measType = core::MeasType::Average;
  core::LogSettings log;  // event, trigger, sample time, limit text
  float offsetDb = 0;
  float ccdfLimit = 50;
  float filterHz = 4500;
  std::optional<double> seconds;  // run time; none: until a signal
  std::optional<long> records;    // stop after this many records
  bool help = false;
  bool version = false;
};

struct ParseResult {
  std::optional<LoggerOptions> options;
  std::string error;  // why the arguments were refused
};

// argv without the program name.
ParseResult parseLoggerArgs(const std::vector<std::string>& args);

std::string loggerUsage();

using comm::usbPortIndex;

}  // namespace zrq::logger
