// Remote control from the front panel: the SCPI engine serving the panel's
// own state, its TCP listener on the window's event loop, and the remembered
// choice of the "Remote Control..." dialog.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

#include "remote/RemoteValues.h"
#include "scpi/Instrument.h"

class QSocketNotifier;
class QTimer;
class TfrmMain;
namespace zrq::scpi {
class Engine;
class TcpServer;
}  // namespace zrq::scpi

namespace zrq::app {

// What the dialog sets and the next start remembers.
struct RemoteChoice {
  bool enabled = false;
  bool network = false;  // every interface instead of this machine only
  int port = 5025;
  remote::ListenAddress address() const { return {network ? "0.0.0.0" : "127.0.0.1", port}; }
};
// From the user's configuration folder; defaults when nothing was saved.
RemoteChoice loadRemoteChoice();
void saveRemoteChoice(const RemoteChoice& c);

class RemoteControl : public QObject, public scpi::Instrument {
  Q_OBJECT

 public:
  explicit RemoteControl(TfrmMain& main);
  ~RemoteControl() override;

  // Stops any listener first; false with the reason when the address cannot be used.
  bool listen(const remote::ListenAddress& at, std::string* why);
  void close();
  bool listening() const;
  // The bound port (the one chosen when 0 was asked for); 0 when closed.
  int port() const;
  remote::ListenAddress address() const { return at_; }
  int clients() const;

  // From the connection side.
  void readingAccepted();
  void zeroCalibrationEnded(bool ok, const std::string& why);

  // ---- scpi::Instrument, on the panel's state ----
  scpi::Identity identity() const override;
  bool streaming() const override;
  std::optional<scpi::Reading> latest() const override;
  scpi::Settings settings() const override;
  void apply(const scpi::Settings& s) override;
  std::string conflict(const scpi::Settings& s) const override;
  bool startZeroCalibration(std::string* why) override;
  bool zeroCalibrationRunning() const override;

 signals:
  void clientsChanged(int count);

 private:
  void service();

  TfrmMain& main_;
  std::unique_ptr<scpi::Engine> engine_;
  std::unique_ptr<scpi::TcpServer> server_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* tick_ = nullptr;
  remote::ListenAddress at_;
  std::uint64_t sequence_ = 0;
  std::int64_t windowStartMs_ = 0, spentNs_ = 0;  // the commands' share of the thread
  std::string readingTime_;
};

}  // namespace zrq::app
