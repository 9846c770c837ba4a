#include "HidUSB/HidReport.h"
#include "HidUSB/ZervUSBReports.h"

#include <gtest/gtest.h>

#include "Common/Assertion.h"

using namespace ZervUSB;
using Bytes = std::vector<uint8_t>;

namespace {
Bytes bytesOf(const HidReport& r) { return Bytes(r.buffer(), r.buffer() + r.totalLength()); }
Bytes filled(std::initializer_list<uint8_t> head) {
  Bytes b(head);
  b.resize(49, 0xFF);
  return b;
}

// Failed assertions are expected in some cases here; count them instead of
// letting them reach standard error.
struct AssertionCounter {
  AssertionCounter() {
    prev = setAssertionHandler([this](const std::string&, const std::string&) { ++count; });
  }
  ~AssertionCounter() { setAssertionHandler(prev); }
  int count = 0;
  AssertionHandler prev;
};
}  // namespace

TEST(SensorReports, CommandReportIsIdCodeThenFiller) {
  TKS7730CmdReport poll(kCmdPoll);
  EXPECT_EQ(bytesOf(poll), filled({0x03, 0x53}));
  EXPECT_EQ(poll.dataLength(), 0);
  EXPECT_EQ(bytesOf(TKS7730CmdReport(kCmdStart)), filled({0x03, 0x50}));
}

TEST(SensorReports, OutputReportCarriesTheTextAndFillerAfterIt) {
  const uint8_t text[] = {'A', 'B', '\n'};
  TKS7730OutReport r(text, 3);
  EXPECT_EQ(bytesOf(r), filled({0x02, 0x41, 0x42, 0x0A}));
  EXPECT_EQ(r.dataLength(), 3);
  EXPECT_EQ(r.totalLength(), 49);

  TKS7730OutReport empty;
  EXPECT_EQ(bytesOf(empty), filled({0x02}));
  EXPECT_EQ(empty.dataLength(), 0);
}

TEST(SensorReports, FillerBytesAreDroppedOnSendAndSkippedOnReceive) {
  const uint8_t text[] = {'A', 0xFF, 'B', 0xFF};
  TKS7730OutReport out(text, 4);
  EXPECT_EQ(out.dataLength(), 2);
  EXPECT_EQ(bytesOf(out), filled({0x02, 'A', 'B'}));

  TKS7730InReport in;
  in.buffer()[1] = 0x41;
  in.buffer()[2] = 0xFF;
  in.buffer()[3] = 0x42;
  in.buffer()[48] = 'Z';  // data anywhere in the payload counts
  uint8_t got[64] = {};
  EXPECT_EQ(in.getData(got, sizeof got), 3u);
  EXPECT_EQ(Bytes(got, got + 3), (Bytes{'A', 'B', 'Z'}));
  EXPECT_EQ(in.getData(got, 2), 2u);  // stops at the maximum

  in.clearData();
  EXPECT_EQ(in.getData(got, sizeof got), 0u);
}

TEST(SensorReports, SetDataBeyondThePayloadIsCutAndReported) {
  AssertionCounter asserts;
  Bytes big(60, 'x');
  TKS7730OutReport r;
  r.setData(big.data(), static_cast<unsigned>(big.size()));
  EXPECT_EQ(asserts.count, 1);
  EXPECT_EQ(r.dataLength(), 48);
  EXPECT_EQ(r.buffer()[0], 2);
}

TEST(HidReports, BaseReportClearsAndCopiesItsPayload) {
  AssertionCounter asserts;
  HidReport r(7, 4);
  EXPECT_EQ(bytesOf(r), (Bytes{7, 0, 0, 0, 0}));
  const uint8_t d[] = {1, 2, 3};
  r.setData(d, 3);
  EXPECT_EQ(bytesOf(r), (Bytes{7, 1, 2, 3, 0}));
  uint8_t out[8] = {};
  EXPECT_EQ(r.getData(out, 8), 4u);
  EXPECT_EQ(asserts.count, 0);
  // Too small a destination: reported, and nothing written past it.
  uint8_t small[3] = {9, 9, 9};
  EXPECT_EQ(r.getData(small, 2), 2u);
  EXPECT_EQ(small[2], 9);
  EXPECT_EQ(asserts.count, 1);

  HidReport huge(1, 0xFFFF);
  EXPECT_EQ(asserts.count, 2);
  EXPECT_EQ(huge.totalLength(), 0xFFFF);
}

TEST(HidReports, ListDoesNotOwnAndAnswersNothingOutsideIt) {
  HidReportList list;
  TKS7730InReport a, b;
  list.add(&a);
  list.add(&b);
  EXPECT_EQ(list.get(0), &a);
  EXPECT_EQ(list.get(1), &b);
  EXPECT_EQ(list.get(2), nullptr);
  list.clear();
  EXPECT_EQ(list.size(), 0u);
  EXPECT_EQ(list.get(0), nullptr);
  EXPECT_EQ(a.reportId(), 1);  // still alive
}
