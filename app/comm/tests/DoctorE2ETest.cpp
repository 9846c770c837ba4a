// The doctor on the connection's own path: the real library fails to open a
// simulator's port that another process holds, and the status lines and one
// message box say which process it is.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "E2EFixture.h"
#include "PortDoctor.h"
#include "uiface/MsgBox.h"

namespace zrq::comm::test {
namespace {

// A child process named "porthog" that holds path by flock until released.
class PortHog {
 public:
  explicit PortHog(const std::string& path) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    EXPECT_EQ(::pipe(release_), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release_[1]);
      ::prctl(PR_SET_NAME, "porthog");
      const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
      const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
      [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
      char c;
      n = ::read(release_[0], &c, 1);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release_[0]);
    char ok = 0;
    EXPECT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 1) << "porthog could not lock " << path;
    ::close(ready[0]);
  }
  ~PortHog() {
    ::close(release_[1]);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
};

class Doctor : public CommE2E {};

TEST_F(Doctor, FailedOpenOfAHeldPortNamesTheHolderOnceInABox) {
  ZRQ_REQUIRE_SIM_AND_LIBRARY();
  auto sim = startSim({});
  ui::ScopedScriptedMessageBoxes boxes;
  doctor::resetReportedOnce();
  PortHog hog(sim->serialPath());
  const std::string pid = std::to_string(hog.pid());
  const std::vector<std::string> expected{
      "Cannot open " + sim->serialPath() + ": it is in use by another program.",
      "Fix: close process " + pid + " (porthog), which holds it, or end it: kill " + pid};

  DevComInterface port(PortType::Serial, sim->serialPath(), stats.addPortRow(sim->serialPath()),
                       &stats, &status, -1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ZervDComDLL::DeviceHandle h = 0;
    const std::u16string name = toWide(sim->serialPath());
    ASSERT_EQ(ZervDComDLL::createSerialPort(&h, name.c_str(), 1024, 1024, 1), 1);
    const int before = static_cast<int>(memo.lines().size());
    port.open(h);
    EXPECT_FALSE(port.isOpen());
    // The library's own report comes first, unchanged; the doctor's lines follow it.
    const int first = memo.find(expected[0], before);
    ASSERT_GT(first, before) << ::testing::PrintToString(memo.lines());
    EXPECT_NE(memo.lines()[static_cast<std::size_t>(before)].find("openSerialPort()"),
              std::string::npos);
    EXPECT_EQ(memo.lines().at(static_cast<std::size_t>(first) + 1), expected[1]);
  }
  ASSERT_EQ(boxes.count(doctor::BOX_CAPTION), 1) << "one box per run, however often it fails";
  EXPECT_EQ(boxes.shown().back().text, expected[0] + "\n" + expected[1]);
}

}  // namespace
}  // namespace zrq::comm::test
