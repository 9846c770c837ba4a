#include "Options.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace tks7730sim {
namespace {

template <class T>
bool num(const std::string& v, T& out) {
  auto r = std::from_chars(v.data(), v.data() + v.size(), out);
  return !v.empty() && r.ec == std::errc() && r.ptr == v.data() + v.size();
}

}  // namespace

const char* helpText() {
  return R"(Usage: tks7730-sim [OPTION]...
A TKS7730 RF power sensor in software. Serves one sensor on a pseudo-terminal
and any number of sensors as simulated USB HID devices, then prints one line per
transport and flushes:
  serial: <pseudo-terminal slave path>
  usb: <socket path>
  uhid: <hidraw device path>
Runs until SIGINT or SIGTERM, then removes its sockets and link.

Transports:
  --no-pty               no serial sensor
  --pty-link PATH        keep a symbolic link PATH to the pseudo-terminal slave
  --baud N               pace the serial output to N baud, 8N1 (ten bit times a
                         byte; default: as fast as the reader takes it)
  --usb N                N simulated USB sensors (default 0)
  --usb-dir DIR          folder for their sockets (default $ZERVDCOM_HID_SIM_DIR);
                         the sockets are DIR/tks7730-sim-0, -1, ...
  --usb-version HEX      USB version number in the hello packet and of the
                         uhid devices (default 0140)
  --uhid N               N sensors as real kernel HID devices made through
                         /dev/uhid (needs the uhid module and write access to
                         it, e.g. root); each shows as /dev/hidrawN and prints
                         "uhid: /dev/hidrawN"; ending the simulator unplugs them
  --uhid-device PATH     the uhid device to use (default /dev/uhid)

Sensor:
  --firmware TEXT        firmware version, exactly 4 characters (default 1.40)
  --uncalibrated         report "Not" calibrated (and refuse F)
  --serial-number TEXT   serial number (default 12345; USB sensors count on:
                         12346, 12347, ...)
  --banner N             answer the first N commands after power-up with the
                         banner "rs232" (serial side only; default 1)
  --layout A|B           data string layout (default A)
  --full-scale W         full scale in watts (default 150); the head saturates
                         at 3 times full scale (peak at 6 times)
  --kilowatt             power fields in kilowatts, scale code 10
  --interval MS          data line period while streaming (default 100)
  --zero-time MS         duration of a zero calibration (default 8000); the
                         stream stops and commands are ignored meanwhile
  --zero-result CODE     result code of the zero calibration, 1-2 characters
                         (default 0: success)

Signal:
  --power W              forward average power (default 100)
  --duty PCT             burst duty cycle in percent (default 80)
  --peak-ratio R         in-burst peak over in-burst average, 1 to 2 (default 1.6)
  --vswr V               load VSWR, sets the reflected power (default 1.5)
  --temperature C        head temperature at power-up (default 28)
  --drift PCT            slow drift of the forward power (default 2)
  --noise PCT            reading noise at the 4500 Hz filter (default 0.5)
  --seed N               seed of the noise and of the random faults (default 1)
  --power-script FILE    step the forward average power: one "MS WATTS" per
                         line, the power from MS milliseconds after the first
                         start of the stream (D) on; '#' starts a comment.
                         Before the first step --power applies

The G command takes effect: field 7 reports the type last set; the filter sets
the noise and how much of the in-burst modulation the peak, crest factor and
CCDF see; the CCDF factor is the percentage of time the envelope is above the
CCDF limit; field 6 carries the forward average with the offset applied; layout
B's extra field carries the forward unit code. A G with type 0 is acknowledged
and measures Average (type 1); any unit code, 0 included, is taken as sent and
only echoed in layout B. Types above 5 are refused with NAK.

Faults (each may be given many times):
  --fault SPEC           add a fault
  --fault-script FILE    add the faults listed in FILE, one SPEC per line,
                         '#' starts a comment
  SPEC is KIND[,key=value]... with KIND one of
    garbage     a line of junk before a data line
    truncate    a data line cut short
    layout      a data line with ",," one position late (117 in layout A)
    nan         a data line field that is not a number (field=N picks it)
    wrong-type  field 7 reports another type than the one set
    stall       the stream pauses for for=MS (default 2000)
    hangup      the transport vanishes for for=MS (default 2000), then returns
                (serial: the pty master is closed, a new pty is made and
                "serial: <path>" printed again; usb: the socket and its
                connections close and come back; uhid: the kernel device
                is unplugged, then made again and "uhid: <path>" printed)
    refuse-f    F answered with NAK
    refuse-g    G answered with NAK, settings not taken
    silence     a command (cmd=X, default any) gets no reply and nothing at
                all is sent for for=MS (default 3000)
    no-u-reply  U is lost: no reply and the stream keeps running
  and keys
    rate=P      strike with probability P at each chance
    every=N     strike at every Nth chance
    at=MS       first chance at or after MS after start (once unless count=)
    count=N     strike at most N times (default: unlimited with rate/every,
                else once)
    on=NAME     only the sensor NAME (serial, usb0, usb1, ...)
  A chance is a data line for the stream faults and a received command for the
  command faults; stall and hangup with only at= strike at that time.
  Examples: --fault garbage,rate=0.05   --fault refuse-g,count=2
            --fault hangup,at=5000,for=3000   --fault silence,cmd=G

Diagnostics:
  --trace FILE           log every command received (with its exact bytes),
                         every fault and transport event; '-' is stderr
  --version              the version
  --help                 this text

USB reports: each connection first gets a hello packet (vendor ID 0x3A61,
product ID 0x7730, version, little-endian, then the report descriptor), then
49-byte reports. The sensor's output leaves in input reports as soon as it is
produced, to every open connection; the 0x53 polls are counted, not needed to
release output. 0x50 makes the sensor forget a half-received command.
)";
}

ParseResult parseOptions(const std::vector<std::string>& args, SimOptions& opt,
                         std::string& error) {
  if (const char* dir = std::getenv("ZERVDCOM_HID_SIM_DIR")) opt.usbDir = dir;
  auto& s = opt.sensor;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      v = args[++i];
      return true;
    };
    auto number = [&](auto& out, double lo, double hi) {
      std::string v;
      if (!value(v)) return false;
      if (!num(v, out) || out < lo || out > hi) {
        error = "bad value '" + v + "' for " + a;
        return false;
      }
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h")
      return ParseResult::Help;
    else if (a == "--version")
      return ParseResult::Version;
    else if (a == "--no-pty")
      opt.pty = false;
    else if (a == "--pty-link") {
      if (!value(opt.ptyLink)) return ParseResult::Error;
    } else if (a == "--baud") {
      if (!number(opt.baud, 50, 4000000)) return ParseResult::Error;
    } else if (a == "--usb") {
      if (!number(opt.usbCount, 0, 64)) return ParseResult::Error;
    } else if (a == "--uhid") {
      if (!number(opt.uhidCount, 0, 16)) return ParseResult::Error;
    } else if (a == "--uhid-device") {
      if (!value(opt.uhidDevice)) return ParseResult::Error;
    } else if (a == "--usb-dir") {
      if (!value(opt.usbDir)) return ParseResult::Error;
    } else if (a == "--usb-version") {
      if (!value(v)) return ParseResult::Error;
      auto r = std::from_chars(v.data(), v.data() + v.size(), opt.usbVersion, 16);
      if (v.empty() || r.ec != std::errc() || r.ptr != v.data() + v.size()) {
        error = "bad value '" + v + "' for --usb-version";
        return ParseResult::Error;
      }
    } else if (a == "--firmware") {
      if (!value(v)) return ParseResult::Error;
      if (v.size() != 4) {
        error = "--firmware needs exactly 4 characters, e.g. 1.40";
        return ParseResult::Error;
      }
      s.firmware = v;
    } else if (a == "--uncalibrated")
      s.calibrated = false;
    else if (a == "--serial-number") {
      if (!value(v)) return ParseResult::Error;
      for (char c : v)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
          error = "--serial-number takes printable characters only";
          return ParseResult::Error;
        }
      s.serialNumber = v;
    } else if (a == "--banner") {
      if (!number(s.bannerCount, 0, 1000)) return ParseResult::Error;
    } else if (a == "--layout") {
      if (!value(v)) return ParseResult::Error;
      if (v == "A" || v == "a")
        s.layout = Layout::A;
      else if (v == "B" || v == "b")
        s.layout = Layout::B;
      else {
        error = "--layout is A or B";
        return ParseResult::Error;
      }
    } else if (a == "--full-scale") {
      if (!number(s.fullScaleW, 1e-3, 1e9)) return ParseResult::Error;
    } else if (a == "--kilowatt")
      s.kilowatt = true;
    else if (a == "--interval") {
      if (!number(s.intervalMs, 1, 3600000)) return ParseResult::Error;
    } else if (a == "--zero-time") {
      if (!number(s.zeroTimeMs, 0, 3600000)) return ParseResult::Error;
    } else if (a == "--zero-result") {
      if (!value(v)) return ParseResult::Error;
      if (v.empty() || v.size() > 2 || v.find_first_of("\r\n,") != std::string::npos) {
        error = "--zero-result takes 1 or 2 characters";
        return ParseResult::Error;
      }
      s.zeroResult = v;
    } else if (a == "--power") {
      if (!number(s.signal.forwardAvgW, 0, 1e9)) return ParseResult::Error;
    } else if (a == "--duty") {
      if (!number(s.signal.dutyPercent, 0.1, 100)) return ParseResult::Error;
    } else if (a == "--peak-ratio") {
      if (!number(s.signal.peakRatio, 1, 2)) return ParseResult::Error;
    } else if (a == "--vswr") {
      if (!number(s.signal.vswr, 1, 1e6)) return ParseResult::Error;
    } else if (a == "--temperature") {
      if (!number(s.signal.temperatureC, -100, 300)) return ParseResult::Error;
    } else if (a == "--drift") {
      if (!number(s.signal.driftPercent, 0, 50)) return ParseResult::Error;
    } else if (a == "--noise") {
      if (!number(s.signal.noisePercent, 0, 50)) return ParseResult::Error;
    } else if (a == "--seed") {
      if (!number(s.seed, 0, 1.8e19)) return ParseResult::Error;
    } else if (a == "--fault") {
      if (!value(v)) return ParseResult::Error;
      auto f = parseFault(v, error);
      if (!f) {
        error = "--fault " + v + ": " + error;
        return ParseResult::Error;
      }
      opt.faults.push_back(*f);
    } else if (a == "--fault-script") {
      if (!value(v)) return ParseResult::Error;
      std::ifstream in(v, std::ios::binary);
      if (!in) {
        error = "cannot read fault script " + v;
        return ParseResult::Error;
      }
      std::stringstream text;
      text << in.rdbuf();
      if (!parseFaultScript(text.str(), opt.faults, error)) {
        error = v + ": " + error;
        return ParseResult::Error;
      }
    } else if (a == "--power-script") {
      if (!value(v)) return ParseResult::Error;
      std::ifstream in(v, std::ios::binary);
      if (!in) {
        error = "cannot read power script " + v;
        return ParseResult::Error;
      }
      std::stringstream text;
      text << in.rdbuf();
      if (!parsePowerScript(text.str(), s.powerSteps, error)) {
        error = v + ": " + error;
        return ParseResult::Error;
      }
    } else if (a == "--trace") {
      if (!value(opt.tracePath)) return ParseResult::Error;
    } else {
      error = "unknown option " + a + " (see --help)";
      return ParseResult::Error;
    }
  }
  if (opt.usbCount > 0 && opt.usbDir.empty()) {
    error = "--usb needs --usb-dir (or ZERVDCOM_HID_SIM_DIR)";
    return ParseResult::Error;
  }
  if (!opt.pty && opt.usbCount == 0 && opt.uhidCount == 0) {
    error = "nothing to serve: --no-pty without --usb or --uhid";
    return ParseResult::Error;
  }
  return ParseResult::Run;
}

}  // namespace tks7730sim
