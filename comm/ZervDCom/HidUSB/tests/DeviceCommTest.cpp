#include "HidUSB/TKS7730HidUSBDeviceComm.h"
#include "SensorDescriptor.h"
#include "SimPeer.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "Common/ErrCodes.h"

using HidTestData::SimPeer;
using HidTestData::TempDir;

namespace {

SimPeer::Report inReport(const std::string& payload) {
  SimPeer::Report r(payload.begin(), payload.end());
  r.insert(r.begin(), 1);
  r.resize(49, 0xFF);
  return r;
}

std::string payloadText(const SimPeer::Report& r) {
  std::string s;
  for (size_t i = 1; i < r.size(); ++i)
    if (r[i] != 0xFF) s += static_cast<char>(r[i]);
  return s;
}

struct Sensor : ::testing::Test {
  TempDir dir;
  SimPeer peer{dir / "sensor", 0x3A61, 0x7730, 0x0100, HidTestData::kSensorDescriptor};
  HidUSBDevInfo info{0x3A61, 0x7730, 0x0100, peer.path()};

  // Reports of ID 2 the peer received so far.
  std::vector<SimPeer::Report> dataReports(size_t atLeast) {
    std::vector<SimPeer::Report> out;
    for (int i = 0; i < 100; ++i) {
      out.clear();
      for (auto& r : peer.waitReports(0, 0))
        if (r[0] == 2) out.push_back(r);
      if (out.size() >= atLeast) break;
      peer.waitReports(peer.waitReports(0, 0).size() + 1, 100);
    }
    return out;
  }
};

}  // namespace

TEST_F(Sensor, StartUpSendsTheStartCommandThenPollsEvery45ms) {
  TKS7730HidUSBDeviceComm dc(info, 4096);
  ASSERT_TRUE(dc.open());
  ASSERT_TRUE(dc.startThreads()) << dc.getLastErr();
  auto got = peer.waitReports(5);
  ASSERT_GE(got.size(), 5u);
  SimPeer::Report start(49, 0xFF), poll(49, 0xFF);
  start[0] = poll[0] = 3;
  start[1] = 0x50;
  poll[1] = 0x53;
  EXPECT_EQ(got[0], start);
  for (size_t i = 1; i < got.size(); ++i) EXPECT_EQ(got[i], poll) << i;
  EXPECT_TRUE(dc.close());
  EXPECT_EQ(dc.getLastErr(), ErrCode::NoError);
  // Starting twice is refused; a closed connection can be opened again.
  ASSERT_TRUE(dc.open());
  ASSERT_TRUE(dc.startThreads());
  EXPECT_FALSE(dc.startThreads());
  EXPECT_EQ(dc.getLastErr(), ErrCode::ThreadAlreadyStarted);
}

TEST_F(Sensor, WriteCutsTextIntoReportsAndCountsTheBytesCarried) {
  TKS7730HidUSBDeviceComm dc(info, 4096);
  unsigned written = 99;
  EXPECT_FALSE(dc.write(reinterpret_cast<const uint8_t*>("x"), 1, &written, 100));
  EXPECT_EQ(dc.getLastErr(), ErrCode::NotOpened);
  ASSERT_TRUE(dc.open());

  EXPECT_TRUE(dc.write(reinterpret_cast<const uint8_t*>("AB\n"), 3, &written, 1000));
  EXPECT_EQ(written, 3u);
  auto r = dataReports(1);
  ASSERT_EQ(r.size(), 1u);
  SimPeer::Report ab(49, 0xFF);
  ab[0] = 2, ab[1] = 'A', ab[2] = 'B', ab[3] = '\n';
  EXPECT_EQ(r[0], ab);

  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += static_cast<char>('0' + i % 10);
  EXPECT_TRUE(dc.write(reinterpret_cast<const uint8_t*>(hundred.data()), 100, &written, 3000));
  EXPECT_EQ(written, 100u);
  r = dataReports(4);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(payloadText(r[1]).size(), 48u);
  EXPECT_EQ(payloadText(r[2]).size(), 48u);
  EXPECT_EQ(payloadText(r[3]), hundred.substr(96));
  EXPECT_EQ(payloadText(r[1]) + payloadText(r[2]) + payloadText(r[3]), hundred);

  EXPECT_TRUE(dc.write(reinterpret_cast<const uint8_t*>(""), 0, &written, 1000));
  EXPECT_EQ(written, 0u);

  const uint8_t withFiller[] = {'O', 0xFF, 'K'};
  EXPECT_FALSE(dc.write(withFiller, 3, &written, 1000));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(dc.getLastErr(), ErrCode::WriteTimeout);
  r = dataReports(5);
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(payloadText(r[4]), "OK");

  EXPECT_FALSE(dc.write(nullptr, 3, &written, 1000));
  EXPECT_EQ(dc.getLastErr(), ErrCode::InvalidDataBuffer);
  EXPECT_EQ(written, 0u);
}

TEST_F(Sensor, LinesComeOutWholeWhateverTheReportBoundaries) {
  TKS7730HidUSBDeviceComm dc(info, 4096);
  ASSERT_TRUE(dc.open());
  ASSERT_TRUE(dc.startThreads());
  ASSERT_TRUE(peer.waitConnections(1));
  // One line over three reports, then two lines in one report, with filler
  // bytes in the middle of the data.
  std::string longLine(100, 'D');
  longLine += "\r\n";
  peer.sendToAll(inReport(longLine.substr(0, 48)));
  peer.sendToAll(inReport(longLine.substr(48, 48)));
  auto last = inReport("");
  last[1] = static_cast<uint8_t>(longLine[96]);
  last[2] = 0xFF;
  for (size_t i = 97; i < longLine.size(); ++i)
    last[i - 97 + 3] = static_cast<uint8_t>(longLine[i]);
  peer.sendToAll(last);
  peer.sendToAll(inReport("OK\nV1.2\n"));

  uint8_t buf[256];
  unsigned got = 0;
  ASSERT_TRUE(dc.readLine(buf, sizeof buf, &got, 5000)) << dc.getLastErr();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), longLine);
  ASSERT_TRUE(dc.readLine(buf, sizeof buf, &got, 5000));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "OK\n");
  ASSERT_TRUE(dc.readLine(buf, sizeof buf, &got, 5000));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "V1.2\n");

  EXPECT_FALSE(dc.readLine(buf, sizeof buf, &got, 50));
  EXPECT_EQ(dc.getLastErr(), ErrCode::ReadTimeout);

  peer.sendToAll(inReport("12345"));
  ASSERT_TRUE(dc.read(buf, 5, &got, 5000)) << dc.getLastErr();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "12345");
}

TEST_F(Sensor, OneOpenAtATimeAndAvailabilityFollowsIt) {
  TKS7730HidUSBDeviceComm a(info, 512), b(info, 512);
  EXPECT_TRUE(a.isPortAvail());
  ASSERT_TRUE(a.open());
  EXPECT_FALSE(a.isPortAvail());
  EXPECT_FALSE(b.isPortAvail());
  EXPECT_FALSE(b.open());
  EXPECT_EQ(b.getLastErr(), ErrCode::OpenInOtherProcess);
  EXPECT_FALSE(a.open());
  EXPECT_EQ(a.getLastErr(), ErrCode::AlreadyOpened);
  EXPECT_TRUE(a.close());
  EXPECT_TRUE(b.open());
}

TEST_F(Sensor, UnplugReachesTheNextReaderAsAFailure) {
  TKS7730HidUSBDeviceComm dc(info, 4096);
  ASSERT_TRUE(dc.open());
  ASSERT_TRUE(dc.startThreads());
  ASSERT_TRUE(peer.waitConnections(1));
  peer.dropAll();
  uint8_t buf[64];
  unsigned got = 0;
  // The waiting reader is woken by the failing thread, well before its time-out.
  EXPECT_FALSE(dc.readLine(buf, sizeof buf, &got, 20000));
  const int err = dc.getLastErr();
  EXPECT_TRUE(err == ErrCode::ReadFailed || err == ErrCode::CommandFailed) << err;
  EXPECT_FALSE(dc.lastErrDetail().empty());
  // Once the hang-up is known, every later call says so the same way, at once.
  for (int i = 0; i < 200 && dc.getLastErr() != ErrCode::ReadFailed; ++i)
    dc.readLine(buf, sizeof buf, &got, 100);
  ASSERT_EQ(dc.getLastErr(), ErrCode::ReadFailed);
  for (int i = 0; i < 20; ++i) {
    EXPECT_FALSE(i % 2 ? dc.readInBuff(buf, sizeof buf, &got)
                       : dc.readLine(buf, sizeof buf, &got, 20000));
    EXPECT_EQ(dc.getLastErr(), ErrCode::ReadFailed) << i;
  }
  EXPECT_TRUE(dc.close());
}

TEST_F(Sensor, InputReportsOfAnotherIdAndEmptyPacketsAreNoData) {
  TKS7730HidUSBDeviceComm dc(info, 4096);
  ASSERT_TRUE(dc.open());
  ASSERT_TRUE(dc.startThreads());
  ASSERT_TRUE(peer.waitConnections(1));
  SimPeer::Report stray = inReport("STRAY\n");
  stray[0] = 2;
  peer.sendToAll(stray);
  peer.sendToAll(SimPeer::Report{});  // an empty packet: no hang-up either
  peer.sendToAll(inReport("D,1\n"));
  uint8_t buf[64];
  unsigned got = 0;
  ASSERT_TRUE(dc.readLine(buf, sizeof buf, &got, 5000)) << dc.getLastErr();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "D,1\n");
  EXPECT_FALSE(dc.readLine(buf, sizeof buf, &got, 50));
  EXPECT_EQ(dc.getLastErr(), ErrCode::ReadTimeout);
  EXPECT_TRUE(dc.close());
}

TEST_F(Sensor, ReadsWithoutThreadsFailWith13) {
  TKS7730HidUSBDeviceComm dc(info, 512);
  uint8_t buf[8];
  unsigned got = 7;
  EXPECT_FALSE(dc.readInBuff(buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(dc.getLastErr(), ErrCode::ThreadNotStarted);
  EXPECT_FALSE(dc.startThreads());
  EXPECT_EQ(dc.getLastErr(), ErrCode::NotOpened);
}

// The time-out bounds the whole write, not each report: a device that takes
// one report every 2 ms would otherwise hold a long text for many seconds.
TEST_F(Sensor, AWritesTimeoutBoundsTheWholeCallAndTheCountSaysWhatWentOut) {
  peer.setOnReport(
      [](const SimPeer::Report&) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
  TKS7730HidUSBDeviceComm dc(info, 4096);
  ASSERT_TRUE(dc.open());
  const std::string text(48 * 4000, 'w');  // 8 s at the device's pace
  unsigned written = 0;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(dc.write(reinterpret_cast<const uint8_t*>(text.data()),
                        static_cast<unsigned>(text.size()), &written, 300));
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_EQ(dc.getLastErr(), ErrCode::WriteTimeout);
  EXPECT_LT(took, std::chrono::seconds(4));
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, text.size());
  EXPECT_EQ(written % 48, 0u);  // whole reports only
  peer.setOnReport(nullptr);
  EXPECT_TRUE(dc.close());
}
