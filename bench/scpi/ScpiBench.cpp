// scpi_bench: FETC? round trips over loopback, served by scpi::TcpServer +
// scpi::Engine (a fake instrument that always has a reading), against a
// floor measured in the same run: a minimal server of the same kind
// (non-blocking sockets, epoll, one thread) that answers every LF-ended line
// with a fixed reply of the same length.
//
// For 1 and for 8 clients (each its own thread, blocking socket, one query
// then wait for its LF) querying flat out: queries/s, median and p99
// latency, and the ratios engine / floor. Cases alternate over rounds so a
// busy machine slows both alike.
// Also the engine's own cost per FETC? without sockets, for orientation.
// Goals: median <= 1.3 x floor; >= 5,000 queries/s from one client.
//
//   scpi_bench [SECONDS_PER_ROUND (default 1)] [ROUNDS (default 5)]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BenchTiming.h"
#include "scpi/Engine.h"
#include "scpi/TcpServer.h"

namespace {

using zrq::bench::Clock;
namespace scpi = zrq::scpi;

class FakeInstrument : public scpi::Instrument {
 public:
  FakeInstrument() {
    reading_.sequence = 1;
    reading_.time = "2026-01-01T00:00:00.000+00:00";
    reading_.forwardAverageW = 12.345678;
    reading_.reflectedW = 0.25;
    reading_.temperatureC = 25;
  }
  scpi::Identity identity() const override { return {"1234", "1.0"}; }
  bool streaming() const override { return true; }
  std::optional<scpi::Reading> latest() const override { return reading_; }
  scpi::Settings settings() const override { return settings_; }
  void apply(const scpi::Settings& s) override { settings_ = s; }
  bool startZeroCalibration(std::string*) override { return false; }
  bool zeroCalibrationRunning() const override { return false; }

 private:
  scpi::Reading reading_;
  scpi::Settings settings_;
};

const std::string kQuery = "FETC?\n";

// What the engine answers FETC? with, so the floor sends as many bytes.
std::string engineReply() {
  FakeInstrument inst;
  scpi::Engine engine(inst);
  scpi::Client c(engine);
  c.feed(kQuery);
  return c.output();
}

// A server on its own thread; stop() ends it through an eventfd.
class ServerThread {
 public:
  virtual ~ServerThread() = default;
  virtual int port() const = 0;
  void stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t r = write(stop_, &one, sizeof one);
    thread_.join();
  }

 protected:
  int stop_ = eventfd(0, EFD_CLOEXEC);
  std::thread thread_;
};

// The product: the host's poll on server.fd(), then service().
class EngineServer : public ServerThread {
 public:
  EngineServer() : engine_(inst_), server_(engine_) {
    std::string why;
    if (!server_.listen("127.0.0.1", 0, &why)) {
      std::fprintf(stderr, "scpi_bench: %s\n", why.c_str());
      std::exit(1);
    }
    thread_ = std::thread([this] {
      pollfd fds[2] = {{server_.fd(), POLLIN, 0}, {stop_, POLLIN, 0}};
      for (;;) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (fds[1].revents) break;
        if (fds[0].revents) server_.service();
      }
      server_.close();
    });
  }
  ~EngineServer() override { ::close(stop_); }
  int port() const override { return server_.port(); }

 private:
  FakeInstrument inst_;
  scpi::Engine engine_;
  scpi::TcpServer server_;
};

// The floor: epoll, level-triggered, a fixed reply per LF.
class FloorServer : public ServerThread {
 public:
  explicit FloorServer(std::string reply) : reply_(std::move(reply)) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listen_, 16) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
      std::perror("scpi_bench: floor");
      std::exit(1);
    }
    port_ = ntohs(sa.sin_port);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    add(listen_);
    add(stop_);
    thread_ = std::thread([this] { loop(); });
  }
  ~FloorServer() override {
    for (int fd : {listen_, epoll_, stop_}) ::close(fd);
  }
  int port() const override { return port_; }

 private:
  void add(int fd) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
  }
  void loop() {
    std::set<int> conns;
    epoll_event events[32];
    for (;;) {
      const int n = epoll_wait(epoll_, events, 32, -1);
      if (n < 0 && errno != EINTR) break;
      for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == stop_) {
          for (int c : conns) ::close(c);
          return;
        }
        if (fd == listen_) {
          for (int c;
               (c = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
            int one = 1;
            setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            conns.insert(c);
            add(c);
          }
          continue;
        }
        char buf[16384];
        const ssize_t r = recv(fd, buf, sizeof buf, 0);
        if (r <= 0) {
          if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
          epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
          ::close(fd);
          conns.erase(fd);
          continue;
        }
        std::string out;
        for (ssize_t k = 0; k < r; ++k)
          if (buf[k] == '\n') out += reply_;
        if (!out.empty()) [[maybe_unused]]
          ssize_t w = send(fd, out.data(), out.size(), MSG_NOSIGNAL);
      }
    }
  }

  std::string reply_;
  int listen_ = -1, epoll_ = -1, port_ = 0;
};

int connectTo(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    std::perror("scpi_bench: connect");
    std::exit(1);
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

struct Result {
  double queries = 0, seconds = 0;
  std::vector<double> latUs;
};

// One query, wait for its LF; over and over until the time is up.
Result drive(int port, int clients, double seconds, std::size_t replySize) {
  std::vector<int> fds;
  for (int i = 0; i < clients; ++i) fds.push_back(connectTo(port));
  std::vector<std::vector<double>> lat(clients);
  std::latch start(clients + 1);
  const auto window =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&, i] {
      auto& mine = lat[i];
      mine.reserve(200000);
      start.arrive_and_wait();
      const auto end = Clock::now() + window;
      char buf[256];
      for (auto t0 = Clock::now(); t0 < end; t0 = Clock::now()) {
        if (send(fds[i], kQuery.data(), kQuery.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(kQuery.size()))
          return;
        std::size_t got = 0;
        bool lf = false;
        while (!lf) {
          const ssize_t r = recv(fds[i], buf, sizeof buf, 0);
          if (r <= 0) return;
          got += static_cast<std::size_t>(r);
          lf = buf[r - 1] == '\n';
        }
        if (got != replySize) {
          std::fprintf(stderr, "scpi_bench: reply of %zu bytes, not %zu\n", got, replySize);
          std::exit(1);
        }
        mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
      }
    });
  }
  start.arrive_and_wait();
  const auto t0 = Clock::now();
  for (auto& t : threads) t.join();
  Result r;
  r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  for (auto& v : lat) {
    r.queries += static_cast<double>(v.size());
    r.latUs.insert(r.latUs.end(), v.begin(), v.end());
  }
  for (int fd : fds) ::close(fd);
  return r;
}

// The engine's own share of a round trip: FETC? fed to a Client in process.
double engineOnlyUs() {
  FakeInstrument inst;
  scpi::Engine engine(inst);
  scpi::Client c(engine);
  std::vector<double> t;
  for (int r = 0; r < 31; ++r) {
    const auto t0 = Clock::now();
    for (int i = 0; i < 2000; ++i) {
      c.feed(kQuery);
      c.output().clear();
    }
    t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / 2000);
  }
  return zrq::bench::median(std::move(t));
}

double quantile(std::vector<double>& v, double q) {
  if (v.empty()) return 0;
  const auto k = static_cast<std::size_t>(q * static_cast<double>(v.size() - 1));
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  return v[k];
}

struct Summary {
  double qps = 0, medianUs = 0, p99Us = 0;
};

Summary summarize(std::vector<Result>& rounds) {
  std::vector<double> all, qps;
  for (auto& r : rounds) {
    all.insert(all.end(), r.latUs.begin(), r.latUs.end());
    qps.push_back(r.queries / r.seconds);
  }
  Summary s;
  s.qps = zrq::bench::median(qps);
  s.medianUs = quantile(all, 0.5);
  s.p99Us = quantile(all, 0.99);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::string reply = engineReply();
  if (reply.empty() || reply.back() != '\n') {
    std::fprintf(stderr, "scpi_bench: the engine did not answer FETC?\n");
    return 1;
  }
  std::printf("scpi_bench: FETC? -> %zu-byte reply; %d rounds of %.1f s per case\n", reply.size(),
              rounds, seconds);

  std::printf("engine alone (Client::feed, no socket): %.2f us per FETC?\n", engineOnlyUs());

  EngineServer engine;
  FloorServer floor(reply);
  bool allMet = true;
  for (int clients : {1, 8}) {
    std::vector<Result> e, f;
    for (int r = 0; r < rounds; ++r) {
      e.push_back(drive(engine.port(), clients, seconds, reply.size()));
      f.push_back(drive(floor.port(), clients, seconds, reply.size()));
    }
    const Summary se = summarize(e), sf = summarize(f);
    std::printf("\n%d client%s            queries/s   median us     p99 us\n", clients,
                clients == 1 ? " " : "s");
    std::printf("  engine            %10.0f  %10.1f  %10.1f\n", se.qps, se.medianUs, se.p99Us);
    std::printf("  floor             %10.0f  %10.1f  %10.1f\n", sf.qps, sf.medianUs, sf.p99Us);
    const double rMed = se.medianUs / sf.medianUs, rP99 = se.p99Us / sf.p99Us;
    std::printf("  engine / floor    %10.2f  %10.2f  %10.2f\n", se.qps / sf.qps, rMed, rP99);
    const bool medOk = rMed <= 1.3;
    allMet = allMet && medOk;
    std::printf("  goal median <= 1.3 x floor: %.2f  %s\n", rMed, medOk ? "PASS" : "MISS");
    if (clients == 1) {
      const bool qpsOk = se.qps >= 5000;
      allMet = allMet && qpsOk;
      std::printf("  goal >= 5000 queries/s from one client: %.0f  %s\n", se.qps,
                  qpsOk ? "PASS" : "MISS");
    }
  }
  engine.stop();
  floor.stop();
  return allMet ? 0 : 2;
}
