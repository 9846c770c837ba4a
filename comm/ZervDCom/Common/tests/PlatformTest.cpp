#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Common/CriticalSection.h"
#include "Common/Deadline.h"
#include "Common/Event.h"
#include "Common/PollWait.h"
#include "Common/WakeFd.h"

namespace {

TEST(PlatformEvent, ManualResetStaysSetAutoResetReleasesOneWait) {
  Event manual(true, false);
  EXPECT_EQ(manual.wait(0), WaitResult::TimedOut);
  manual.set();
  EXPECT_EQ(manual.wait(0), WaitResult::Signalled);
  EXPECT_EQ(manual.wait(0), WaitResult::Signalled);
  manual.reset();
  EXPECT_EQ(manual.wait(10), WaitResult::TimedOut);

  Event autoEv(false, true);
  EXPECT_EQ(autoEv.wait(0), WaitResult::Signalled);
  EXPECT_EQ(autoEv.wait(0), WaitResult::TimedOut);
}

TEST(PlatformEvent, AnInfiniteWaitEndsWhenAnotherThreadSets) {
  Event ev;
  std::thread t([&] { ev.set(); });
  EXPECT_EQ(ev.wait(kInfiniteMs), WaitResult::Signalled);
  t.join();
}

TEST(PlatformPollWait, WakeDescriptorInterruptsAnEndlessWait) {
  int p[2];
  ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
  WakeFd wake;
  std::thread t([&] { wake.wake(); });
  EXPECT_EQ(pollWait(p[0], POLLIN, kInfiniteMs, wake.fd()), PollOutcome::Woken);
  t.join();
  EXPECT_TRUE(wake.drain());
  EXPECT_FALSE(wake.drain());
  EXPECT_EQ(pollWait(p[0], POLLIN, 0, wake.fd()), PollOutcome::TimedOut);
  ASSERT_EQ(::write(p[1], "x", 1), 1);
  EXPECT_EQ(pollWait(p[0], POLLIN, 1000, wake.fd()), PollOutcome::Ready);
  ::close(p[0]);
  ::close(p[1]);
}

TEST(PlatformPollWait, AWakeRacingADrainIsNeverLost) {
  // A drain that skips the system call must never leave a wake-up behind
  // for good, nor swallow one it did not see.
  WakeFd wake;
  constexpr int kRounds = 3000;
  std::atomic<int> seen{0};
  std::thread waker([&] {
    for (int i = 0; i < kRounds; ++i) {
      wake.wake();
      while (seen.load() <= i) std::this_thread::yield();
    }
  });
  int lost = 0;
  for (int i = 0; i < kRounds && lost == 0; ++i) {
    // The wake-up is taken within a bounded number of tries, and until then
    // the descriptor shows it (or soon will).
    int tries = 0;
    while (!wake.drain()) {
      pollfd p{wake.fd(), POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1 || ++tries > 100000) {
        ++lost;
        break;
      }
    }
    seen.store(i + 1);
  }
  if (lost) seen.store(kRounds);
  waker.join();
  EXPECT_EQ(lost, 0);
  wake.drain();
  EXPECT_EQ(pollWait(wake.fd(), POLLIN, 0), PollOutcome::TimedOut);
}

TEST(PlatformPollWait, APeerThatWentAwayIsAHangUpNotATimeout) {
  int p[2];
  ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
  ::close(p[1]);
  EXPECT_EQ(pollWait(p[0], POLLIN, 1000), PollOutcome::HangUp);
  ::close(p[0]);
  EXPECT_EQ(pollWait(p[0], POLLIN, 1000), PollOutcome::Error);
}

TEST(PlatformDeadline, CountsDownRoundedUpAndNeverEndsForTheInfiniteTimeouts) {
  for (int t : {-1, -500, kInfiniteMs}) {
    Deadline d(t);
    EXPECT_TRUE(d.infinite()) << t;
    EXPECT_EQ(d.msLeft(), kInfiniteMs) << t;
  }
  EXPECT_FALSE(Deadline(0).infinite());
  EXPECT_EQ(Deadline(0).msLeft(), 0);
  const Deadline d(60000);
  const int left = d.msLeft();
  EXPECT_GT(left, 50000);
  EXPECT_LE(left, 60000);
  EXPECT_GT(Deadline(kInfiniteMs - 1).msLeft(), 0x7FFF0000);
}

TEST(PlatformCriticalSection, IsReentrantAndExcludesOtherThreads) {
  CriticalSection cs;
  cs.enter();
  cs.enter();
  std::atomic<bool> got{true};
  std::thread t([&] { got = cs.tryEnter(); });
  t.join();
  EXPECT_FALSE(got);
  cs.leave();
  cs.leave();
  std::thread t2([&] {
    got = cs.tryEnter();
    if (got) cs.leave();
  });
  t2.join();
  EXPECT_TRUE(got);
}

}  // namespace
