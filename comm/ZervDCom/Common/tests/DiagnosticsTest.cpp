#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "Common/Assertion.h"
#include "Common/DiagLog.h"
#include "Common/Exc.h"
#include "Common/LogDir.h"

namespace {

// Each test gets its own log folder below the one the test environment gives.
class DiagLogFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("ZRQ_LOG_DIR");
    std::string root = base ? base : "/tmp";
    dir_ = root + "/diag-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    old_ = base ? base : "";
    ::setenv("ZRQ_LOG_DIR", (dir_ + "/sub").c_str(), 1);
  }
  void TearDown() override {
    diagLog().close();
    if (old_.empty())
      ::unsetenv("ZRQ_LOG_DIR");
    else
      ::setenv("ZRQ_LOG_DIR", old_.c_str(), 1);
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }  // clean-up only: a failure leaves a scratch folder
  }
  static std::string slurp(const std::string& path) {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  std::string dir_, old_;
};

TEST_F(DiagLogFolder, LevelZeroWritesNothingAndCreatesNoFile) {
  diagLog().init(0, "ZervDComDLL.log", false);
  diagLog().write(LogKind::COMM, 0, "hello\n");
  diagLog().flush();
  struct stat st {};
  EXPECT_NE(::stat(logFilePath("ZervDComDLL.log").c_str(), &st), 0);
  EXPECT_FALSE(diagLog().isEnabled());
}

TEST_F(DiagLogFolder, WritesTaggedLinesUpToItsLevelInAPrivateFolder) {
  diagLog().init(3, "ZervDComDLL.log", false);
  diagLog().write(LogKind::COMM, 3, "TH(%d)--> Started\n", 12);
  diagLog().write(LogKind::Serial, 1, "s\n");
  diagLog().write(LogKind::USB, 4, "too detailed\n");
  diagLog().write(LogKind::None, 1, "kind 4 is never written\n");
  diagLog().write(LogKind::MISC, 3, "All devices cleared");
  diagLog().close();
  EXPECT_EQ(slurp(logFilePath("ZervDComDLL.log")),
            "Log: COMM  >>>TH(12)--> Started\nLog: Serial>>>s\nLog: MISC  >>>All devices cleared");
  struct stat st {};
  ASSERT_EQ(::stat(logDirPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(DiagLogFolder, AFileThatCannotBeOpenedRaisesWithItsName) {
  ASSERT_TRUE(ensureLogDir());
  // A symbolic link planted in the folder is never followed.
  ASSERT_EQ(::symlink("/tmp/zrq-should-not-exist", logFilePath("ZervDComDLL.log").c_str()), 0);
  try {
    diagLog().init(2, "ZervDComDLL.log", true);
    FAIL() << "no exception";
  } catch (const CannotOpenFileExc& e) {
    EXPECT_NE(e.description().find(u"ZervDComDLL.log"), std::u16string::npos);
  }
  EXPECT_FALSE(diagLog().isEnabled());
}

TEST_F(DiagLogFolder, FailedAssertionLogsALineAndTellsTheHost) {
  std::string caption, text;
  int calls = 0;
  AssertionHandler old = setAssertionHandler([&](const std::string& c, const std::string& t) {
    caption = c;
    text = t;
    ++calls;
  });
  ZRQ_ASSERT(1 + 1 == 2);
  EXPECT_EQ(calls, 0);
  assertionCheck(false, "Unit.cpp", 77);
  assertionCheck(false, nullptr, 0);
  setAssertionHandler(old);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(caption, "Fatal Error!");
  EXPECT_EQ(
      text,
      "Debug assertion failed! Please report this error to Haldeco. NOTE: Assertion log is at: \"" +
          assertionLogPath() + "\". Click \"OK\" and then manually close the application.");
  std::string log = slurp(assertionLogPath());
  std::regex line(
      R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d -->Debug assertion failed in file "Unit.cpp" at line 77\. )"
      R"(Build: \(ZervDCom.dll v1.0 \(UNICODE\), 2004/05/10\)\n)"
      R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d -->Debug assertion failed! Build: \(ZervDCom.dll v1.0 \(UNICODE\), 2004/05/10\)\n)");
  EXPECT_TRUE(std::regex_match(log, line)) << log;
}

TEST(LogDirectory, FollowsTheVariablesInOrder) {
  std::string oldLog = std::getenv("ZRQ_LOG_DIR") ? std::getenv("ZRQ_LOG_DIR") : "";
  ::setenv("ZRQ_LOG_DIR", "/x/logs", 1);
  EXPECT_EQ(logDirPath(), "/x/logs");
  ::unsetenv("ZRQ_LOG_DIR");
  ::setenv("XDG_STATE_HOME", "/x/state", 1);
  EXPECT_EQ(logDirPath(), "/x/state/zrq");
  ::unsetenv("XDG_STATE_HOME");
  ::setenv("HOME", "/x/home", 1);
  EXPECT_EQ(logDirPath(), "/x/home/.local/state/zrq");
  EXPECT_EQ(logFilePath("/abs/file.log"), "/abs/file.log");
  // Without HOME the home comes from the password database, never /tmp.
  ::unsetenv("HOME");
  EXPECT_EQ(logDirPath().rfind("/tmp", 0), std::string::npos) << logDirPath();
  if (!oldLog.empty()) ::setenv("ZRQ_LOG_DIR", oldLog.c_str(), 1);
}

TEST(LogDirectory, AFolderOthersMayWriteIsRefused) {
  char tmpl[] = "/tmp/zrqlogXXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  std::string oldLog = std::getenv("ZRQ_LOG_DIR") ? std::getenv("ZRQ_LOG_DIR") : "";
  ::setenv("ZRQ_LOG_DIR", dir.c_str(), 1);
  ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
  EXPECT_FALSE(ensureLogDir());
  EXPECT_EQ(openLogFile("x.log", true), nullptr);
  struct stat st {};
  EXPECT_NE(::stat((dir + "/x.log").c_str(), &st), 0);  // nothing written there
  ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
  EXPECT_TRUE(ensureLogDir());
  FILE* f = openLogFile("x.log", true);
  EXPECT_NE(f, nullptr);
  if (f) std::fclose(f);
  ::unlink((dir + "/x.log").c_str());
  ::rmdir(dir.c_str());
  if (!oldLog.empty()) ::setenv("ZRQ_LOG_DIR", oldLog.c_str(), 1);
}

}  // namespace
