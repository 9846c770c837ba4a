#include "PortCandidates.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace {

using zrq::comm::serialPortCandidates;

class PortCandidates : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zrq-ports.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  void touch(const std::string& name) { std::ofstream(dir + "/" + name).put('x'); }
  std::string dir;
};

TEST_F(PortCandidates, LegacyNamesThenAdaptersInNumericOrderThenTheExtraPaths) {
  for (const char* n : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSBx", "ttyUSB", "ttyS0", "null"})
    touch(n);
  const std::vector<std::string> expected = {"COM0",           "COM1",           "COM2",
                                             "COM3",           dir + "/ttyUSB2", dir + "/ttyUSB10",
                                             dir + "/ttyACM0", "/tmp/a",         "/dev/pts/7"};
  EXPECT_EQ(serialPortCandidates(dir, "/tmp/a::/dev/pts/7:COM1:/tmp/a:"), expected);
}

TEST_F(PortCandidates, NothingExtraAndAMissingFolderLeaveTheLegacyNames) {
  const std::vector<std::string> legacy = {"COM0", "COM1", "COM2", "COM3"};
  EXPECT_EQ(serialPortCandidates(dir, ""), legacy);
  EXPECT_EQ(serialPortCandidates(dir + "/missing", ":::"), legacy);
}

}  // namespace
