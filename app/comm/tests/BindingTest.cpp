#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "AppStatus.h"
#include "DevComInterface.h"
#include "USB/TKS7730Stats.h"
#include "ZervDComDLL.h"

using namespace zrq::comm;
namespace dll = zrq::comm::ZervDComDLL;

namespace {

const char* const kMissing = "/nonexistent-zrq-folder/libZervDCom.so";

std::string realLibrary() {
  const char* bin = std::getenv("ZRQ_BIN_DIR");
  return std::string(bin ? bin : ".") + "/libZervDCom.so";
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

class Binding : public ::testing::Test {
 protected:
  void TearDown() override { dll::setLibraryPath(""); }
};

TEST_F(Binding, MissingLibraryNamesTheFileAndIsRetriedOnTheNextCall) {
  dll::setLibraryPath(kMissing);
  for (int call = 0; call < 2; ++call) {
    try {
      dll::getLastErr(1);
      FAIL() << "no exception";
    } catch (const ZervDComProcExc&) {
      FAIL() << "wrong class";
    } catch (const ZervDComExc& e) {
      EXPECT_EQ(e.message(), "Unable to load DLL: \"libZervDCom.so\"");
    }
    EXPECT_FALSE(dll::isLoaded());
  }
  if (!exists(realLibrary())) GTEST_SKIP() << "libZervDCom.so not built yet";
  // The same process recovers as soon as the file is there.
  dll::setLibraryPath(realLibrary());
  char16_t buf[256] = {};
  EXPECT_EQ(dll::getVersionInfo(buf, 256), 1);
  EXPECT_TRUE(dll::isLoaded());
  EXPECT_NE(toNarrow(buf).find("ZervDCom"), std::string::npos);
}

TEST_F(Binding, LibraryWithoutPurgeFailsOnThatNameAndBindsNothing) {
  dll::setLibraryPath(ZRQ_NOPURGE_LIB);
  for (int call = 0; call < 2; ++call) {
    try {
      dll::close(1);  // resolved before comm_purge, yet unusable
      FAIL() << "no exception";
    } catch (const ZervDComProcExc& e) {
      EXPECT_EQ(e.message(), "Unable to import :comm_purge");
    }
    EXPECT_FALSE(dll::isLoaded());
  }
}

TEST_F(Binding, DefaultPathIsTheProgramsFolder) {
  dll::setLibraryPath("");
  const std::string path = dll::libraryPath();
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "libZervDCom.so");
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  std::string folder(exe);
  folder = folder.substr(0, folder.rfind('/'));
  EXPECT_EQ(path, folder + "/libZervDCom.so");
}

TEST(BindingExceptions, MessagesAndLimits) {
  EXPECT_EQ(ZervDComProcNotUsedExc("close()").message(), "close() has not been properly imported!");
  EXPECT_EQ(ZervDComProcExc("comm_read").message(), "Unable to import :comm_read");
  EXPECT_EQ(ZervDComExc(std::string(400, 'x')).message().size(), 255u);
  EXPECT_EQ(dll::kProcCount, 20);
  EXPECT_STREQ(dll::PROC_NAMES[0], "comm_loadInterface");
  EXPECT_STREQ(dll::PROC_NAMES[15], "comm_purge");
  EXPECT_STREQ(dll::PROC_NAMES[19], "comm_isTKS7730USBPortAvail");
}

TEST_F(Binding, InterfaceReportsTheExceptionAndStaysClosed) {
  dll::setLibraryPath(kMissing);
  MemoryStatsGrid grid;
  TKS7730Stats stats(&grid);
  MemoryStatusMemo memo;
  AppStatus status(&memo);
  DevComInterface port(PortType::Serial, "COM1", stats.addPortRow("COM1"), &stats, &status, -1);
  port.open(5);
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(grid.cell(1, 1), "ERROR");
  EXPECT_TRUE(
      memo.contains("COM1--> \tException caught while using the comm DLL:Unable to load DLL: "
                    "\"libZervDCom.so\""));
  port.purge();
  EXPECT_TRUE(memo.contains("COM1--> \tCannot purge - port is not open!"));
}

TEST(WideText, RoundTripsAsciiAndUtf8) {
  EXPECT_EQ(toWide("COM1"), u"COM1");
  EXPECT_EQ(toNarrow(u"/dev/pts/3"), "/dev/pts/3");
  EXPECT_EQ(toNarrow(toWide("\xC2\xB5W \xF0\x9F\x98\x80")), "\xC2\xB5W \xF0\x9F\x98\x80");
  EXPECT_EQ(toWide("\xFFx"), u"\uFFFDx");
  EXPECT_EQ(toNarrow(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(toNarrow(static_cast<const char16_t*>(nullptr)), "");
}

}  // namespace
