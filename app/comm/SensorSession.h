// One sensor, as every program that talks to one runs it: the connection
// sequences, the stream policy (a data line at a time, a line that cannot be
// used restarts the stream, changed settings sent again, the start of a
// requested zero calibration) and one rule for requests that arrive while a
// sequence waits. Qt-free: the window, zrq-log and the service hold one each.
//
// The rule: the waits of a sequence keep the caller's loop turning, so a
// disconnect or connect can be asked for meanwhile. Such a request supersedes
// the waiting sequence, which then sends nothing more (it never reopens a port
// the user closed), and is carried out once the wait is over. Timer work
// (readSensorData, supervise) arriving meanwhile is skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TKS7730Commands.h"
#include "core/DataString.h"

namespace zrq::comm {

class SensorSession {
 public:
  static constexpr int kStopStreamAttempts = 4;
  static constexpr int kZeroCalPollMs = 48000;
  // readAllSensorData: no line for this long restarts the stream.
  static constexpr std::int64_t kQuietLimitMs = 600;

  // All three must outlive the session.
  SensorSession(CommHost& host, TKS7730Stats& stats, AppStatus& status);

  TKS7730Commands& commands() { return commands_; }
  const TKS7730Commands& commands() const { return commands_; }
  bool connected() const { return commands_.connected(); }
  // A sequence is running (and may be waiting).
  bool busy() const { return depth_ > 0; }

  void connectPort(int portNum);
  void disconnect();
  bool readZeroCalResult();
  // At shutdown: no sequence step runs any more (a requested disconnect still does).
  void endRun() { commands_.endRun(); }
  bool ended() const { return commands_.ended(); }

  // readDataTimer's work: one data line fetched from the selected port and handled.
  void readSensorData();
  // A monitoring service's fetch: every data line that has arrived, each
  // handled as the stream policy says, none dropped. A line that restarts the
  // stream or starts a zero calibration ends the batch (the rest is stale).
  void readAllSensorData();
  // One data line handled as the stream policy says; the outcome of its decoding.
  core::DecodeOutcome handleDataLine(const std::string& text);
  // dataPollTimer's work: a lost connection reported, changed settings sent
  // again, a stream that stopped re-established.
  void supervise();

  // Readings accepted since the session was made.
  std::int64_t acceptedReadings() const { return accepted_; }

 private:
  struct Request {
    bool connect = false;
    int portNum = -1;
  };
  template <typename Fn>
  void runSequence(Fn&& fn);
  void request(Request r);
  void recoverStream();
  void startZeroCalibration();

  CommHost& host_;
  TKS7730Commands commands_;
  int depth_ = 0;
  std::optional<Request> pending_;
  std::int64_t accepted_ = 0;
  std::vector<std::string> lines_;
  std::int64_t quietSinceMs_ = 0;
};

}  // namespace zrq::comm
