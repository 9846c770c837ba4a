#pragma once
// Fault injection. A fault is a kind plus when it strikes: at every chance, on
// every Nth chance, with a probability per chance, or once at a time after
// power-up; optionally limited to a number of strikes and to one sensor.
// A chance is a data line for the stream faults and a received command for the
// command faults.
//
// Text form (command line and script files): KIND[,key=value]...
//   keys: rate=P  every=N  at=MS  count=N  for=MS  cmd=X  field=N  on=NAME

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tks7730sim {

enum class FaultKind {
  Garbage,     // a line of junk before a data line
  Truncate,    // a data line cut short
  Layout,      // a data line with one extra character before the end marker
  NotANumber,  // one field of a data line is not a number
  WrongType,   // field 7 reports another type than the one set
  Stall,       // the stream pauses for `for` ms
  Hangup,      // the transport goes away for `for` ms, then comes back
  RefuseF,     // F answered with NAK
  RefuseG,     // G answered with NAK, settings not taken
  Silence,     // a command gets no reply and everything stays quiet for `for` ms
  NoUReply,    // U is lost: no reply, the stream keeps running
};

struct FaultSpec {
  FaultKind kind{};
  double rate = -1;             // probability per chance; <0: not given
  int every = 0;                // strike on every Nth chance
  std::optional<int64_t> atMs;  // first chance at or after this time
  int count = -1;               // strikes allowed; <0 unlimited
  int64_t forMs = 0;            // duration (Stall, Hangup, Silence)
  char cmd = 0;                 // Silence: only after this command (0: any)
  int field = 0;                // NotANumber: which field (0: random)
  std::string on;               // sensor name ("serial", "usb0"...); empty: all
};

// Parses one fault; on failure returns nothing and sets error.
std::optional<FaultSpec> parseFault(std::string_view text, std::string& error);
// Parses a script: one fault per line, blank lines and '#' comments ignored.
bool parseFaultScript(std::string_view text, std::vector<FaultSpec>& out, std::string& error);
const char* faultName(FaultKind k);
bool isStreamFault(FaultKind k);

class Rng;

// Strike bookkeeping of one fault for one sensor.
class FaultState {
 public:
  explicit FaultState(FaultSpec s) : spec(std::move(s)) {}
  // One chance at time nowMs; true when the fault strikes.
  bool chance(int64_t nowMs, Rng& rng);
  FaultSpec spec;
  int strikes = 0;
  int chances = 0;
};

}  // namespace tks7730sim
