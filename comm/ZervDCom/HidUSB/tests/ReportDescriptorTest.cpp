#include "HidUSB/HidReportDescriptor.h"
#include "SensorDescriptor.h"

#include <gtest/gtest.h>

using HidDesc::parseReportDescriptor;
using Bytes = std::vector<uint8_t>;

TEST(ReportDescriptor, SensorHas49ByteInputAndOutputReports) {
  auto info = parseReportDescriptor(HidTestData::kSensorDescriptor);
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->usesReportIds);
  ASSERT_EQ(info->reports.size(), 3u);
  EXPECT_EQ(info->reports.at(1).input, 49u);
  EXPECT_EQ(info->reports.at(1).output, 0u);
  EXPECT_EQ(info->reports.at(2).output, 49u);
  EXPECT_EQ(info->reports.at(3).output, 49u);
  EXPECT_EQ(info->reports.at(3).input, 0u);
  EXPECT_EQ(info->maxInputLength, 49u);
  EXPECT_EQ(info->maxOutputLength, 49u);
}

TEST(ReportDescriptor, KeyboardAndMouseWithoutReportIdsCountTheZeroIdByte) {
  auto kb = parseReportDescriptor(HidTestData::kKeyboardDescriptor);
  ASSERT_TRUE(kb);
  EXPECT_FALSE(kb->usesReportIds);
  EXPECT_EQ(kb->maxInputLength, 9u);   // 8 data bytes + ID byte
  EXPECT_EQ(kb->maxOutputLength, 2u);  // 5 LED bits + 3 padding bits
  auto mouse = parseReportDescriptor(HidTestData::kMouseDescriptor);
  ASSERT_TRUE(mouse);
  EXPECT_EQ(mouse->maxInputLength, 4u);
  EXPECT_EQ(mouse->maxOutputLength, 0u);
}

TEST(ReportDescriptor, PushPopLongItemsAndOddBitCountsRoundUp) {
  const Bytes d = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x05, 0x75, 0x08, 0x95, 0x02,
                   0xA4,                                            // push (ID 5, 8 x 2)
                   0x85, 0x06, 0x75, 0x01, 0x95, 0x03, 0x81, 0x02,  // ID 6: 3 bits
                   0xFE, 0x02, 0x10, 0xAA, 0xBB,                    // long item, skipped
                   0xB4,                                            // pop: back to ID 5, 8 x 2
                   0x81, 0x02,                                      // ID 5: 16 bits
                   0x97, 0x03, 0x00, 0x00, 0x00,  // report count 3 in a 4-byte item
                   0x91, 0x02,                    // ID 5 output: 24 bits
                   0x0C,                          // reserved item type: ignored
                   0xC0};
  std::string err;
  auto info = parseReportDescriptor(d, &err);
  ASSERT_TRUE(info) << err;
  EXPECT_EQ(info->reports.at(6).input, 2u);
  EXPECT_EQ(info->reports.at(5).input, 3u);
  EXPECT_EQ(info->reports.at(5).output, 4u);
  EXPECT_EQ(info->maxInputLength, 3u);
}

TEST(ReportDescriptor, MalformedDescriptorsAreRejectedWithAReason) {
  struct Case {
    const char* name;
    Bytes bytes;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"empty", {}, "empty descriptor"},
      {"truncated short item", {0xA1, 0x01, 0x26, 0xFF}, "truncated item at offset 2"},
      {"truncated long item", {0xFE, 0x05, 0x00, 0x01}, "truncated long item data"},
      {"long item header cut", {0xFE}, "truncated long item"},
      {"pop without push", {0xB4, 0x81, 0x02}, "pop without push"},
      {"end without collection", {0x81, 0x02, 0xC0}, "end collection without collection"},
      {"unclosed collection", {0xA1, 0x01, 0x81, 0x02}, "unclosed collection"},
      {"report ID 0", {0x85, 0x00, 0x81, 0x02}, "invalid report ID"},
      {"report ID above 255", {0x86, 0x00, 0x01, 0x81, 0x02}, "invalid report ID"},
      {"ID after unnumbered data",
       {0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x85, 0x01},
       "report ID after unnumbered data"},
      {"pop back to no ID",
       {0xA4, 0x85, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xB4, 0x81, 0x02},
       "data outside any report ID"},
      {"field too wide", {0x76, 0x01, 0x01}, "report size too large"},
      {"report too long", {0x75, 0xFF, 0x96, 0x00, 0x04, 0x81, 0x02}, "report too long"},
      {"no main items", {0x05, 0x01, 0x09, 0x06}, "no main items"},
      {"unknown main tag", {0xF0}, "unknown main item"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_FALSE(parseReportDescriptor(c.bytes, &err)) << c.name;
    EXPECT_NE(err.find(c.reason), std::string::npos) << c.name << ": " << err;
  }
}

TEST(ReportDescriptor, PushStackAndNestingAreBounded) {
  Bytes pushes(HidDesc::kMaxGlobalStack + 1, 0xA4);
  pushes.insert(pushes.end(), {0x81, 0x02});
  std::string err;
  EXPECT_FALSE(parseReportDescriptor(pushes, &err));
  EXPECT_NE(err.find("push stack overflow"), std::string::npos);

  Bytes nest;
  for (unsigned i = 0; i <= HidDesc::kMaxCollectionDepth; ++i)
    nest.insert(nest.end(), {0xA1, 0x00});
  EXPECT_FALSE(parseReportDescriptor(nest, &err));
  EXPECT_NE(err.find("nested too deep"), std::string::npos);

  Bytes big(HidDesc::kMaxDescriptorSize + 1, 0x00);
  EXPECT_FALSE(parseReportDescriptor(big));
}
