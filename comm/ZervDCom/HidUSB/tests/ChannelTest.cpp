#include "HidUSB/HidChannel.h"
#include "Common/PollWait.h"
#include "SensorDescriptor.h"
#include "SimPeer.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

using namespace HidIo;

TEST(HidChannel, SocketChannelTakesIdentityAndDescriptorFromTheHello) {
  HidTestData::TempDir dir;
  HidTestData::SimPeer peer(dir / "s", 0x3A61, 0x7730, 0x0123, HidTestData::kSensorDescriptor);
  int err = 0;
  auto ch = openHidChannel(peer.path(), err);
  ASSERT_TRUE(ch) << err;
  HidIdentity id;
  ASSERT_TRUE(channelIdentity(*ch, id, err));
  EXPECT_EQ(id.vendorId, 0x3A61);
  EXPECT_EQ(id.productId, 0x7730);
  EXPECT_EQ(id.versionNumber, 0x0123);
  EXPECT_EQ(ch->reportDescriptor(), HidTestData::kSensorDescriptor);

  std::vector<uint8_t> out(49, 0xFF);
  out[0] = 3;
  EXPECT_EQ(ch->writeReport(out.data(), out.size()), 49);
  auto got = peer.waitReports(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], out);

  uint8_t buf[64];
  EXPECT_EQ(ch->readReport(buf, sizeof buf), 0);  // nothing waiting
  std::vector<uint8_t> in(49, 0xFF);
  in[0] = 1;
  in[1] = 'A';
  peer.sendToAll(in);
  ASSERT_EQ(pollWait(ch->fd(), POLLIN, 5000), PollOutcome::Ready);
  EXPECT_EQ(ch->readReport(buf, sizeof buf), 49);
  EXPECT_EQ(buf[1], 'A');

  peer.dropAll();  // the device goes away
  ASSERT_NE(pollWait(ch->fd(), POLLIN, 5000), PollOutcome::TimedOut);
  EXPECT_EQ(ch->readReport(buf, sizeof buf), -ENODEV);
  EXPECT_EQ(ch->writeReport(out.data(), out.size()), -ENODEV);
}

TEST(HidChannel, OpenFailuresReportErrno) {
  HidTestData::TempDir dir;
  int err = 0;
  EXPECT_FALSE(openHidChannel(dir / "none", err));
  EXPECT_EQ(err, ENOENT);
  // A plain file is no hidraw node: the descriptor ioctl fails.
  {
    FILE* f = std::fopen((dir / "plain").c_str(), "w");
    std::fclose(f);
  }
  EXPECT_FALSE(openHidChannel(dir / "plain", err));
  EXPECT_NE(err, 0);
}

TEST(HidChannel, TheDeviceWaitReturnsEarlyOnTheWakeUpDescriptor) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  int wake = ::eventfd(0, EFD_CLOEXEC);
  uint64_t one = 1;
  ASSERT_EQ(::write(wake, &one, 8), 8);
  // No time limit: only the wake-up can end this wait.
  EXPECT_EQ(pollWait(fds[0], POLLIN, -1, wake), PollOutcome::Woken);
  EXPECT_EQ(pollWait(fds[0], POLLIN, 0), PollOutcome::TimedOut);
  ::close(fds[1]);
  EXPECT_EQ(pollWait(fds[0], POLLIN, 1000), PollOutcome::HangUp);
  ::close(fds[0]);
  ::close(wake);
}
