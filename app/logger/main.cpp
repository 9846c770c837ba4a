// zrq-log: the CSV log of the front panel without a window, for unattended
// bench runs.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Logger.h"
#include "LoggerOptions.h"
#include "frame/Version.h"

namespace {

int stopPipe[2] = {-1, -1};

void onStop(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
  using zrq::logger::ExitCode;
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const zrq::logger::ParseResult parsed = zrq::logger::parseLoggerArgs(args);
  if (!parsed.options) {
    std::fprintf(stderr, "zrq-log: %s\n%s", parsed.error.c_str(),
                 zrq::logger::loggerUsage().c_str());
    return static_cast<int>(ExitCode::BadArguments);
  }
  const zrq::logger::LoggerOptions& o = *parsed.options;
  if (o.help) {
    std::printf("%s", zrq::logger::loggerUsage().c_str());
    return 0;
  }
  if (o.version) {
    std::printf("zrq-log %s\n", zrq::frame::kVersionText);
    return 0;
  }

  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("zrq-log: pipe");
    return static_cast<int>(ExitCode::Failed);
  }
  struct sigaction sa {};
  sa.sa_handler = onStop;
  sa.sa_flags = SA_RESTART;  // the library's own calls carry on
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  // A closed terminal ends the run like Ctrl+C: the record in progress is whole.
  ::sigaction(SIGHUP, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  zrq::logger::RunIo io;
  io.stopFd = stopPipe[0];
  io.statusLine = ::isatty(STDERR_FILENO) == 1;
  return static_cast<int>(zrq::logger::runLogger(o, io));
}
