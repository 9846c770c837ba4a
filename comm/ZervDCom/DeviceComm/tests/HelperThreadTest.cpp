#include <gtest/gtest.h>

#include "Eventually.h"

#include <chrono>
#include <thread>

#include "Common/Assertion.h"
#include "Common/WideText.h"
#include "PipeComm.h"
#include "Common/ErrCodes.h"
#include "Common/PollWait.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits (bounded) until the helper thread has parked with an error.
bool waitForStatus(HelperThread& t, int code) {
  return zrq::test::eventually([&] { return t.status() == code; });
}

TEST(HelperThreadLife, StartingTwiceFailsWithCode12) {
  PipeComm c(64);
  c.open();
  try {
    c.thread.start();
    FAIL() << "no exception";
  } catch (const CommErrInfo::CommExc& e) {
    EXPECT_EQ(e.code(), ErrCode::ThreadStartFailed);
  }
  c.close();
  EXPECT_FALSE(c.thread.isRunning());
  // A stopped thread may be started again.
  c.open();
  EXPECT_TRUE(c.thread.isRunning());
}

TEST(HelperThreadLife, StopWakesAStepBlockedInItsDeviceWait) {
  PipeComm c(64);
  c.open();
  while (c.step.runs.load() == 0) std::this_thread::yield();
  // A step that ignored the wake-up would hold stop for its grace time and
  // fail the assertion check; the wall-clock bound only catches a hang.
  std::string caption;
  AssertionHandler old =
      setAssertionHandler([&](const std::string& cap, const std::string&) { caption = cap; });
  auto t0 = Clock::now();
  c.close();
  setAssertionHandler(old);
  EXPECT_TRUE(caption.empty()) << caption;
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
  EXPECT_FALSE(c.thread.isRunning());
}

TEST(HelperThreadLife, AStepThatOutlivesTheGraceTimeIsReportedAndStillJoined) {
  PipeComm c(64);
  c.fault = PipeComm::Stubborn;
  c.open();
  ASSERT_EQ(c.stubbornEntered.wait(5000), WaitResult::Signalled);
  std::string caption;
  AssertionHandler old = setAssertionHandler([&](const std::string& cap, const std::string&) {
    caption = cap;
    c.release.set();  // only now may the step end
  });
  c.thread.stop(20);
  setAssertionHandler(old);
  EXPECT_EQ(caption, "Fatal Error!");
  EXPECT_FALSE(c.thread.isRunning());
}

TEST(HelperThreadStatus, FailuresParkTheThreadUntilTheCallerTakesThem) {
  struct Case {
    PipeComm::Fault fault;
    int code;
    const char* detailStart;
  } cases[] = {
      {PipeComm::CommFailure, 27,
       "class CommErrInfo::CommExc: setup - location: File: Step.cpp at line 1"},
      {PipeComm::OtherExc, 33,
       "class IndexOutOfBoundsExc: requested index=1; list size=1 - location: "},
      {PipeComm::NotAnExc, 34, ""},
  };
  for (const Case& k : cases) {
    PipeComm c(64);
    c.fault = k.fault;
    c.open();
    ASSERT_TRUE(waitForStatus(c.thread, k.code)) << k.code;
    int runs = c.step.runs.load();
    uint8_t buf[8];
    unsigned got = 99;
    EXPECT_FALSE(c.readInBuff(buf, 8, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(c.getLastErr(), k.code);
    EXPECT_EQ(toUtf8(c.lastErrDetail()).rfind(k.detailStart, 0), 0u) << toUtf8(c.lastErrDetail());
    // Taking the error restarted the step: data flows again.
    c.feed("xy");
    EXPECT_TRUE(c.read(buf, 2, &got, 2000));
    EXPECT_EQ(got, 2u);
    EXPECT_GT(c.step.runs.load(), runs);
  }
}

TEST(HelperThreadStatus, AStepTimeoutIsNoError) {
  PipeComm c(64);
  c.fault = PipeComm::Timeout;
  c.open();
  c.feed("ab");
  uint8_t buf[2];
  unsigned got = 0;
  EXPECT_TRUE(c.read(buf, 2, &got, 2000));
  EXPECT_EQ(c.thread.status(), ErrCode::NoError);
}

// A step that ends its wait when woken and returns, without raising: the
// wake-up is used up, so the next step waits again instead of spinning.
TEST(HelperThreadLife, AStepWokenMayReturnAndTheWakeUpIsUsedUp) {
  struct WaitingStep : HelperThProc {
    WaitingStep() : HelperThProc(nullptr) {}
    void run() override {
      runs.fetch_add(1);
      pollWait(-1, POLLIN, kInfiniteMs, thread->wakeFd());
    }
    HelperThread* thread = nullptr;
    std::atomic<int> runs{0};
  } step;
  HelperThread t(&step);
  step.thread = &t;
  t.start();
  ASSERT_TRUE(zrq::test::eventually([&] { return step.runs.load() == 1; }));
  t.wakeStep();
  ASSERT_TRUE(zrq::test::eventually([&] { return step.runs.load() >= 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(step.runs.load(), 2);
  EXPECT_EQ(t.status(), ErrCode::NoError);
  t.stop(2000);
  EXPECT_FALSE(t.isRunning());
}

}  // namespace
