#include "HidUSB/HidLockFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

using HidIo::HidLockFile;

TEST(HidLockFile, NameIsTheDevicePathWithoutSlashesInTheRuntimeFolder) {
  HidTestData::TempDir dir;
  HidTestData::ScopedEnv runtimeDir("XDG_RUNTIME_DIR", dir.path());
  EXPECT_EQ(HidLockFile::lockFilePath("/dev/hidraw3"), dir / "devhidraw3");
}

TEST(HidLockFile, SecondLockOfTheSamePathIsBusyUntilTheFirstIsReleased) {
  HidTestData::TempDir dir;
  HidTestData::ScopedEnv runtimeDir("XDG_RUNTIME_DIR", dir.path());
  int err = 0;
  HidLockFile a, b, other;
  EXPECT_EQ(a.acquire("/dev/hidraw0", err), HidLockFile::Result::Locked);
  EXPECT_EQ(b.acquire("/dev/hidraw0", err), HidLockFile::Result::Busy);
  EXPECT_FALSE(b.held());
  EXPECT_EQ(other.acquire("/dev/hidraw1", err), HidLockFile::Result::Locked);
  a.release();
  EXPECT_EQ(b.acquire("/dev/hidraw0", err), HidLockFile::Result::Locked);
}

TEST(HidLockFile, LockHeldByAnotherProcess) {
  HidTestData::TempDir dir;
  HidTestData::ScopedEnv runtimeDir("XDG_RUNTIME_DIR", dir.path());
  int toParent[2], toChild[2];
  ASSERT_EQ(::pipe(toParent), 0);
  ASSERT_EQ(::pipe(toChild), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int e = 0;
    HidLockFile l;
    char r = l.acquire("/dev/hidraw7", e) == HidLockFile::Result::Locked ? 'L' : 'F';
    (void)!::write(toParent[1], &r, 1);
    (void)!::read(toChild[0], &r, 1);  // hold until told
    l.release();
    (void)!::write(toParent[1], &r, 1);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(toParent[0], &c, 1), 1);
  ASSERT_EQ(c, 'L');
  int err = 0;
  HidLockFile mine;
  EXPECT_EQ(mine.acquire("/dev/hidraw7", err), HidLockFile::Result::Busy);
  ASSERT_EQ(::write(toChild[1], &c, 1), 1);
  ASSERT_EQ(::read(toParent[0], &c, 1), 1);
  EXPECT_EQ(mine.acquire("/dev/hidraw7", err), HidLockFile::Result::Locked);
  int st = 0;
  ::waitpid(pid, &st, 0);
  EXPECT_TRUE(WIFEXITED(st));
}

TEST(HidLockFile, TheFileGoesWithTheLockAndLockersNeverShareAnOldFile) {
  HidTestData::TempDir dir;
  HidTestData::ScopedEnv runtimeDir("XDG_RUNTIME_DIR", dir.path());
  const std::string file = HidLockFile::lockFilePath("/dev/hidraw4");
  int err = 0;
  {
    HidLockFile a;
    ASSERT_EQ(a.acquire("/dev/hidraw4", err), HidLockFile::Result::Locked);
    EXPECT_EQ(::access(file.c_str(), F_OK), 0);
  }
  EXPECT_NE(::access(file.c_str(), F_OK), 0);  // one file per device path no more

  // Many lockers in turn from two threads: never two holders at once.
  std::atomic<int> holders{0}, worst{0}, locked{0};
  auto run = [&] {
    for (int i = 0; i < 2000; ++i) {
      int e = 0;
      HidLockFile l;
      if (l.acquire("/dev/hidraw4", e) != HidLockFile::Result::Locked) continue;
      locked.fetch_add(1);
      const int now = holders.fetch_add(1) + 1;
      int w = worst.load();
      while (now > w && !worst.compare_exchange_weak(w, now)) {
      }
      holders.fetch_sub(1);
    }
  };
  std::thread t1(run), t2(run);
  t1.join();
  t2.join();
  EXPECT_EQ(worst.load(), 1);
  EXPECT_GT(locked.load(), 0);
  EXPECT_NE(::access(file.c_str(), F_OK), 0);
}
