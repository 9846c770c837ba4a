// The TCP server over loopback: replies, waits across clients, the client cap,
// and a client that never reads.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "FakeInstrument.h"
#include "scpi/TcpServer.h"

namespace zrq::scpi::test {
namespace {

int connectTo(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Services the server (the way a host's poll loop does) until `until` holds
// or two seconds pass.
template <class F>
bool pump(TcpServer& s, F until) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{s.fd(), POLLIN, 0};
    poll(&p, 1, 10);
    s.service();
    if (until()) return true;
  }
  return false;
}

// Reads what the socket has now (non-blocking).
std::string drain(int fd) {
  std::string out;
  char buf[4096];
  ssize_t r;
  while ((r = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) out.append(buf, std::size_t(r));
  return out;
}

bool sendAll(int fd, const std::string& s) {
  return send(fd, s.data(), s.size(), MSG_NOSIGNAL) == ssize_t(s.size());
}

TEST(ScpiTcpServer, ServesClientsSeparately) {
  FakeInstrument inst;
  Engine engine(inst);
  TcpServer server(engine);
  std::string why;
  ASSERT_TRUE(server.listen("127.0.0.1", 0, &why)) << why;
  ASSERT_GT(server.port(), 0);
  std::size_t shown = 0;
  server.setClientCountChanged([&](std::size_t n) { shown = n; });
  int a = connectTo(server.port()), b = connectTo(server.port());
  ASSERT_TRUE(pump(server, [&] { return server.clientCount() == 2; }));
  EXPECT_EQ(shown, 2u);
  ASSERT_TRUE(sendAll(a, "READ?\n*IDN?\n"));
  ASSERT_TRUE(sendAll(b, "FOO\nSYST:ERR?\n"));
  std::string ra, rb;
  ASSERT_TRUE(pump(server, [&] { return (rb += drain(b)).find('\n') != std::string::npos; }));
  EXPECT_EQ(rb, "-113,\"Undefined header\"\n");
  EXPECT_EQ(drain(a), "");  // still waiting for a reading
  inst.push(engine, 2);     // outside service(): the server's fd wakes the loop
  pollfd p{server.fd(), POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 1000), 1);
  ASSERT_TRUE(pump(server, [&] { return (ra += drain(a)).find("ZRQ") != std::string::npos; }));
  EXPECT_EQ(ra, "2.000000E+00\nZRQ,TKS7730,123456,1.07\n");
  close(a);
  close(b);
  ASSERT_TRUE(pump(server, [&] { return server.clientCount() == 0; }));
  EXPECT_EQ(shown, 0u);
}

TEST(ScpiTcpServer, CapsClientsAndDropsOnesThatDoNotRead) {
  FakeInstrument inst;
  Engine engine(inst);
  TcpServer server(engine);
  ASSERT_TRUE(server.listen("127.0.0.1", 0, nullptr));
  std::vector<int> fds;
  for (std::size_t i = 0; i < TcpServer::kMaxClients + 2; ++i) {
    fds.push_back(connectTo(server.port()));
    ASSERT_GE(fds.back(), 0);
    pump(server, [&] { return server.clientCount() >= std::min(i + 1, TcpServer::kMaxClients); });
  }
  EXPECT_EQ(server.clientCount(), TcpServer::kMaxClients);
  // The refused ones see the connection closed.
  char c;
  ASSERT_TRUE(pump(server, [&] { return recv(fds.back(), &c, 1, MSG_DONTWAIT) == 0; }));
  // One client asks forever and never reads: dropped, the others go on.
  std::string flood;
  for (int i = 0; i < 2000; ++i) flood += "SYST:HELP:HEAD?\n";
  const int greedy = fds[0];
  ASSERT_TRUE(pump(server, [&] {
    send(greedy, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return server.clientCount() == TcpServer::kMaxClients - 1;
  }));
  ASSERT_TRUE(sendAll(fds[1], "*TST?\n"));
  std::string r;
  ASSERT_TRUE(pump(server, [&] { return (r += drain(fds[1])) == "0\n"; }));
  for (int fd : fds) close(fd);
}

// A client that sends its question and shuts its side still gets the answer.
TEST(ScpiTcpServer, AnswersAClientThatHasStoppedSending) {
  FakeInstrument inst;
  Engine engine(inst);
  TcpServer server(engine);
  ASSERT_TRUE(server.listen("127.0.0.1", 0, nullptr));
  const int fd = connectTo(server.port());
  ASSERT_TRUE(sendAll(fd, "READ?\n"));
  shutdown(fd, SHUT_WR);
  ASSERT_TRUE(pump(server, [&] { return server.clientCount() == 1; }));
  int rounds = 0;
  pump(server, [&] { return ++rounds == 20; });  // the wait holds the client open
  EXPECT_EQ(server.clientCount(), 1u);
  inst.push(engine, 7);
  std::string r;
  ASSERT_TRUE(pump(server, [&] {
    r += drain(fd);
    return server.clientCount() == 0;
  }));
  r += drain(fd);
  EXPECT_EQ(r, "7.000000E+00\n");
  close(fd);
}

TEST(ScpiTcpServer, RefusesABadAddress) {
  FakeInstrument inst;
  Engine engine(inst);
  TcpServer server(engine);
  std::string why;
  EXPECT_FALSE(server.listen("localhost:x", 0, &why));
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace zrq::scpi::test
