#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "AppStatus.h"
#include "ComTestLog.h"
#include "CommAssert.h"

using namespace zrq::comm;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    const char* v = std::getenv(name);
    had_ = v != nullptr;
    if (v) value_ = v;
  }
  ~EnvGuard() {
    if (had_)
      setenv(name_, value_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string value_;
};

std::string scratchDir(const std::string& name) {
  std::string base = std::getenv("ZRQ_LOG_DIR") ? std::getenv("ZRQ_LOG_DIR") : "/tmp";
  std::string dir = base + "/comm-status-test-" + name + "-" + std::to_string(getpid());
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) return dir;
  return dir;
}

TEST(LogFolder, FollowsTheEnvironmentInOrderAndIsPrivate) {
  EnvGuard a("ZRQ_LOG_DIR"), b("XDG_STATE_HOME"), c("HOME");
  const std::string root = scratchDir("folder");
  setenv("ZRQ_LOG_DIR", (root + "/explicit").c_str(), 1);
  EXPECT_EQ(logFolder(), root + "/explicit");
  struct stat st {};
  ASSERT_EQ(stat((root + "/explicit").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  unsetenv("ZRQ_LOG_DIR");
  setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
  EXPECT_EQ(logFolder(), root + "/state/zrq");

  unsetenv("XDG_STATE_HOME");
  setenv("HOME", (root + "/home").c_str(), 1);
  EXPECT_EQ(logFolder(), root + "/home/.local/state/zrq");
  ASSERT_EQ(stat((root + "/home/.local/state/zrq").c_str(), &st), 0);
}

TEST(LogFolder, AFolderOthersMayWriteIsRefusedWithTheReason) {
  EnvGuard a("ZRQ_LOG_DIR");
  const std::string dir = scratchDir("shared");
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  setenv("ZRQ_LOG_DIR", dir.c_str(), 1);
  std::string why;
  EXPECT_EQ(logFolder(true, &why), "");
  EXPECT_NE(why.find("writable by others"), std::string::npos) << why;
  why.clear();
  EXPECT_FALSE(ComTestLog::openDefault(&why));
  EXPECT_NE(why.find(dir), std::string::npos) << why;
  struct stat st {};
  EXPECT_NE(stat((dir + "/" + ComTestLog::kFileName).c_str(), &st), 0) << "nothing written there";
}

TEST(ComTestLogFile, TruncatesOnOpenAndRefusesSymlinks) {
  const std::string dir = scratchDir("log");
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::string path = dir + "/" + ComTestLog::kFileName;
  {
    std::ofstream old(path);
    old << "old run\n";
  }
  ASSERT_TRUE(ComTestLog::open(path));
  ComTestLog::write("line one\n");
  EXPECT_EQ(readFile(path), "line one\n");  // flushed at once, old content gone
  ComTestLog::close();

  const std::string target = dir + "/target";
  const std::string link = dir + "/link.log";
  {
    std::ofstream t(target);
    t << "keep";
  }
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_FALSE(ComTestLog::open(link));
  EXPECT_FALSE(ComTestLog::isOpen());
  ComTestLog::write("lost\n");  // no log open: nothing happens
  EXPECT_EQ(readFile(target), "keep");
}

TEST(ComTestLogFile, ASecondZrqBesideTheFirstKeepsALogOfItsOwn) {
  EnvGuard a("ZRQ_LOG_DIR");
  const std::string dir = scratchDir("instances");
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  setenv("ZRQ_LOG_DIR", dir.c_str(), 1);
  // The first ZRQ holds its log (another open file, as another process has).
  const std::string first = dir + "/" + ComTestLog::kFileName;
  const int held = ::open(first.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(::write(held, "first's line\n", 13), 13);

  ASSERT_TRUE(ComTestLog::openDefault());
  EXPECT_EQ(ComTestLog::path(), dir + "/TKS7730ComTest-2.log");
  ComTestLog::write("second's line\n");
  ComTestLog::close();
  EXPECT_EQ(readFile(first), "first's line\n");
  EXPECT_EQ(readFile(dir + "/TKS7730ComTest-2.log"), "second's line\n");
  ::close(held);
}

TEST(ComTestLogFile, RotatesAtItsLimitKeepingOnePreviousFile) {
  const std::string dir = scratchDir("rotate");
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::string path = dir + "/" + ComTestLog::kFileName;
  ComTestLog::setRotateBytes(100);
  ASSERT_TRUE(ComTestLog::open(path));
  auto line = [](int i) {
    std::string l = "status line " + std::to_string(i);
    l.resize(24, '.');
    return l + "\n";  // 25 bytes
  };
  for (int i = 0; i < 4; ++i) ComTestLog::write(line(i));
  EXPECT_EQ(readFile(path).size(), 100u);
  struct stat st {};
  EXPECT_NE(stat((path + ".1").c_str(), &st), 0);  // exactly at the limit: no rotation yet
  ComTestLog::write(line(4));
  EXPECT_EQ(readFile(path), line(4));
  EXPECT_EQ(readFile(path + ".1"), line(0) + line(1) + line(2) + line(3));
  for (int i = 5; i < 13; ++i) ComTestLog::write(line(i));
  // Lines 4..7 went to .1 and were replaced by 8..11; 12 starts the log.
  EXPECT_EQ(readFile(path + ".1"), line(8) + line(9) + line(10) + line(11));
  EXPECT_EQ(readFile(path), line(12));
  EXPECT_EQ(stat((path + ".2").c_str(), &st), -1);
  ComTestLog::close();
  ComTestLog::setRotateBytes(ComTestLog::kDefaultRotateBytes);
}

TEST(AppStatusSink, LinesReachMemoAndLogInOrder) {
  const std::string dir = scratchDir("sink");
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::string path = dir + "/" + ComTestLog::kFileName;
  ASSERT_TRUE(ComTestLog::open(path));
  MemoryStatusMemo memo;
  memo.appendLine("left over");
  {
    AppStatus status(&memo);
    EXPECT_TRUE(memo.lines().empty());  // the constructor clears the memo
    status.add("first");
    status.addf("%s--> \t%s passed. Resp (%d) bytes: %s", "COM1", "Interrogation", 7, "x");
    EXPECT_EQ(memo.lines(), (std::vector<std::string>{
                                "first", "COM1--> \tInterrogation passed. Resp (7) bytes: x"}));
    status.clear();
    EXPECT_TRUE(memo.lines().empty());
  }
  EXPECT_EQ(readFile(path), "first\nCOM1--> \tInterrogation passed. Resp (7) bytes: x\n");
  ComTestLog::close();
}

TEST(AppStatusSink, FormattedLinesAreCutNotOverrun) {
  MemoryStatusMemo memo;
  AppStatus status(&memo);
  const std::string longText(2000, 'a');
  status.addf("%s", longText.c_str());
  ASSERT_EQ(memo.lines().size(), 1u);
  EXPECT_EQ(memo.lines()[0].size(), 511u);
}

TEST(AppStatusSink, NullMemoIsAnAssertion) {
  EXPECT_NO_THROW(AppStatus status(nullptr));  // swallowed while clearing
  AppStatus status(nullptr);
  EXPECT_THROW(status.add("x"), AssertionFailed);
}

TEST(AppStatusSink, ConcurrentWritersKeepEachThreadsOrder) {
  MemoryStatusMemo memo;
  AppStatus status(&memo);
  auto writer = [&](char id) {
    for (int i = 0; i < 200; ++i) status.add(std::string(1, id) + std::to_string(i));
  };
  std::thread t1(writer, 'a'), t2(writer, 'b');
  t1.join();
  t2.join();
  auto lines = memo.lines();
  ASSERT_EQ(lines.size(), 400u);
  int nextA = 0, nextB = 0;
  for (const auto& l : lines) {
    int n = std::stoi(l.substr(1));
    if (l[0] == 'a')
      EXPECT_EQ(n, nextA++);
    else
      EXPECT_EQ(n, nextB++);
  }
}

}  // namespace
