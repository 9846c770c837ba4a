// USB packetising: the hello packet and its descriptor, 0xFF padding, text
// spanning reports, and the host's reports.

#include "UsbReports.h"

#include <gtest/gtest.h>

#include <map>

using namespace tks7730sim::usb;

namespace {

// A minimal HID descriptor walk: byte length of each report ID per main item
// kind, report ID byte included, as a host computes its capabilities.
struct Lengths {
  std::map<int, int> input, output;
};
Lengths parseDescriptor(const std::vector<uint8_t>& d) {
  Lengths l;
  int size = 0, count = 0, id = 0;
  std::map<int, int> inBits, outBits;
  for (size_t i = 0; i < d.size();) {
    const uint8_t prefix = d[i];
    const int n = (prefix & 3) == 3 ? 4 : (prefix & 3);
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) v |= static_cast<uint32_t>(d[i + 1 + k]) << (8 * k);
    switch (prefix & 0xFC) {
      case 0x74:
        size = static_cast<int>(v);
        break;  // Report Size
      case 0x94:
        count = static_cast<int>(v);
        break;  // Report Count
      case 0x84:
        id = static_cast<int>(v);
        break;  // Report ID
      case 0x80:
        inBits[id] += size * count;
        break;  // Input
      case 0x90:
        outBits[id] += size * count;
        break;  // Output
    }
    i += 1 + n;
  }
  for (auto [k, bits] : inBits) l.input[k] = bits / 8 + 1;
  for (auto [k, bits] : outBits) l.output[k] = bits / 8 + 1;
  return l;
}

std::string payloadText(const std::vector<Report>& reports) {
  std::string s;
  for (const auto& r : reports)
    for (size_t i = 1; i < r.size(); ++i)
      if (r[i] != 0xFF) s += static_cast<char>(r[i]);
  return s;
}

}  // namespace

TEST(UsbHello, CarriesIdentityLittleEndianThenTheDescriptor) {
  const auto h = helloPacket(0x0140);
  ASSERT_GT(h.size(), 6u);
  EXPECT_EQ(h[0], 0x61);
  EXPECT_EQ(h[1], 0x3A);
  EXPECT_EQ(h[2], 0x30);
  EXPECT_EQ(h[3], 0x77);
  EXPECT_EQ(h[4], 0x40);
  EXPECT_EQ(h[5], 0x01);
  const std::vector<uint8_t> desc(h.begin() + 6, h.end());
  EXPECT_EQ(desc, reportDescriptor());
  EXPECT_EQ(desc[0], 0x06);  // a vendor usage page comes first
  EXPECT_GE(desc[2], 0xFF);
}

TEST(UsbHello, DescriptorYieldsFortyNineByteInputAndOutputReports) {
  const Lengths l = parseDescriptor(reportDescriptor());
  EXPECT_EQ(l.input, (std::map<int, int>{{1, 49}}));
  EXPECT_EQ(l.output, (std::map<int, int>{{2, 49}, {3, 49}}));
}

TEST(UsbInput, ShortTextIsPaddedWithFF) {
  const auto r = packInput("F,ACK,CAL\r\n");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][0], kInputId);
  EXPECT_EQ(r[0][1], 'F');
  EXPECT_EQ(r[0][11], '\n');
  for (size_t i = 12; i < kReportSize; ++i) EXPECT_EQ(r[0][i], 0xFF) << i;
  EXPECT_TRUE(packInput("").empty());
}

TEST(UsbInput, ALineSpansReportsAndOneReportMayEndOneLineAndStartTheNext) {
  std::string line = "D" + std::string(116, ',') + "\r";  // 118 bytes: 48 + 48 + 22
  const auto r = packInput(line + "G,4.50000e+03,ACK\r\n");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[2][22], '\r');
  EXPECT_EQ(r[2][23], 'G');
  EXPECT_EQ(payloadText(r), line + "G,4.50000e+03,ACK\r\n");
  const auto exact = packInput(std::string(96, 'x'));
  EXPECT_EQ(exact.size(), 2u);  // no empty third report
}

TEST(UsbInput, FFCannotBeCarriedAndIsDropped) {
  const auto r =
      packInput(std::string("A\xFF"
                            "B",
                            3));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][1], 'A');
  EXPECT_EQ(r[0][2], 'B');
  EXPECT_EQ(r[0][3], 0xFF);
}

TEST(UsbHostReports, TextCommandsAndInvalidReports) {
  Report out;
  out.fill(0xFF);
  out[0] = kOutputId;
  out[1] = 'I';
  out[2] = 0xFF;  // skipped wherever it is
  out[3] = '\r';
  out[4] = '\n';
  auto h = parseHostReport(out.data(), out.size());
  EXPECT_EQ(h.kind, HostReport::Text);
  EXPECT_EQ(h.text, "I\r\n");

  Report cmd;
  cmd.fill(0xFF);
  cmd[0] = kCommandId;
  cmd[1] = kPollCmd;
  EXPECT_EQ(parseHostReport(cmd.data(), cmd.size()).kind, HostReport::Poll);
  cmd[1] = kStartCmd;
  EXPECT_EQ(parseHostReport(cmd.data(), cmd.size()).kind, HostReport::Start);
  cmd[1] = 0x01;
  h = parseHostReport(cmd.data(), cmd.size());
  EXPECT_EQ(h.kind, HostReport::OtherCommand);
  EXPECT_EQ(h.code, 0x01);

  EXPECT_EQ(parseHostReport(cmd.data(), 48).kind, HostReport::Invalid);
  EXPECT_EQ(parseHostReport(nullptr, 49).kind, HostReport::Invalid);
  cmd[0] = kInputId;  // the host never sends input reports
  EXPECT_EQ(parseHostReport(cmd.data(), cmd.size()).kind, HostReport::Invalid);
}
