#include "Engine.h"

#include "UsbReports.h"

#include <charconv>

namespace tks7730sim {
namespace {

constexpr size_t kSettingsLen = 44;
constexpr size_t kMaxLine = 64;
constexpr auto kInputTimeout = std::chrono::milliseconds(1000);
const std::string_view kBanner = "rs232\r\n";

bool number(std::string_view s, double& v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// A stall or hang-up given only a time strikes at that time, streaming or not.
bool isTimed(const FaultSpec& s) {
  return (s.kind == FaultKind::Stall || s.kind == FaultKind::Hangup) && s.atMs && s.rate < 0 &&
         s.every == 0;
}

bool pending(const FaultState& f) { return f.spec.count < 0 || f.strikes < f.spec.count; }

bool isBlank(unsigned char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == 0; }

}  // namespace

std::optional<MeasSettings> parseSettingsCommand(std::string_view b) {
  if (b.size() != kSettingsLen || b[0] != 'G') return std::nullopt;
  for (size_t i : {1, 3, 15, 27, 29})
    if (b[i] != ',') return std::nullopt;
  if (b.substr(41) != " \r\n") return std::nullopt;
  MeasSettings m;
  m.type = static_cast<unsigned char>(b[2]);
  m.unit = static_cast<unsigned char>(b[28]);
  if (m.type > 5) return std::nullopt;
  // Type 0 (no type chosen yet, as a host sends it before its first display
  // tick) is acknowledged and measured as Average.
  if (m.type == 0) m.type = 1;
  if (!number(b.substr(4, 11), m.offsetDb) || !number(b.substr(16, 11), m.filterHz) ||
      !number(b.substr(30, 11), m.ccdfLimitW))
    return std::nullopt;
  return m;
}

Engine::Engine(const SensorConfig& cfg, const std::vector<FaultSpec>& faults, std::string name,
               bool serialSide, Trace* trace, TimePoint now)
    : cfg_(cfg),
      name_(std::move(name)),
      serialSide_(serialSide),
      trace_(trace),
      start_(now),
      model_(cfg.signal, cfg.fullScaleW, cfg.seed),
      faultRng_(cfg.seed ^ 0x5A5A'F00D'1234'0001ull) {
  for (const auto& f : faults)
    if (f.on.empty() || f.on == name_) faults_.emplace_back(f);
  powerUp(now);
}

void Engine::powerUp(TimePoint now) {
  online_ = true;
  poweredAt_ = now;
  bannersLeft_ = serialSide_ ? cfg_.bannerCount : 0;
  settings_ = MeasSettings{};
  in_.clear();
  streaming_ = zeroing_ = false;
  silentUntil_ = stallUntil_ = now;
  hangup_.reset();
  log("power-up", now);
}

void Engine::powerDown() {
  online_ = false;
  streaming_ = zeroing_ = false;
  in_.clear();
  out_.clear();
}

int64_t Engine::sinceStart(TimePoint now) const {
  return std::chrono::duration_cast<Ms>(now - start_).count();
}

void Engine::usbHostReport(const uint8_t* data, size_t len, uint64_t& polls, TimePoint now) {
  const auto h = usb::parseHostReport(data, len);
  switch (h.kind) {
    case usb::HostReport::Text:
      receive(h.text, now);
      break;
    case usb::HostReport::Start:
      log("usb start command", now);
      resetInput();
      break;
    case usb::HostReport::Poll:
      // Output leaves as soon as it is made; polls only pace the host.
      if (polls++ == 0) log("usb polling", now);
      break;
    case usb::HostReport::OtherCommand:
      log("usb unknown command code " + hexBytes(std::string(1, static_cast<char>(h.code))), now);
      break;
    case usb::HostReport::Invalid:
      log("usb report ignored: " + std::to_string(len) + " bytes, id " +
              (len == 0 ? std::string("none") : std::to_string(data[0])),
          now);
      break;
  }
}

void Engine::log(std::string_view event, TimePoint now) {
  if (trace_) trace_->log(now, name_, event);
}

void Engine::emit(std::string_view text, TimePoint now) {
  if (now < silentUntil_) return;
  out_.append(text);
}

std::string Engine::takeOutput() {
  std::string s;
  s.swap(out_);
  return s;
}

std::optional<Engine::Ms> Engine::takeHangup() {
  auto h = hangup_;
  hangup_.reset();
  return h;
}

void Engine::resetInput() { in_.clear(); }

bool Engine::strike(FaultKind kind, TimePoint now, char cmd) {
  bool any = false;
  for (auto& f : faults_) {
    if (f.spec.kind != kind) continue;
    if (kind == FaultKind::Silence && f.spec.cmd != 0 && f.spec.cmd != cmd) continue;
    // Timed stalls and hang-ups strike from advance(), not per line.
    if (isTimed(f.spec)) continue;
    if (f.chance(sinceStart(now), faultRng_)) {
      any = true;
      if (kind == FaultKind::Silence) silentUntil_ = now + Ms(f.spec.forMs);
      if (kind == FaultKind::Stall) stallUntil_ = now + Ms(f.spec.forMs);
      if (kind == FaultKind::Hangup) hangup_ = Ms(f.spec.forMs);
      log(std::string("fault ") + faultName(kind), now);
      break;
    }
  }
  return any;
}

void Engine::receive(std::string_view bytes, TimePoint now) {
  if (!online_) return;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (in_.empty()) {
      if (isBlank(c)) continue;
      if (c == 'S') {  // the one command sent without a line end
        command("S", now);
        continue;
      }
      inStarted_ = now;
    }
    in_ += ch;
    if (in_[0] == 'G' && (in_.size() < 2 || in_[1] == ',')) {
      // The type and unit bytes are raw and may be CR or LF themselves.
      const size_t i = in_.size() - 1;
      const bool rawByte = (i == 2 || i == 28) && in_[i - 1] == ',';
      const bool lineEnd = c == '\n' && !rawByte;
      if (lineEnd || in_.size() == kSettingsLen) {
        std::string cmd;
        cmd.swap(in_);
        command(cmd, now);
      }
    } else if (c == '\r' || c == '\n') {
      std::string cmd;
      cmd.swap(in_);
      command(cmd, now);
    } else if (in_.size() > kMaxLine) {
      log("input discarded: line too long", now);
      in_.clear();
    }
  }
}

void Engine::command(const std::string& bytes, TimePoint now) {
  const char letter = bytes[0];
  log("cmd " + std::string(1, letter) + " bytes=" + hexBytes(bytes), now);
  if (zeroing_) {
    log("busy zeroing, command ignored", now);
    return;
  }
  if (strike(FaultKind::Silence, now, letter)) return;
  if (bannersLeft_ > 0) {
    --bannersLeft_;
    emit(kBanner, now);
    return;
  }
  // A plain command is its letter and a line end; anything else is unknown.
  std::string_view rest = std::string_view(bytes).substr(1);
  while (!rest.empty() && isBlank(static_cast<unsigned char>(rest.back()))) rest.remove_suffix(1);
  if (letter != 'G' && !rest.empty()) {
    emit("?\r\n", now);
    return;
  }
  switch (letter) {
    case 'I':
      emit("7730,FW version " + cfg_.firmware + (cfg_.calibrated ? ",Cal" : ",Not") +
               ",TKS7730 RF power sensor\r\n",
           now);
      break;
    case 'F':
      if (!cfg_.calibrated)
        emit("F,NAK,NOT\r\n", now);
      else
        emit(strike(FaultKind::RefuseF, now) ? "F,NAK,CAL\r\n" : "F,ACK,CAL\r\n", now);
      break;
    case 'G':
      settingsCommand(bytes, now);
      break;
    case 'D':
      if (!streaming_) nextLine_ = now + Ms(cfg_.intervalMs);
      streaming_ = true;
      if (!streamStarted_) streamStarted_ = now;
      break;
    case 'U':
      if (strike(FaultKind::NoUReply, now)) return;
      streaming_ = false;
      emit("U,ACK,STOPPED\r\n", now);
      break;
    case 'Z':
      streaming_ = false;
      zeroing_ = true;
      zeroDone_ = now + Ms(cfg_.zeroTimeMs);
      break;
    case 'S':
      emit("S," + cfg_.serialNumber + "\r\n", now);
      break;
    case 'T':
      emit("T" + dataString(now) + "\r\n", now);
      break;
    default:
      emit("?\r\n", now);
  }
}

void Engine::settingsCommand(const std::string& bytes, TimePoint now) {
  auto m = parseSettingsCommand(bytes);
  // The reply echoes the filter text as received; a broken command echoes dashes.
  const std::string echo = m ? bytes.substr(16, 11) : std::string(11, '-');
  if (!m) log("settings command malformed", now);
  if (!m || strike(FaultKind::RefuseG, now)) {
    emit("G," + echo + ",NAK\r\n", now);
    return;
  }
  settings_ = *m;
  emit("G," + echo + ",ACK\r\n", now);
}

std::string Engine::dataString(TimePoint now) {
  const double t = std::chrono::duration<double>(now - start_).count();
  DataFields f;
  if (streamStarted_ && !cfg_.powerSteps.empty()) {
    const auto since = std::chrono::duration_cast<Ms>(now - *streamStarted_).count();
    if (auto w = powerAt(cfg_.powerSteps, since)) model_.setForwardAvgW(*w);
  }
  f.reading = model_.sample(settings_, t);
  if (cfg_.kilowatt) {
    for (double* p : {&f.reading.burstW, &f.reading.forwardAvgW, &f.reading.reflectedW,
                      &f.reading.peakW, &f.reading.offsetForwardW})
      *p /= 1000.0;
  }
  f.reportedType = settings_.type;
  f.scaleCode = cfg_.kilowatt ? 10 : 9;
  f.unit = settings_.unit;
  return formatDataString(f, cfg_.layout);
}

void Engine::dataLine(TimePoint now) {
  if (strike(FaultKind::Hangup, now)) return;
  if (strike(FaultKind::Stall, now)) return;
  if (strike(FaultKind::Garbage, now)) {
    std::string junk;
    const int len = 8 + faultRng_.below(33);
    for (int i = 0; i < len; ++i)
      junk += static_cast<char>(0x21 + faultRng_.below(0x7E - 0x21 + 1));
    emit(junk + "\r\n", now);
  }
  std::string s = dataString(now);
  if (strike(FaultKind::WrongType, now)) {
    const FieldSpan sp = fieldSpan(7, cfg_.layout);
    s[sp.pos + 1] = static_cast<char>('0' + settings_.type % 5 + 1);
  }
  if (strike(FaultKind::NotANumber, now)) {
    int field = 0;
    for (const auto& f : faults_)
      if (f.spec.kind == FaultKind::NotANumber && f.spec.field) field = f.spec.field;
    static const int kFields[] = {1, 2, 3, 4, 5, 6, 7, 9, 10, 11};
    if (!field) field = kFields[faultRng_.below(10)];
    const FieldSpan sp = fieldSpan(field, cfg_.layout);
    s[sp.pos + sp.width - 1] = '#';
  }
  if (strike(FaultKind::Layout, now)) s.insert(s.size() - 2, " ");
  if (strike(FaultKind::Truncate, now))
    s.resize(10 + faultRng_.below(static_cast<int>(s.size()) - 20));
  emit("D" + s + "\r", now);
}

void Engine::advance(TimePoint now) {
  if (!online_) return;
  for (auto& f : faults_) {
    if (!isTimed(f.spec) || !f.chance(sinceStart(now), faultRng_)) continue;
    log(std::string("fault ") + faultName(f.spec.kind), now);
    if (f.spec.kind == FaultKind::Stall) stallUntil_ = now + Ms(f.spec.forMs);
    if (f.spec.kind == FaultKind::Hangup) {
      hangup_ = Ms(f.spec.forMs);
      return;
    }
  }
  if (!in_.empty() && now - inStarted_ >= kInputTimeout) {
    log("input discarded: incomplete command " + hexBytes(in_), now);
    in_.clear();
  }
  if (zeroing_ && now >= zeroDone_) {
    zeroing_ = false;
    std::string code = cfg_.zeroResult;
    while (code.size() < 2) code += ' ';
    emit("Z," + code + ",ACK\r\n", now);
  }
  if (streaming_ && !lineBusy_ && now >= nextLine_) {
    if (now < stallUntil_) {
      nextLine_ = stallUntil_;
      return;
    }
    dataLine(now);
    nextLine_ += Ms(cfg_.intervalMs);
    // After a long gap (a stopped process, a stall) resume the period, do not burst.
    if (nextLine_ <= now) nextLine_ = now + Ms(cfg_.intervalMs);
  }
}

std::optional<Engine::TimePoint> Engine::nextDeadline() const {
  if (!online_) return std::nullopt;
  std::optional<TimePoint> d;
  auto take = [&](TimePoint t) {
    if (!d || t < *d) d = t;
  };
  if (streaming_ && !lineBusy_) take(std::max(nextLine_, stallUntil_));
  if (zeroing_) take(zeroDone_);
  if (!in_.empty()) take(inStarted_ + kInputTimeout);
  for (const auto& f : faults_)
    if (isTimed(f.spec) && pending(f)) take(start_ + Ms(*f.spec.atMs));
  return d;
}

}  // namespace tks7730sim
