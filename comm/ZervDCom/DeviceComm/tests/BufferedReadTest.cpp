#include <gtest/gtest.h>

#include "Eventually.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "PipeComm.h"
#include "Common/ErrCodes.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits (bounded) until the step has moved n bytes into the data buffer.
bool waitBuffered(PipeComm& c, unsigned n) {
  return zrq::test::eventually([&] { return c.dataBuf.count() >= n; });
}

TEST(BufferedReadBytes, ATimeoutKeepsWhatArrivedWithItsCount) {
  PipeComm c(64);
  c.open();
  c.feed("abcd");
  ASSERT_TRUE(waitBuffered(c, 4));
  // The late bytes come once the read waits, well inside its time-out.
  std::thread late([&] {
    zrq::test::eventually([&] { return c.bytesReq.isPending(); });
    c.feed("efg");
  });
  uint8_t buf[16] = {};
  unsigned got = 0;
  EXPECT_FALSE(c.read(buf, 10, &got, 1500));
  late.join();
  EXPECT_EQ(got, 7u);
  EXPECT_EQ(c.getLastErr(), ErrCode::ReadTimeout);
  EXPECT_EQ(std::memcmp(buf, "abcdefg", 7), 0);
  EXPECT_FALSE(c.bytesReq.isPending());
}

TEST(BufferedReadBytes, AWaitEndsAsSoonAsTheMissingBytesArrive) {
  PipeComm c(64);
  c.open();
  c.feed("12");
  ASSERT_TRUE(waitBuffered(c, 2));
  std::thread late([&] { c.feed("345"); });
  uint8_t buf[8] = {};
  unsigned got = 0;
  EXPECT_TRUE(c.read(buf, 5, &got, kInfiniteMs));
  late.join();
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::memcmp(buf, "12345", 5), 0);
  EXPECT_EQ(c.getLastErr(), ErrCode::NoError);
}

TEST(BufferedReadLine, ALineThatDoesNotFitFailsWithCode10AndStaysBuffered) {
  PipeComm c(64);
  c.open();
  c.feed("abcd\n");
  ASSERT_TRUE(waitBuffered(c, 5));
  uint8_t buf[8] = {};
  unsigned got = 99;
  EXPECT_FALSE(c.readLine(buf, 5, &got, 100));
  EXPECT_EQ(c.getLastErr(), ErrCode::InvalidDataBuffer);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(c.dataBuf.count(), 5u);
  EXPECT_TRUE(c.readLine(buf, 6, &got, 100));
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::memcmp(buf, "abcd\n", 5), 0);
}

TEST(BufferedReadLine, TakesOneLineAtATimeAndTimesOutWithoutOne) {
  PipeComm c(64);
  c.open();
  c.feed("one\r\ntwo\npart");
  ASSERT_TRUE(waitBuffered(c, 13));
  uint8_t buf[32] = {};
  unsigned got = 0;
  ASSERT_TRUE(c.readLine(buf, 32, &got, 100));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "one\r\n");
  ASSERT_TRUE(c.readLine(buf, 32, &got, 100));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "two\n");
  EXPECT_FALSE(c.readLine(buf, 32, &got, 50));
  EXPECT_EQ(c.getLastErr(), ErrCode::ReadTimeout);
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(c.charReq.isPending());
  std::thread late([&] { c.feed("ial\n"); });
  EXPECT_TRUE(c.readLine(buf, 32, &got, kInfiniteMs));
  late.join();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "partial\n");
}

TEST(BufferedReadLine, AFailureOnTheHelperEndsAnEndlessWaitAtOnce) {
  PipeComm c(64);
  c.open();
  std::thread gone([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    c.hangUp();
  });
  uint8_t buf[32];
  unsigned got = 99;
  auto t0 = Clock::now();
  EXPECT_FALSE(c.readLine(buf, 32, &got, kInfiniteMs));
  gone.join();
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(c.getLastErr(), ErrCode::ReadFailed);
  EXPECT_EQ(got, 0u);
}

TEST(BufferedReadLine, ASignalThatFindsNoLineDoesNotEndTheWait) {
  PipeComm c(64);
  c.open();
  std::thread stray([&] {
    while (!c.charReq.isPending()) std::this_thread::yield();
    c.charReq.signal();  // as a late signal meant for an earlier request would
  });
  uint8_t buf[16];
  unsigned got = 99;
  auto t0 = Clock::now();
  EXPECT_FALSE(c.readLine(buf, 16, &got, 120));
  stray.join();
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(110));
  EXPECT_EQ(c.getLastErr(), ErrCode::ReadTimeout);
  std::thread late([&] {
    while (!c.bytesReq.isPending()) std::this_thread::yield();
    c.bytesReq.signal();
    c.feed("abc");
  });
  EXPECT_TRUE(c.read(buf, 3, &got, 2000));
  late.join();
  EXPECT_EQ(got, 3u);
}

TEST(BufferedReadProtocol, WithoutAHelperThreadNothingIsWaitedFor) {
  PipeComm c(64);
  c.withThread = false;
  uint8_t buf[8];
  unsigned got = 99;
  EXPECT_FALSE(c.readInBuff(buf, 8, &got));
  EXPECT_EQ(c.getLastErr(), ErrCode::ThreadNotStarted);
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(c.read(buf, 8, &got, kInfiniteMs));
  EXPECT_EQ(c.getLastErr(), ErrCode::ThreadNotStarted);
  EXPECT_FALSE(c.readLine(buf, 8, &got, kInfiniteMs));
  EXPECT_EQ(c.getLastErr(), ErrCode::ThreadNotStarted);
}

TEST(BufferedReadProtocol, PurgeDropsBufferedBytesAndRequests) {
  PipeComm c(64);
  c.open();
  c.feed("stale\n");
  ASSERT_TRUE(waitBuffered(c, 6));
  c.bytesReq.arm(3);
  EXPECT_TRUE(c.purge(15));
  EXPECT_EQ(c.getLastErr(), ErrCode::NoError);
  EXPECT_EQ(c.dataBuf.count(), 0u);
  EXPECT_FALSE(c.bytesReq.isPending());
  uint8_t buf[8];
  unsigned got = 99;
  EXPECT_TRUE(c.readInBuff(buf, 8, &got));
  EXPECT_EQ(got, 0u);
}

}  // namespace
