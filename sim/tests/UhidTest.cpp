// The uhid side of the simulator without a kernel: the event bytes it writes
// and reads (offsets of the kernel ABI, written out here independently of the
// header the code uses), the sysfs look-up of the hidraw node, its options,
// and the refusal when /dev/uhid cannot be used.

#include "Options.h"
#include "Uhid.h"
#include "UsbReports.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
using namespace tks7730sim;
namespace fs = std::filesystem;

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
         static_cast<uint32_t>(b.at(at + 3)) << 24;
}
uint16_t le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
std::string cstr(const std::vector<uint8_t>& b, size_t at, size_t field) {
  std::string s;
  for (size_t i = at; i < at + field && b.at(i); ++i) s += static_cast<char>(b[i]);
  return s;
}

// A kernel-made event, as read from /dev/uhid: always the whole structure.
std::vector<uint8_t> kernelEvent(uint32_t type) {
  std::vector<uint8_t> b(uhid::kEventSize, 0);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(type >> (8 * i));
  return b;
}

}  // namespace

TEST(UhidEvents, CreateCarriesIdentityAndDescriptorAtTheKernelOffsets) {
  uhid::DeviceSpec s;
  s.name = "TKS7730 RF power sensor";
  s.phys = "tks7730-sim/12/0";
  s.uniq = "uhid0";
  s.vendor = usb::kVendorId;
  s.product = usb::kProductId;
  s.version = 0x0140;
  s.descriptor = usb::reportDescriptor();
  const auto b = uhid::encodeCreate(s);
  ASSERT_TRUE(b);
  ASSERT_EQ(b->size(), 280 + s.descriptor.size());
  EXPECT_EQ(le32(*b, 0), 11u);  // UHID_CREATE2
  EXPECT_EQ(cstr(*b, 4, 128), s.name);
  EXPECT_EQ(cstr(*b, 132, 64), s.phys);
  EXPECT_EQ(cstr(*b, 196, 64), s.uniq);
  EXPECT_EQ(le16(*b, 260), s.descriptor.size());
  EXPECT_EQ(le16(*b, 262), 3u);  // BUS_USB: HID_ID reads 0003:...
  EXPECT_EQ(le32(*b, 264), 0x3A61u);
  EXPECT_EQ(le32(*b, 268), 0x7730u);
  EXPECT_EQ(le32(*b, 272), 0x0140u);
  EXPECT_EQ(le32(*b, 276), 0u);
  EXPECT_TRUE(std::equal(s.descriptor.begin(), s.descriptor.end(), b->begin() + 280));
}

TEST(UhidEvents, CreateCutsLongTextsAndRefusesUnusableDescriptors) {
  uhid::DeviceSpec s;
  s.name = std::string(300, 'n');
  s.phys = std::string(100, 'p');
  s.descriptor = {0xC0};
  const auto b = uhid::encodeCreate(s);
  ASSERT_TRUE(b);
  EXPECT_EQ(cstr(*b, 4, 128).size(), 127u);  // terminated inside its field
  EXPECT_EQ(cstr(*b, 132, 64).size(), 63u);
  EXPECT_EQ((*b)[196], 0);  // uniq untouched by the long phys

  s.descriptor.clear();
  EXPECT_FALSE(uhid::encodeCreate(s));
  s.descriptor.assign(4097, 0);
  EXPECT_FALSE(uhid::encodeCreate(s));
  s.descriptor.assign(4096, 0);
  EXPECT_TRUE(uhid::encodeCreate(s));
}

TEST(UhidEvents, InputCarriesTheWholeReportWithItsId) {
  const auto reports = usb::packInput("T,1,2\r\n");
  ASSERT_EQ(reports.size(), 1u);
  const auto b = uhid::encodeInput(reports[0].data(), reports[0].size());
  ASSERT_TRUE(b);
  EXPECT_EQ(le32(*b, 0), 12u);  // UHID_INPUT2
  EXPECT_EQ(le16(*b, 4), 49u);
  ASSERT_EQ(b->size(), 6u + 49u);
  EXPECT_EQ((*b)[6], usb::kInputId);
  EXPECT_EQ((*b)[7], 'T');
  EXPECT_EQ((*b)[6 + 48], 0xFF);

  const uint8_t one = 1;
  EXPECT_FALSE(uhid::encodeInput(&one, 0));
  EXPECT_FALSE(uhid::encodeInput(nullptr, 1));
  std::vector<uint8_t> big(4097, 1);
  EXPECT_FALSE(uhid::encodeInput(big.data(), big.size()));
  EXPECT_TRUE(uhid::encodeInput(big.data(), 4096));
}

TEST(UhidEvents, RepliesAndDestroyAreLongEnoughForTheKernel) {
  const auto d = uhid::encodeDestroy();
  EXPECT_EQ(le32(d, 0), 1u);
  EXPECT_GE(d.size(), 6u);

  const auto g = uhid::encodeGetReportReply(0xA1B2C3D4, 5, {3, 9});
  EXPECT_EQ(le32(g, 0), 10u);
  EXPECT_EQ(le32(g, 4), 0xA1B2C3D4u);
  EXPECT_EQ(le16(g, 8), 5u);
  EXPECT_EQ(le16(g, 10), 2u);
  EXPECT_EQ(g.at(12), 3);
  EXPECT_EQ(g.at(13), 9);

  const auto r = uhid::encodeSetReportReply(77, 5);
  EXPECT_EQ(le32(r, 0), 14u);
  EXPECT_EQ(le32(r, 4), 77u);
  EXPECT_EQ(le16(r, 8), 5u);
}

TEST(UhidEvents, OutputFromTheKernelGivesTheReportAsTheHostWroteIt) {
  auto b = kernelEvent(6);  // UHID_OUTPUT: data[4096], size, rtype
  const uint8_t poll[] = {usb::kCommandId, usb::kPollCmd};
  std::fill(b.begin() + 4, b.begin() + 4 + 49, 0xFF);
  std::copy(std::begin(poll), std::end(poll), b.begin() + 4);
  b[4100] = 49;
  b[4102] = 1;  // output report
  const auto e = uhid::decodeEvent(b.data(), b.size());
  ASSERT_EQ(e.kind, uhid::Event::Output);
  EXPECT_EQ(e.reportType, uhid::OutputReport);
  ASSERT_EQ(e.data.size(), 49u);
  EXPECT_EQ(usb::parseHostReport(e.data.data(), e.data.size()).kind, usb::HostReport::Poll);

  b[4101] = 0x20;  // size 8241: more than the data field holds
  EXPECT_EQ(uhid::decodeEvent(b.data(), b.size()).kind, uhid::Event::Invalid);
  b[4101] = 0;
  EXPECT_EQ(uhid::decodeEvent(b.data(), 4102).kind, uhid::Event::Invalid);  // cut before rtype
}

TEST(UhidEvents, StartRequestsAndUnknownEventsDecode) {
  auto s = kernelEvent(2);
  s[4] = 0x06;
  s[11] = 0x80;
  auto e = uhid::decodeEvent(s.data(), s.size());
  ASSERT_EQ(e.kind, uhid::Event::Start);
  EXPECT_EQ(e.devFlags, 0x8000000000000006ull);

  auto g = kernelEvent(9);
  g[4] = 0x10;
  g[5] = 0x20;
  g[8] = 3;
  g[9] = 0;
  e = uhid::decodeEvent(g.data(), g.size());
  ASSERT_EQ(e.kind, uhid::Event::GetReport);
  EXPECT_EQ(e.requestId, 0x2010u);
  EXPECT_EQ(e.reportNumber, 3);
  EXPECT_EQ(e.reportType, uhid::FeatureReport);

  auto r = kernelEvent(13);
  r[4] = 7;
  r[8] = 2;
  r[9] = 1;
  r[10] = 2;
  r[12] = 0xAB;
  r[13] = 0xCD;
  e = uhid::decodeEvent(r.data(), r.size());
  ASSERT_EQ(e.kind, uhid::Event::SetReport);
  EXPECT_EQ(e.requestId, 7u);
  EXPECT_EQ(e.data, (std::vector<uint8_t>{0xAB, 0xCD}));

  for (uint32_t t : {3u, 4u, 5u})
    EXPECT_NE(uhid::decodeEvent(kernelEvent(t).data(), 8).kind, uhid::Event::Invalid);
  EXPECT_EQ(uhid::decodeEvent(kernelEvent(99).data(), 8).kind, uhid::Event::Other);
  EXPECT_EQ(uhid::decodeEvent(s.data(), 3).kind, uhid::Event::Invalid);
  EXPECT_EQ(uhid::decodeEvent(nullptr, 100).kind, uhid::Event::Invalid);
}

TEST(UhidNode, FoundByExactPhysUnderTheHidBus) {
  const fs::path root = fs::temp_directory_path() / ("uhid-sysfs-" + std::to_string(getpid()));
  fs::remove_all(root);
  auto device =
      [&](const std::string& dir, const std::string& phys, const char* hidraw) {
        const fs::path d = root / "bus/hid/devices" / dir;
        fs::create_directories(d);
        std::ofstream(d / "uevent")
            << "DRIVER=hid-generic\nHID_ID=0003:00003A61:00007730\nHID_NAME=x\nHID_PHYS=" << phys
            << "\nMODALIAS=hid:b0003\n";
        if (hidraw) fs::create_directories(d / "hidraw" / hidraw);
      };
  device("0003:3A61:7730.0001", "tks7730-sim/5/10", "hidraw0");
  device("0003:3A61:7730.0002", "tks7730-sim/5/1", "hidraw3");
  device("0003:3A61:7730.0003", "tks7730-sim/5/2", nullptr);  // no driver bound yet
  EXPECT_EQ(uhid::findHidrawNode(root.string(), "tks7730-sim/5/1"), "hidraw3");
  EXPECT_EQ(uhid::findHidrawNode(root.string(), "tks7730-sim/5/10"), "hidraw0");
  EXPECT_EQ(uhid::findHidrawNode(root.string(), "tks7730-sim/5/2"), "");
  EXPECT_EQ(uhid::findHidrawNode(root.string(), "tks7730-sim/5"), "");
  EXPECT_EQ(uhid::findHidrawNode((root / "none").string(), "tks7730-sim/5/1"), "");
  fs::remove_all(root);
}

TEST(UhidOptions, CountAndDeviceNeedNoSocketFolder) {
  ::unsetenv("ZERVDCOM_HID_SIM_DIR");
  SimOptions o;
  std::string err;
  ASSERT_EQ(parseOptions({"--no-pty", "--uhid", "2", "--uhid-device", "/tmp/u"}, o, err),
            ParseResult::Run)
      << err;
  EXPECT_EQ(o.uhidCount, 2);
  EXPECT_EQ(o.uhidDevice, "/tmp/u");
  EXPECT_EQ(o.usbCount, 0);

  SimOptions d;
  EXPECT_EQ(parseOptions({}, d, err), ParseResult::Run);
  EXPECT_EQ(d.uhidCount, 0);
  EXPECT_EQ(d.uhidDevice, "/dev/uhid");
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--uhid", "17"},
                                             {"--uhid", "-1"},
                                             {"--uhid"},
                                             {"--uhid-device"},
                                             {"--no-pty", "--uhid", "0"}}) {
    SimOptions b;
    err.clear();
    EXPECT_EQ(parseOptions(bad, b, err), ParseResult::Error) << bad[0];
    EXPECT_FALSE(err.empty());
  }
  const std::string help = helpText();
  EXPECT_NE(help.find("--uhid N"), std::string::npos);
  EXPECT_NE(help.find("--uhid-device"), std::string::npos);
}

TEST(UhidProcess, MissingUhidDeviceIsReportedAndExitsNonZero) {
  const std::string missing = "/nonexistent-" + std::to_string(getpid()) + "/uhid";
  int err[2];
  ASSERT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  posix_spawn_file_actions_addclose(&fa, err[0]);
  std::vector<std::string> args = {SIM_BIN, "--no-pty", "--uhid", "1", "--uhid-device", missing};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, SIM_BIN, &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  close(err[1]);
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(err[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(err[0]);
  int st = 0;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_NE(WEXITSTATUS(st), 0);
  EXPECT_NE(text.find(missing), std::string::npos) << text;
  EXPECT_NE(text.find("No such file"), std::string::npos) << text;
}
