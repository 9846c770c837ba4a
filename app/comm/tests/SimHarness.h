// Runs tks7730-sim for one test and hands out what it announced.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zrq::test {
class ChildProgram;
}

namespace zrq::comm::test {

std::string binDir();
bool libraryBuilt();
bool simulatorBuilt();
// Under CI=true a missing library or simulator fails the end-to-end tests
// instead of skipping them.
bool partsRequired();

// Skips (or, in CI, fails) the calling test or SetUp when a part is missing.
#define ZRQ_REQUIRE_PART(built, what)                                      \
  do {                                                                     \
    if (!(built)) {                                                        \
      if (::zrq::comm::test::partsRequired()) FAIL() << what " not built"; \
      GTEST_SKIP() << what " not built";                                   \
    }                                                                      \
  } while (0)
#define ZRQ_REQUIRE_LIBRARY() ZRQ_REQUIRE_PART(::zrq::comm::test::libraryBuilt(), "libZervDCom.so")
#define ZRQ_REQUIRE_SIMULATOR() ZRQ_REQUIRE_PART(::zrq::comm::test::simulatorBuilt(), "tks7730-sim")

class SimProcess {
 public:
  // Starts bin/tks7730-sim with the options and a trace file; waits (at most
  // 10 s) for its "serial:" line. ok() tells whether it came. ZRQ_SIM_BAUD
  // adds --baud with its value.
  explicit SimProcess(std::vector<std::string> options);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // With --no-pty or --usb N it waits for the lines those promise instead.
  bool ok() const { return ok_; }
  const std::string& serialPath() const { return serialPath_; }
  const std::vector<std::string>& usbPaths() const { return usbPaths_; }
  const std::string& error() const { return error_; }
  // The trace so far.
  std::string trace() const;
  // The exact bytes of every command with this letter, in order of arrival.
  std::vector<std::string> commandsReceived(char letter) const;
  // The letters of every command received, in order ("IIFG...").
  std::string commandLetters() const;
  // The letter of the last command received so far, 0 before the first.
  char lastCommand() const;
  // The letters once they read `expected` (a command without a reply may
  // still be on its way), or what they read after the time-out.
  std::string lettersWhen(const std::string& expected, int timeoutMs = 3000) const;

 private:
  std::unique_ptr<::zrq::test::ChildProgram> proc_;
  bool ok_ = false;
  std::string serialPath_;
  std::vector<std::string> usbPaths_;
  std::string tracePath_;
  std::string error_;
};

}  // namespace zrq::comm::test
