// zrq-log's run: connects like the application, reads a line every 600 ms,
// supervises the stream every 500 ms, counts log ticks every 500 ms and tests
// the triggers every 250 ms with the log writer's own code.
#pragma once

#include <string>

#include "LoggerOptions.h"

namespace zrq::logger {

enum class ExitCode : int { Done = 0, Failed = 1, BadArguments = 2 };

struct RunIo {
  int stopFd = -1;          // readable once a stop was asked for (signal pipe)
  bool statusLine = false;  // show the live status line on standard error
};

ExitCode runLogger(const LoggerOptions& options, const RunIo& io);

}  // namespace zrq::logger
