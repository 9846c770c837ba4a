#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "Common/Exc.h"
#include "Common/WideText.h"
#include "DeviceComm/CircBuf.h"
#include "DeviceComm/CircDevDataBuf.h"
#include "DeviceComm/DeviceComm.h"
#include "Common/ErrCodes.h"

namespace {

TEST(CircBufRing, AFullBufferKeepsTheNewestBytes) {
  CircBuf b(3);
  for (uint8_t v : {1, 2, 3, 4}) b.push(v);
  EXPECT_EQ(b.count(), 3u);
  EXPECT_EQ(b.at(0), 2);
  EXPECT_EQ(b.at(1), 3);
  EXPECT_EQ(b.at(2), 4);
  EXPECT_EQ(b.popFront(), 2);
  EXPECT_EQ(b.popFront(), 3);
  EXPECT_EQ(b.popFront(), 4);
  EXPECT_EQ(b.count(), 0u);
}

TEST(CircBufRing, PopFrontOnEmptyReturnsThePositionZeroByteAndChangesNothing) {
  CircBuf b(4);
  EXPECT_EQ(b.popFront(), 0);
  EXPECT_EQ(b.count(), 0u);
  b.push(9);
  b.push(8);
  b.popFront();
  b.popFront();
  // Position 0 now holds the stale byte after the last one taken.
  uint8_t stale = b.at(0);
  EXPECT_EQ(b.popFront(), stale);
  EXPECT_EQ(b.count(), 0u);
}

TEST(CircBufRing, AnIndexAtOrBeyondTheCapacityRaises) {
  CircBuf b(5);
  EXPECT_NO_THROW(b.at(4));
  try {
    b.at(5);
    FAIL() << "no exception";
  } catch (const IndexOutOfBoundsExc& e) {
    EXPECT_EQ(toUtf8(e.description()), "requested index=5; list size=5");
  }
}

TEST(CircBufRing, BlockAndByteOperationsMatchAShiftingReference) {
  std::mt19937 rng(7);
  for (unsigned cap : {1u, 2u, 7u, 64u}) {
    CircBuf b(cap);
    std::deque<uint8_t> ref;
    for (int step = 0; step < 3000; ++step) {
      int op = rng() % 4;
      if (op == 0) {
        uint8_t v = static_cast<uint8_t>(rng() % 6);
        b.push(v);
        ref.push_back(v);
      } else if (op == 1) {
        std::vector<uint8_t> block(rng() % (2 * cap + 2));
        for (auto& v : block) v = static_cast<uint8_t>(rng() % 6);
        b.pushBlock(block.data(), static_cast<unsigned>(block.size()));
        ref.insert(ref.end(), block.begin(), block.end());
      } else if (op == 2) {
        std::vector<uint8_t> out(rng() % (cap + 2));
        unsigned n = b.popBlock(out.data(), static_cast<unsigned>(out.size()));
        ASSERT_EQ(n, std::min<size_t>(out.size(), std::min<size_t>(ref.size(), cap)));
        for (unsigned i = 0; i < n; ++i) {
          ASSERT_EQ(out[i], ref.front());
          ref.pop_front();
        }
      } else if (!ref.empty()) {
        ASSERT_EQ(b.popFront(), ref.front());
        ref.pop_front();
      }
      while (ref.size() > cap) ref.pop_front();
      ASSERT_EQ(b.count(), ref.size());
      for (unsigned i = 0; i < ref.size(); ++i) ASSERT_EQ(b.at(i), ref[i]);
      // find across the ring's wrap agrees with a plain scan
      const uint8_t probe = static_cast<uint8_t>(rng() % 4);
      const unsigned from = ref.empty() ? 0 : static_cast<unsigned>(rng() % ref.size());
      unsigned want = 0xFFFFFFFFu;
      for (unsigned i = from; i < ref.size(); ++i)
        if (ref[i] == probe) {
          want = i;
          break;
        }
      ASSERT_EQ(b.find(probe, from, cap), want);
    }
  }
}

TEST(CircDevDataBufTest, FindScansTheRangeAndMissesOnAnEmptyBuffer) {
  CircDevDataBuf d(8);
  EXPECT_EQ(d.find(10, 0, -1), kNotFound);
  const uint8_t bytes[] = {'a', '\n', 'b', '\n'};
  d.write(bytes, 4);
  EXPECT_EQ(d.find('\n', 0, -1), 1u);
  EXPECT_EQ(d.find('\n', 2, -1), 3u);
  EXPECT_EQ(d.find('\n', 2, 3), kNotFound);
  EXPECT_EQ(d.find('z', 0, 4), kNotFound);
}

TEST(CircDevDataBufTest, OverflowingWriteKeepsNewestAndReadTakesInOrder) {
  CircDevDataBuf d(4);
  const uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
  d.write(bytes, 6);
  EXPECT_EQ(d.count(), 4u);
  uint8_t out[8] = {};
  unsigned got = 99;
  d.read(out, 3, &got);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[2], 5);
  d.read(out, 8, &got);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(out[0], 6);
  d.write(bytes, 2);
  d.clear();
  EXPECT_EQ(d.count(), 0u);
}

// A connection with no transport, for the base-class operations.
class BareComm : public DeviceComm {
 public:
  bool open() override { return true; }
  bool close() override { return true; }
  bool write(const uint8_t*, unsigned, unsigned*, int) override { return true; }
  bool read(uint8_t*, unsigned, unsigned*, int) override { return true; }
  bool readInBuff(uint8_t*, unsigned, unsigned*) override { return true; }
  bool readLine(uint8_t*, unsigned, unsigned*, int) override { return true; }
  bool purge(unsigned) override { return true; }
  bool isPortAvail() override { return true; }
};

TEST(TranslateLastErr, BufferRulesAndTheConnectionsDetail) {
  BareComm c;
  EXPECT_EQ(c.getLastErr(), ErrCode::NoError);
  char16_t buf[128];
  EXPECT_FALSE(c.translateLastErr(45, buf, 128, false));
  EXPECT_FALSE(c.translateLastErr(0, buf, 128, false));
  EXPECT_FALSE(c.translateLastErr(1, nullptr, 128, false));
  EXPECT_FALSE(c.translateLastErr(1, buf, 0, false));
  // "No Error." has 9 characters: 9 leaves no room for the terminator.
  EXPECT_FALSE(c.translateLastErr(1, buf, 9, false));
  ASSERT_TRUE(c.translateLastErr(1, buf, 10, false));
  EXPECT_EQ(std::u16string(buf), u"No Error.");

  c.setLastErr(6, u" detail");
  ASSERT_TRUE(c.translateLastErr(8, buf, 128, true));
  EXPECT_EQ(std::u16string(buf), u"Read operation timed out. detail");
  c.setLastErr(6, nullptr);
  EXPECT_TRUE(c.lastErrDetail().empty());
}

}  // namespace
