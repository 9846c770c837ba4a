#include "LogRun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "Eventually.h"
#include "SimHarness.h"

extern char** environ;

namespace zrq::logger::test {

namespace {
int counter = 0;
}

Child::Child(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& env) {
  errPath_ =
      "/tmp/zrq-child-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".err";
  const std::string path = comm::test::binDir() + "/" + program;
  // The given entries replace inherited ones of the same name.
  std::vector<std::string> envCopy;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& mine : env) replaced = replaced || mine.rfind(name, 0) == 0;
    if (!replaced) envCopy.push_back(entry);
  }
  for (const std::string& e : env) envCopy.push_back(e);
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : envCopy) envp.push_back(e.data());
  envp.push_back(nullptr);
  const int fd = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    const int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::execve(path.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  if (fd >= 0) ::close(fd);
}

Child::~Child() {
  if (pid_ > 0 && status_ == -2) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  ::unlink(errPath_.c_str());
}

void Child::signal(int sig) const {
  if (pid_ > 0 && status_ == -2) ::kill(pid_, sig);
}

int Child::wait(int timeoutMs) {
  if (pid_ <= 0) return -1;
  if (status_ != -2) return status_;
  int st = 0;
  if (!::zrq::test::eventually([&] { return ::waitpid(pid_, &st, WNOHANG) != 0; }, timeoutMs)) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    status_ = -1;
    return status_;
  }
  status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return status_;
}

std::string Child::errors() const {
  std::ifstream f(errPath_);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

ReadBack readLog(const std::string& path, bool headers) {
  ReadBack r;
  const std::string cmd = std::string("'") + ZRQ_PYTHON3 + "' '" + ZRQ_LOG_CSV_READER + "' '" +
                          path + "' " + (headers ? "1" : "0") + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) {
    r.why = "popen failed";
    return r;
  }
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = ::pclose(p);
  r.ok = WIFEXITED(st) && WEXITSTATUS(st) == 0;
  if (!r.ok) {
    r.why = out;
    return r;
  }
  std::stringstream lines(out);
  for (std::string l; std::getline(lines, l);) {
    std::vector<std::string> f(1);
    for (char c : l) {
      if (c == '|')
        f.emplace_back();
      else
        f.back() += c;
    }
    r.records.push_back(f);
  }
  return r;
}

int lineCount(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  int n = 0;
  for (std::size_t i = 0; (i = text.find("\r\n", i)) != std::string::npos; i += 2) ++n;
  return n;
}

int secondsOfDay(const std::string& time) {
  int h = 0, m = 0, s = 0;
  if (std::sscanf(time.c_str(), "%d:%d:%d", &h, &m, &s) != 3) return -1;
  return h * 3600 + m * 60 + s;
}

}  // namespace zrq::logger::test
