// The log file writer: headers once, appends, and failures that leave whole
// records behind. Files are read back with Python's csv module, never with
// the code that wrote them.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/LogFile.h"
#include "core/LogRecord.h"

namespace zrq::core {
namespace {

namespace fs = std::filesystem;

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "zrq-logfile-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, ec);
    fs::remove_all(dir, ec);
  }

  static std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Runs the Python reader; its exit status and output.
  struct Read {
    int status = -1;
    std::vector<std::string> records;
  };
  static Read readBack(const fs::path& file, bool headers) {
    const std::string cmd = std::string("'") + ZRQ_PYTHON3 + "' '" + ZRQ_LOG_CSV_READER + "' '" +
                            file.string() + "' " + (headers ? "1" : "0");
    Read r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::stringstream lines(out);
    for (std::string l; std::getline(lines, l);) r.records.push_back(l);
    return r;
  }

  static LogRecordInput record(int type, double fwd) {
    LogRecordInput in;
    in.when = {2026, 12, 8, 9, 0, 0};
    in.sensorSerial = "12345";
    in.measType = type;
    in.fwdAvgPower = fwd;
    in.rflPowerRaw = fwd / 100;
    in.dutyCycle = 80;
    in.peakW = fwd * 1.6;
    in.burstW = fwd * 1.25;
    in.vswr = 1.222;
    in.crestFactor = 1.6;
    in.ccdfFactor = 12.5;
    return in;
  }

  fs::path dir;
};

TEST_F(LogFileTest, NewFileGetsHeadersOnceThenRecordsAppendWithout) {
  const fs::path file = dir / "log.csv";
  {
    LogFile log;
    ASSERT_TRUE(log.open(file.string()));
    EXPECT_TRUE(log.createdNew());
    ASSERT_TRUE(log.append(buildLogRecord(record(1, 100))));
    ASSERT_TRUE(log.append(buildLogRecord(record(5, 50))));
  }
  {
    LogFile log;  // logging switched on again on the same file
    ASSERT_TRUE(log.open(file.string()));
    EXPECT_FALSE(log.createdNew());
    ASSERT_TRUE(log.append(buildLogRecord(record(3, 500))));
  }
  const Read r = readBack(file, true);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.records.size(), 3u);
  EXPECT_EQ(r.records[0],
            "12/8/2026|09:00:00|12345|25.000000|0|50|4.5 KHz|100.000000|50.000000|1.000000|"
            "30.000000|0.100|1.220|-20.00|160.000000|52.041000|125.000000|50.969000|80.00|"
            "1.600000|NA");
  EXPECT_EQ(r.records[1],
            "12/8/2026|09:00:00|12345|25.000000|0|50|4.5 KHz|50.000000|46.990000|0.500000|"
            "26.990000|0.100|1.220|-20.00|80.000000|49.031000|NA|NA|NA|1.600000|12.500000");
  EXPECT_EQ(r.records[2].substr(0, 60),
            "12/8/2026|09:00:00|12345|25.000000|0|50|4.5 KHz|450.000000|5");
  // Exactly two header lines in the whole file.
  const std::string text = slurp(file);
  EXPECT_EQ(text.find(kLogHeaderLine2), text.rfind(kLogHeaderLine2));
}

TEST_F(LogFileTest, AnExistingFileKeepsItsContentAndGetsNoHeaders) {
  const fs::path file = dir / "old.csv";
  { std::ofstream(file, std::ios::binary) << buildLogRecord(record(1, 10)); }
  LogFile log;
  ASSERT_TRUE(log.open(file.string()));
  EXPECT_FALSE(log.createdNew());
  ASSERT_TRUE(log.append(buildLogRecord(record(1, 20))));
  log.close();
  const Read r = readBack(file, false);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_NE(r.records[0].find("|10.000000|"), std::string::npos);
  EXPECT_NE(r.records[1].find("|20.000000|"), std::string::npos);
}

TEST_F(LogFileTest, AFullDeviceIsAnErrorNotASuccess) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  LogFile log;
  ASSERT_TRUE(log.open("/dev/full"));  // exists: no headers written at open
  const LogFileResult r = log.append(buildLogRecord(record(1, 1)));
  EXPECT_FALSE(r);
  EXPECT_EQ(r.errorNumber, ENOSPC);
  EXPECT_NE(r.message.find("/dev/full"), std::string::npos) << r.message;
}

TEST_F(LogFileTest, AShortWriteIsCutBackToTheLastWholeRecord) {
  const fs::path file = dir / "limited.csv";
  LogFile log;
  ASSERT_TRUE(log.open(file.string()));
  ASSERT_TRUE(log.append(buildLogRecord(record(1, 100))));
  const auto whole = fs::file_size(file);
  // A file size limit makes the next write stop part-way, like a full disk.
  const std::string big = buildLogRecord(record(1, 200));
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {
      static_cast<rlim_t>(whole + 10), static_cast<rlim_t>(whole + 10)
    };
    ::setrlimit(RLIMIT_FSIZE, &lim);
    const LogFileResult r = log.append(big);
    ::_exit(r ? 10 : (r.errorNumber == 0 ? 11 : 0));
  }
  int st = 0;
  ASSERT_EQ(::waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0) << "the short write must be reported with its error";
  EXPECT_EQ(fs::file_size(file), whole) << "the torn line is cut off";
  ASSERT_TRUE(log.append(buildLogRecord(record(1, 300))));  // and logging can go on
  log.close();
  const Read r = readBack(file, true);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_NE(r.records[1].find("|300.000000|"), std::string::npos);
}

TEST_F(LogFileTest, AReadOnlyFileCannotBeOpened) {
  const fs::path file = dir / "ro.csv";
  { std::ofstream(file) << "kept\r\n"; }
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(dir, fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
  // Root may write anything: the check runs as an ordinary user then.
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(20);
    LogFile log;
    const LogFileResult r = log.open(file.string());
    if (r) ::_exit(1);
    if (r.errorNumber != EACCES) ::_exit(2);
    if (r.message.find("ro.csv") == std::string::npos) ::_exit(3);
    if (log.isOpen()) ::_exit(4);
    if (log.append("x\r\n")) ::_exit(5);  // nothing open: an error, not a crash
    ::_exit(0);
  }
  int st = 0;
  ASSERT_EQ(::waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
  EXPECT_EQ(slurp(file), "kept\r\n");
}

TEST_F(LogFileTest, AFolderThatDoesNotExistOrIsNotAFile) {
  LogFile log;
  LogFileResult r = log.open((dir / "missing" / "log.csv").string());
  EXPECT_FALSE(r);
  EXPECT_EQ(r.errorNumber, ENOENT);
  EXPECT_FALSE(fs::exists(dir / "missing"));
  r = log.open(dir.string());
  EXPECT_FALSE(r);
  EXPECT_FALSE(log.isOpen());
  r = log.open("");
  EXPECT_FALSE(r);
}

TEST_F(LogFileTest, ALinkOrAPipeAtTheNameIsRefusedAtOnce) {
  const fs::path victim = dir / "victim.csv";
  std::ofstream(victim) << "theirs\n";
  fs::create_symlink(victim, dir / "link.csv");
  ASSERT_EQ(::mkfifo((dir / "fifo.csv").c_str(), 0600), 0);
  for (const char* name : {"link.csv", "fifo.csv"}) {
    SCOPED_TRACE(name);
    LogFile log;
    const LogFileResult r = log.open((dir / name).string());  // a FIFO without reader: no wait
    EXPECT_FALSE(r);
    EXPECT_FALSE(log.isOpen());
    EXPECT_NE(r.message.find(name), std::string::npos) << r.message;
  }
  EXPECT_EQ(slurp(victim), "theirs\n");
}

TEST_F(LogFileTest, HeadersThatCannotBeWrittenLeaveNoFileBehind) {
  const fs::path file = dir / "new.csv";
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {
      20, 20
    };
    ::setrlimit(RLIMIT_FSIZE, &lim);
    LogFile log;
    const LogFileResult r = log.open(file.string());
    ::_exit(!r && !log.isOpen() ? 0 : 1);
  }
  int st = 0;
  ASSERT_EQ(::waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
  // Otherwise the next attempt would find the file and never write headers.
  EXPECT_FALSE(fs::exists(file));
  LogFile log;
  ASSERT_TRUE(log.open(file.string()));
  EXPECT_TRUE(log.createdNew());
}

TEST_F(LogFileTest, AFileRemovedWhileLoggingIsAnError) {
  const fs::path file = dir / "gone.csv";
  LogFile log;
  ASSERT_TRUE(log.open(file.string()));
  ASSERT_TRUE(log.append(buildLogRecord(record(1, 1))));
  fs::remove(file);
  const LogFileResult r = log.append(buildLogRecord(record(1, 2)));
  EXPECT_FALSE(r) << "records would vanish into a deleted file";
  EXPECT_NE(r.message.find("deleted"), std::string::npos) << r.message;
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(LogFileTest, ManyRecordsReadBackInOrder) {
  const fs::path file = dir / "many.csv";
  LogFile log;
  ASSERT_TRUE(log.open(file.string()));
  for (int i = 0; i < 200; ++i) {
    auto in = record(1 + i % 5, i);
    in.sensorSerial = i % 7 == 0 ? "S,N" : "12345";  // quoted field
    ASSERT_TRUE(log.append(buildLogRecord(in)));
  }
  log.close();
  const Read r = readBack(file, true);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.records.size(), 200u);
  for (int i = 0; i < 200; i += 13) {
    const std::string& rec = r.records[static_cast<std::size_t>(i)];
    EXPECT_EQ(rec.find(i % 7 == 0 ? "|S,N|" : "|12345|"), 18u) << rec;
    const double fwd = std::min<double>(i, 450);
    char want[32];
    std::snprintf(want, sizeof want, "|%d.000000|", static_cast<int>(fwd));
    EXPECT_NE(rec.find(want), std::string::npos) << rec;
  }
}

}  // namespace
}  // namespace zrq::core
