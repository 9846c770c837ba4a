// tks7730-sim: a TKS7730 sensor in software (see --help).

#include "Options.h"
#include "Simulator.h"
#include "Trace.h"

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

int main(int argc, char** argv) {
  using namespace tks7730sim;
  SimOptions opt;
  std::string error;
  const std::vector<std::string> args(argv + 1, argv + argc);
  switch (parseOptions(args, opt, error)) {
    case ParseResult::Help:
      std::fputs(helpText(), stdout);
      return 0;
    case ParseResult::Version:
      std::printf("tks7730-sim %s\n", ZRQ_SIM_VERSION);
      return 0;
    case ParseResult::Error:
      std::fprintf(stderr, "tks7730-sim: %s\n", error.c_str());
      return 2;
    case ParseResult::Run:
      break;
  }

  // Signals arrive as a readable descriptor in the poll loop, so the loop ends
  // cleanly and the destructors remove sockets and links.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  const int sfd = signalfd(-1, &mask, SFD_CLOEXEC);
  if (sfd < 0) {
    std::perror("tks7730-sim: signalfd");
    return 1;
  }

  Trace trace;
  if (!opt.tracePath.empty() && !trace.open(opt.tracePath, std::chrono::steady_clock::now())) {
    std::fprintf(stderr, "tks7730-sim: cannot open trace file %s\n", opt.tracePath.c_str());
    return 1;
  }
  int rc;
  {
    Simulator sim(opt, &trace);
    if (!sim.start(error)) {
      std::fprintf(stderr, "tks7730-sim: %s\n", error.c_str());
      return 1;
    }
    auto announce = [](const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    };
    for (const auto& line : sim.readyLines()) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    rc = sim.run(sfd, announce);
  }
  close(sfd);
  return rc;
}
