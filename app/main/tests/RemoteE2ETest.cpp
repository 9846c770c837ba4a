// The panel served to a script: what a client sets shows on the panel at the
// next tick, what the user sets is what the client reads, and "RMT" says a
// client is there. A raw TCP client, as scripts without PyVISA use.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <string>

#include "QtE2E.h"
#include "QtEventually.h"
#include "RemoteControl.h"
#include "TfrmRemote.h"

namespace zrq::test::qt {
namespace {

using comm::test::SimProcess;
using core::MeasType;

class RemoteE2E : public AppWindowsE2E {
 protected:
  void SetUp() override {
    ZRQ_QT_E2E_SETUP();
    sim = std::make_unique<SimProcess>(std::vector<std::string>{});
    ASSERT_TRUE(sim->ok()) << sim->error();
    ::setenv("ZRQ_SERIAL_PORTS", sim->serialPath().c_str(), 1);
    createWindows();
    app::PanelPeers peers;
    peers.comm = bridge.get();
    main->setPeers(peers);
    remote = new app::RemoteControl(*main);
    main->setRemote(remote);
    std::string why;
    ASSERT_TRUE(remote->listen({"127.0.0.1", 0}, &why)) << why;
  }
  void TearDown() override {
    if (fd >= 0) ::close(fd);
    destroyWindows();
    sim.reset();
  }

  void connectClient() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(remote->port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  void send(const std::string& line) {
    const std::string s = line + "\n";
    ASSERT_EQ(::send(fd, s.data(), s.size(), MSG_NOSIGNAL), static_cast<ssize_t>(s.size()));
  }
  // The next reply line, the event loop running meanwhile.
  std::string query(const std::string& line) {
    send(line);
    std::string got;
    eventually(
        [&] {
          char buf[256];
          const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
          if (n > 0) got.append(buf, static_cast<std::size_t>(n));
          return got.find('\n') != std::string::npos;
        },
        10000);
    return got.substr(0, got.find('\n'));
  }

  std::unique_ptr<SimProcess> sim;
  app::RemoteControl* remote = nullptr;
  int fd = -1;
};

bool lit(QLabel* l) { return l->isVisibleTo(l->parentWidget()); }

TEST_F(RemoteE2E, ScriptAndPanelSeeEachOthersSettings) {
  main->Setup1ItemsClick(main->portMenuItem(QString::fromStdString(sim->serialPath())));
  ASSERT_TRUE(
      eventually([&] { return main->state.commState == core::CommState::Streaming; }, 10000));
  EXPECT_FALSE(lit(main->lblRemote));
  connectClient();
  ASSERT_TRUE(eventually([&] { return lit(main->lblRemote); }));

  // A script's settings: on the panel at the next tick, and sent to the sensor.
  send("UNIT:POW DBM;:SENS:FUNC \"POW:PEAK\"");
  EXPECT_TRUE(eventually([&] { return lit(main->segPeak) && lit(main->segFdb); }));
  EXPECT_EQ(main->state.measType, MeasType::Peak);
  EXPECT_TRUE(eventually(
      [&] {
        const auto g = sim->commandsReceived('G');
        return !g.empty() && g.back().size() > 2 && g.back()[2] == 2;
      },
      10000));

  // The user's own change is what the next query reads.
  main->btnFwdUnitsClick();
  EXPECT_EQ(query("UNIT:POW?"), "W");
  main->state.offsetDb = 7.5f;
  EXPECT_DOUBLE_EQ(std::stod(query("SENS:CORR:OFFS?")), 7.5);

  ::close(fd);
  fd = -1;
  EXPECT_TRUE(eventually([&] { return !lit(main->lblRemote); }));
}

// Comm > Remote Control...: off, then on again on another port, remembered.
TEST_F(RemoteE2E, TheDialogTurnsRemoteControlOffAndOnAndRemembersIt) {
  auto answer = [](bool enabled, int port) {
    QTimer::singleShot(200, [=] {
      auto* d = qobject_cast<TfrmRemote*>(QApplication::activeModalWidget());
      ASSERT_NE(d, nullptr);
      d->chkEnabled->setChecked(enabled);
      d->spnPort->setValue(port);
      d->rbLocal->setChecked(true);
      d->okClick();
    });
  };
  answer(false, 5025);
  main->RemoteControl1->trigger();
  EXPECT_FALSE(remote->listening());
  EXPECT_FALSE(app::loadRemoteChoice().enabled);

  // A free port: the kernel's pick, released again.
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
  const int port = ntohs(a.sin_port);
  ::close(probe);
  answer(true, port);
  main->RemoteControl1->trigger();
  EXPECT_TRUE(remote->listening());
  EXPECT_EQ(remote->port(), port);
  const app::RemoteChoice saved = app::loadRemoteChoice();
  EXPECT_TRUE(saved.enabled);
  EXPECT_FALSE(saved.network);
  EXPECT_EQ(saved.port, port);
  app::saveRemoteChoice({});
}

}  // namespace
}  // namespace zrq::test::qt
