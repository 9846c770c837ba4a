// The SCPI engine: one Engine per instrument, one Client per connection. All
// on the thread that owns the instrument; nothing blocks. The host calls
// readingAccepted() after each accepted reading, zeroCalibrationEnded() when
// a zero calibration ends, and tick() on a timer (~250 ms) for wait timeouts.
// The Engine must outlive its Clients (and so any TcpServer serving it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Alarm.h"
#include "scpi/Errors.h"
#include "scpi/Instrument.h"
#include "scpi/Parser.h"

namespace zrq::scpi {

class Client;
struct Commands;

// CALCulate:LIMit on the forward average power in watts: latches a failure
// until cleared. (To be replaced by the shared alarm evaluator.)
// CALCulate:LIMit on the forward average, through the shared alarm
// evaluator: FAIL latches until CLEar.
class LimitCheck {
 public:
  double upperW = 1000, lowerW = 0;
  bool enabled = false;
  bool failed = false;
  void evaluate(double forwardAverageW, std::int64_t nowMs) {
    if (!enabled) return;
    core::AlarmLimits l;
    l.upper = upperW;
    l.lower = lowerW;
    l.latching = true;
    if (!(alarm_.limits() == l)) alarm_.setLimits(l);
    if (const auto e = alarm_.update(forwardAverageW, nowMs); e && e->raised) failed = true;
  }
  void clear() {
    failed = false;
    alarm_.reset();
  }

 private:
  core::AlarmEvaluator alarm_;
};

class Engine {
 public:
  explicit Engine(Instrument& instrument);
  // Several sensors: the numeric suffix of a command's first node picks one
  // (FETCh2?, SENSe2:CORRection:OFFSet); none or 1 is the first. Each keeps
  // its own limits, offset state and calibration verdict.
  explicit Engine(std::vector<Instrument*> channels);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // channel: 0 for the first.
  void readingAccepted(std::size_t channel = 0);
  void zeroCalibrationEnded(bool ok, std::string why, std::size_t channel = 0);
  void tick(std::int64_t nowMs);

  // How long READ? and MEASure? wait (default 10 s); *OPC? and *WAI wait for
  // a zero calibration at least kOperationTimeoutMs.
  static constexpr std::int64_t kOperationTimeoutMs = 60000;
  void setWaitTimeoutMs(std::int64_t ms) { timeoutMs_ = ms; }
  std::int64_t waitTimeoutMs() const { return timeoutMs_; }

  Instrument& instrument() { return *channels_[0].inst; }
  const LimitCheck& limits() const { return channels_[0].limit; }
  std::size_t channelCount() const { return channels_.size(); }
  // Every header of the command tree, as SYSTem:HELP:HEADers? lists them.
  std::vector<std::string> headers() const;

  static constexpr std::uint16_t kOperCalibrating = 1 << 0, kOperMeasuring = 1 << 4;
  static constexpr std::uint16_t kQuesPower = 1 << 3, kQuesCalibration = 1 << 8;
  std::uint16_t operCondition() const;
  std::uint16_t quesCondition() const;

 private:
  friend class Client;
  friend struct Commands;
  void refreshConditions();
  void resetSettings();

  struct Channel {
    Instrument* inst = nullptr;
    std::uint64_t readings = 0;  // readingAccepted() calls
    bool zeroFailed = false;
    Client* zeroStarter = nullptr;
    bool continuous = true;
    bool offsetOff = false;  // CORR:OFFS:STAT OFF: offset 0 applied, value kept
    double offsetKeptDb = 0;
    LimitCheck limit;
  };
  bool anyCalibrating() const;

  std::vector<Channel> channels_;
  std::vector<Client*> clients_;
  std::int64_t timeoutMs_ = 10000;
  std::optional<std::int64_t> now_;
  std::uint16_t lastOper_ = 0, lastQues_ = 0;
};

class Client {
 public:
  static constexpr std::size_t kMaxLine = 64 * 1024;

  explicit Client(Engine& engine);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Bytes as they arrive; complete lines run at once unless the client waits.
  void feed(std::string_view bytes);
  // Replies not yet sent; the caller erases what it has sent.
  std::string& output() { return out_; }
  // Called when a wait ends (outside feed()): new replies, input runs again.
  void setOutputCallback(std::function<void()> cb) { onOutput_ = std::move(cb); }
  // A READ?, MEASure?, *OPC? or *WAI waits; later input stays queued.
  bool waiting() const { return wait_.kind != WaitKind::None; }
  std::size_t queuedInput() const;
  std::size_t errorCount() const { return errors_.size(); }
  std::uint8_t statusByte() const;

 private:
  friend class Engine;
  friend struct Commands;
  enum class WaitKind { None, Reading, Opc, Wai };
  struct Wait {
    WaitKind kind = WaitKind::None;
    int quantity = 0;                  // Commands' quantity of a READ?/MEAS?
    std::optional<Function> function;  // the reading must be of this type
    std::uint64_t after = 0;           // the channel's readings when it began
    std::optional<std::int64_t> deadline;
    std::size_t channel = 0;
  };
  struct Line {
    std::string text;
    bool tooLong = false;
  };

  void queueLine(Line l);
  void run();
  void execute(std::string_view unit);
  void reply(std::string text);
  void endWait(std::optional<std::string> answer);
  void error(int code, std::string detail = {});
  void applyRising(std::uint16_t oper, std::uint16_t ques);
  void timeCheck(std::int64_t now);
  std::int64_t waitLimitMs() const;
  void endMessage();

  Engine::Channel& ch() { return engine_.channels_[channel_]; }
  Instrument& inst() { return *ch().inst; }

  Engine& engine_;
  std::size_t channel_ = 0;  // of the command being run
  std::function<void()> onOutput_;
  std::string out_;
  std::string partial_;
  bool discarding_ = false;
  std::deque<Line> lines_;
  std::size_t queuedLines_ = 0;  // bytes of lines_, with their overhead
  // The line being run: its units and how far it got.
  std::vector<std::string> units_;
  std::size_t next_ = 0;
  std::vector<Mnemonic> path_;
  std::string message_;  // this message's replies, joined by ';'
  bool hasReply_ = false;
  bool running_ = false;
  Wait wait_;

  ErrorQueue errors_;
  std::uint8_t esr_ = 0, ese_ = 0, sre_ = 0;
  std::uint16_t operEvent_ = 0, operEnable_ = 0, quesEvent_ = 0, quesEnable_ = 0;
  bool opcPending_ = false;
};

}  // namespace zrq::scpi
