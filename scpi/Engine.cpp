#include "scpi/Engine.h"

#include <algorithm>
#include <cmath>

namespace zrq::scpi {

// The command table and its handlers.
struct Commands {
  enum Quantity { Selected, Avg, Peak, Burst, Crest, Ccdf, Refl, Rho, Vswr, RLoss, All };

  struct Spec {
    enum Kind { None, Num, Bool, Choice, Str } kind = None;
    UnitKind units = UnitKind::None;
    bool minMax = false;    // MINimum, MAXimum, DEFault accepted
    bool optional = false;  // may be left out
    std::vector<const char*> choices;
  };
  struct Arg {
    bool given = false;
    double num = 0;
    bool on = false;
    std::string text;  // Choice: the choice's long form; Str: the contents
    enum { Value, Min, Max, Def } special = Value;
  };
  using Handler = std::function<void(Client&, const Arg&)>;
  struct Entry {
    Entry(std::string p, Spec s, Handler f)
        : pattern(std::move(p)), spec(std::move(s)), fn(std::move(f)) {}
    std::string pattern;
    Spec spec;
    Handler fn;
    bool query = false, common = false;
    std::vector<PatternNode> nodes;
  };

  static const std::vector<Entry>& table();
  static bool convert(Client& c, const Spec& spec, const std::vector<Param>& params, Arg* arg);

  static Settings settings(Client& c) { return c.inst().settings(); }
  static void apply(Client& c, const Settings& s) {
    if (const std::string why = c.inst().conflict(s); !why.empty()) {
      c.error(-221, why);
      return;
    }
    c.inst().apply(s);
    c.engine_.refreshConditions();
  }
  static std::optional<double> value(Quantity q, const Reading& r, PowerUnit unit);
  static std::optional<std::string> answer(Quantity q, const Reading& r, PowerUnit unit);
  static void measure(Client& c, int verb, Quantity q);
  static void syncOffset(Client& c) {
    if (c.ch().offsetOff && c.inst().settings().offsetDb != 0) c.ch().offsetOff = false;
  }
  static void addMeasurements(std::vector<Entry>& t);
};

namespace {

using Q = Commands::Quantity;
using Spec = Commands::Spec;
using Arg = Commands::Arg;

const char* functionString(Function f) {
  switch (f) {
    case Function::Peak:
      return "POW:PEAK";
    case Function::Burst:
      return "POW:BURS";
    case Function::Crest:
      return "POW:CRES";
    case Function::Ccdf:
      return "POW:CCDF";
    case Function::Average:
      break;
  }
  return "POW:AVG";
}

std::optional<Function> functionOf(Q q) {
  switch (q) {
    case Q::Avg:
      return Function::Average;
    case Q::Peak:
      return Function::Peak;
    case Q::Burst:
      return Function::Burst;
    case Q::Crest:
      return Function::Crest;
    case Q::Ccdf:
      return Function::Ccdf;
    default:
      return std::nullopt;
  }
}

Q quantityOf(Function f) {
  switch (f) {
    case Function::Peak:
      return Q::Peak;
    case Function::Burst:
      return Q::Burst;
    case Function::Crest:
      return Q::Crest;
    case Function::Ccdf:
      return Q::Ccdf;
    case Function::Average:
      break;
  }
  return Q::Avg;
}

std::string opt(const std::optional<double>& v) { return v ? formatNumber(*v) : std::string(); }

Spec num(UnitKind u, bool minMax = false) { return Spec{Spec::Num, u, minMax, false, {}}; }
Spec boolean() { return Spec{Spec::Bool, UnitKind::None, false, false, {}}; }
Spec choice(std::vector<const char*> c, bool optional = false) {
  return Spec{Spec::Choice, UnitKind::None, false, optional, std::move(c)};
}
Spec minMaxQuery() { return choice({"MINimum", "MAXimum", "DEFault"}, true); }

bool matchesWord(std::string_view word, const char* pattern) {
  const auto nodes = parsePattern(pattern);
  return equalsNoCase(word, nodes[0].shortName) || equalsNoCase(word, nodes[0].longName);
}

// Range-checked integer register values (*ESE, *SRE, STAT:...:ENAB).
bool registerValue(Client& c, const Arg& a, int max, void (*error)(Client&, int, std::string),
                   int* out) {
  const double v = std::round(a.num);
  if (v < 0 || v > max) {
    error(c, -222, "0 to " + std::to_string(max));
    return false;
  }
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

std::optional<double> Commands::value(Quantity q, const Reading& r, PowerUnit unit) {
  auto power = [unit](const std::optional<double>& w) -> std::optional<double> {
    if (!w || unit == PowerUnit::Watt) return w;
    return *w > 0 ? 10.0 * std::log10(*w * 1000.0) : NAN;
  };
  switch (q) {
    case Selected:
      return value(quantityOf(r.function), r, unit);
    case Avg:
      return power(r.forwardAverageW);
    case Peak:
      return power(r.forwardPeakW);
    case Burst:
      return power(r.forwardBurstW);
    case Crest:
      return r.crestFactorDb;
    case Ccdf:
      return r.ccdfPercent;
    case Refl:
      return power(r.reflectedW);
    case Rho:
      return r.rho;
    case Vswr:
      return r.vswr;
    case RLoss:
      return r.returnLossDb;
    case All:
      break;
  }
  return std::nullopt;
}

// FETCh:ALL?: time,function,forward average W,peak W,burst W,crest dB,CCDF %,
// reflected W,rho,VSWR,return loss dB,temperature C (empty: not given).
std::optional<std::string> Commands::answer(Quantity q, const Reading& r, PowerUnit unit) {
  if (q == All) return allFields(r);
  if (auto v = value(q, r, unit)) return formatNumber(*v);
  return std::nullopt;
}

std::string allFields(const Reading& r) {
  std::string f = functionString(r.function);
  return r.time + "," + f.substr(4) + "," + opt(r.forwardAverageW) + "," + opt(r.forwardPeakW) +
         "," + opt(r.forwardBurstW) + "," + opt(r.crestFactorDb) + "," + opt(r.ccdfPercent) + "," +
         opt(r.reflectedW) + "," + opt(r.rho) + "," + opt(r.vswr) + "," + opt(r.returnLossDb) +
         "," + formatNumber(r.temperatureC);
}

enum { Fetch, Read, Measure };

// A string as SCPI string data: in double quotes, a quote inside doubled.
std::string quoteString(const std::string& text) {
  std::string out = "\"";
  for (char ch : text) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

void Commands::measure(Client& c, int verb, Quantity q) {
  Engine& e = c.engine_;
  Settings s = c.inst().settings();
  if (verb == Fetch) {
    auto r = c.inst().latest();
    if (!r) return c.error(-230, "no reading yet");
    if (q == Selected && r->function != s.function)
      return c.error(-230, "no reading of the selected function yet");
    auto a = answer(q, *r, s.unit);
    if (!a) return c.error(-230, "not in the latest reading");
    return c.reply(*a);
  }
  if (!c.inst().streaming()) return c.error(-241, "no sensor streaming");
  std::optional<Function> fn;
  if (verb == Measure) {
    fn = functionOf(q);
    if (fn && *fn != s.function) {
      s.function = *fn;
      apply(c, s);
    }
    if (!fn) fn = s.function;
  } else if (q == Selected) {
    fn = s.function;
  }
  c.wait_ = Client::Wait{Client::WaitKind::Reading, q, fn, c.ch().readings, {}, c.channel_};
  if (e.now_) c.wait_.deadline = *e.now_ + e.timeoutMs_;
}

void Commands::addMeasurements(std::vector<Entry>& t) {
  static const struct {
    const char* tail;
    Q q;
  } quantities[] = {
      {"[:SCALar]:POWer:AVERage?", Q::Avg},    {"[:SCALar]:POWer:PEAK?", Q::Peak},
      {"[:SCALar]:POWer:BURSt?", Q::Burst},    {"[:SCALar]:POWer:CRESt?", Q::Crest},
      {"[:SCALar]:POWer:CCDF?", Q::Ccdf},      {"[:SCALar]:REFLected[:POWer]?", Q::Refl},
      {"[:SCALar]:REFLected:RHO?", Q::Rho},    {"[:SCALar]:REFLected:VSWR?", Q::Vswr},
      {"[:SCALar]:REFLected:RLOSs?", Q::RLoss}};
  static const char* verbs[] = {"FETCh#", "READ#", "MEASure#"};
  for (int v = Fetch; v <= Measure; ++v) {
    t.push_back(
        {std::string(verbs[v]) + "?", {}, [v](Client& c, const Arg&) { measure(c, v, Selected); }});
    for (const auto& q : quantities)
      t.push_back({std::string(verbs[v]) + q.tail, {}, [v, qq = q.q](Client& c, const Arg&) {
                     measure(c, v, qq);
                   }});
    if (v != Measure)
      t.push_back({std::string(verbs[v]) + ":ALL?", {}, [v](Client& c, const Arg&) {
                     measure(c, v, All);
                   }});
  }
  static const struct {
    const char* tail;
    Function f;
  } functions[] = {{":AVERage", Function::Average},
                   {":PEAK", Function::Peak},
                   {":BURSt", Function::Burst},
                   {":CRESt", Function::Crest},
                   {":CCDF", Function::Ccdf}};
  t.push_back({"CONFigure#", {}, [](Client&, const Arg&) {}});
  for (const auto& f : functions)
    t.push_back({std::string("CONFigure#[:SCALar][:POWer]") + f.tail,
                 {},
                 [fn = f.f](Client& c, const Arg&) {
                   Settings s = settings(c);
                   s.function = fn;
                   apply(c, s);
                 }});
  t.push_back({"CONFigure#?", {}, [](Client& c, const Arg&) {
                 c.reply(std::string("\"") + functionString(settings(c).function) + "\"");
               }});
}

const std::vector<Commands::Entry>& Commands::table() {
  static const std::vector<Entry> entries = [] {
    using C = Client;
    std::vector<Entry> t;
    auto err = [](Client& c, int code, std::string d) { c.error(code, std::move(d)); };
    // IEEE 488.2 common commands.
    t.push_back({"*IDN?", {}, [](C& c, const Arg&) {
                   Identity id = c.inst().identity();
                   c.reply("ZRQ,TKS7730," + id.serial + "," + id.firmware);
                 }});
    t.push_back({"*RST", {}, [](C& c, const Arg&) { c.engine_.resetSettings(); }});
    t.push_back({"*CLS", {}, [](C& c, const Arg&) {
                   c.errors_.clear();
                   c.esr_ = 0;
                   c.operEvent_ = c.quesEvent_ = 0;
                   c.opcPending_ = false;
                 }});
    t.push_back({"*ESE", num(UnitKind::None), [err](C& c, const Arg& a) {
                   int v;
                   if (registerValue(c, a, 255, err, &v)) c.ese_ = std::uint8_t(v);
                 }});
    t.push_back({"*ESE?", {}, [](C& c, const Arg&) { c.reply(std::to_string(c.ese_)); }});
    t.push_back({"*ESR?", {}, [](C& c, const Arg&) {
                   c.reply(std::to_string(c.esr_));
                   c.esr_ = 0;
                 }});
    t.push_back({"*OPC", {}, [](C& c, const Arg&) {
                   if (c.engine_.anyCalibrating())
                     c.opcPending_ = true;
                   else
                     c.esr_ |= 1;
                 }});
    auto waitOp = [](C& c, C::WaitKind k) {
      if (!c.engine_.anyCalibrating()) {
        if (k == C::WaitKind::Opc) c.reply("1");
        return;
      }
      c.wait_ = C::Wait{k, 0, std::nullopt, 0, {}, 0};
      if (c.engine_.now_) c.wait_.deadline = *c.engine_.now_ + c.waitLimitMs();
    };
    t.push_back({"*OPC?", {}, [waitOp](C& c, const Arg&) { waitOp(c, C::WaitKind::Opc); }});
    t.push_back({"*WAI", {}, [waitOp](C& c, const Arg&) { waitOp(c, C::WaitKind::Wai); }});
    t.push_back({"*SRE", num(UnitKind::None), [err](C& c, const Arg& a) {
                   int v;
                   if (registerValue(c, a, 255, err, &v)) c.sre_ = std::uint8_t(v & ~0x40);
                 }});
    t.push_back({"*SRE?", {}, [](C& c, const Arg&) { c.reply(std::to_string(c.sre_)); }});
    t.push_back({"*STB?", {}, [](C& c, const Arg&) { c.reply(std::to_string(c.statusByte())); }});
    t.push_back({"*TST?", {}, [](C& c, const Arg&) { c.reply("0"); }});
    // SYSTem and STATus.
    t.push_back({"SYSTem:ERRor[:NEXT]?", {}, [](C& c, const Arg&) {
                   auto e = c.errors_.pop();
                   c.reply(formatError(e ? *e : Error{}));
                 }});
    t.push_back({"SYSTem:ERRor:COUNt?", {}, [](C& c, const Arg&) {
                   c.reply(std::to_string(c.errors_.size()));
                 }});
    t.push_back({"SYSTem:VERSion?", {}, [](C& c, const Arg&) { c.reply("1999.0"); }});
    t.push_back({"SYSTem:HELP:HEADers?", {}, [](C& c, const Arg&) {
                   std::string data;
                   for (const auto& h : c.engine_.headers()) data += h + "\n";
                   const std::string len = std::to_string(data.size());
                   c.reply("#" + std::to_string(len.size()) + len + data);
                 }});
    for (int reg = 0; reg < 2; ++reg) {
      const std::string base = reg == 0 ? "STATus:OPERation" : "STATus:QUEStionable";
      auto event = [reg](C& c) -> std::uint16_t& { return reg == 0 ? c.operEvent_ : c.quesEvent_; };
      auto enable = [reg](C& c) -> std::uint16_t& {
        return reg == 0 ? c.operEnable_ : c.quesEnable_;
      };
      t.push_back({base + "[:EVENt]?", {}, [event](C& c, const Arg&) {
                     c.reply(std::to_string(event(c)));
                     event(c) = 0;
                   }});
      t.push_back({base + ":CONDition?", {}, [reg](C& c, const Arg&) {
                     c.reply(std::to_string(reg == 0 ? c.engine_.operCondition()
                                                     : c.engine_.quesCondition()));
                   }});
      t.push_back({base + ":ENABle", num(UnitKind::None), [enable, err](C& c, const Arg& a) {
                     int v;
                     if (registerValue(c, a, 65535, err, &v)) enable(c) = std::uint16_t(v);
                   }});
      t.push_back({base + ":ENABle?", {}, [enable](C& c, const Arg&) {
                     c.reply(std::to_string(enable(c)));
                   }});
    }
    // The sensors a numeric suffix picks: "1,<label>,<serial>", ...
    t.push_back({"SYSTem:CHANnel:COUNt?", {}, [](C& c, const Arg&) {
                   c.reply(std::to_string(c.engine_.channels_.size()));
                 }});
    t.push_back({"SYSTem:CHANnel:LIST?", {}, [](C& c, const Arg&) {
                   std::string list;
                   for (std::size_t i = 0; i < c.engine_.channels_.size(); ++i) {
                     const Instrument& inst = *c.engine_.channels_[i].inst;
                     std::string entry =
                         std::to_string(i + 1) + "," + inst.label() + "," + inst.identity().serial;
                     list += (i ? "," : "") + quoteString(entry);
                   }
                   c.reply(list);
                 }});
    t.push_back({"STATus:PRESet", {}, [](C& c, const Arg&) { c.operEnable_ = c.quesEnable_ = 0; }});
    // Measurements.
    addMeasurements(t);
    t.push_back({"INITiate#[:IMMediate]", {}, [](C& c, const Arg&) {
                   if (c.ch().continuous) c.error(-213, "INITiate:CONTinuous is ON");
                 }});
    t.push_back(
        {"INITiate#:CONTinuous", boolean(), [](C& c, const Arg& a) { c.ch().continuous = a.on; }});
    t.push_back({"INITiate#:CONTinuous?", {}, [](C& c, const Arg&) {
                   c.reply(c.ch().continuous ? "1" : "0");
                 }});
    t.push_back({"ABORt", {}, [](C&, const Arg&) {}});
    // Settings.
    t.push_back({"UNIT#:POWer", choice({"DBM", "W"}), [](C& c, const Arg& a) {
                   Settings s = settings(c);
                   s.unit = a.text == "DBM" ? PowerUnit::Dbm : PowerUnit::Watt;
                   apply(c, s);
                 }});
    t.push_back({"UNIT#:POWer?", {}, [](C& c, const Arg&) {
                   c.reply(settings(c).unit == PowerUnit::Dbm ? "DBM" : "W");
                 }});
    t.push_back(
        {"[SENSe#:]CORRection:OFFSet[:MAGNitude]", num(UnitKind::Db, true), [](C& c, const Arg& a) {
           double v = a.special == Arg::Max ? kOffsetMaxDb : a.num;
           if (a.special == Arg::Min || a.special == Arg::Def) v = kOffsetMinDb;
           if (!(v >= kOffsetMinDb && v <= kOffsetMaxDb))
             return c.error(-222, "offset 0 to 100 dB");
           syncOffset(c);
           if (c.ch().offsetOff) {
             c.ch().offsetKeptDb = v;
             return;
           }
           Settings s = settings(c);
           s.offsetDb = v;
           apply(c, s);
         }});
    t.push_back({"[SENSe#:]CORRection:OFFSet[:MAGNitude]?", minMaxQuery(), [](C& c, const Arg& a) {
                   syncOffset(c);
                   double v = c.ch().offsetOff ? c.ch().offsetKeptDb : settings(c).offsetDb;
                   if (a.given) v = a.text == "MAXIMUM" ? kOffsetMaxDb : kOffsetMinDb;
                   c.reply(formatNumber(v));
                 }});
    t.push_back({"[SENSe#:]CORRection:OFFSet:STATe", boolean(), [](C& c, const Arg& a) {
                   syncOffset(c);
                   Settings s = settings(c);
                   if (!a.on && !c.ch().offsetOff) {
                     c.ch().offsetKeptDb = s.offsetDb;
                     c.ch().offsetOff = true;
                     s.offsetDb = 0;
                     apply(c, s);
                   } else if (a.on && c.ch().offsetOff) {
                     c.ch().offsetOff = false;
                     s.offsetDb = c.ch().offsetKeptDb;
                     apply(c, s);
                   }
                 }});
    t.push_back({"[SENSe#:]CORRection:OFFSet:STATe?", {}, [](C& c, const Arg&) {
                   syncOffset(c);
                   c.reply(c.ch().offsetOff ? "0" : "1");
                 }});
    Spec bw = num(UnitKind::Freq, true);
    bw.choices = {"FULL"};
    t.push_back({"[SENSe#:]BANDwidth:VIDeo", bw, [](C& c, const Arg& a) {
                   Settings s = settings(c);
                   const bool number = a.special == Arg::Value && a.text.empty();
                   if (number && !(a.num > 0)) return c.error(-222, "bandwidth above 0 Hz");
                   if (a.special == Arg::Max || a.text == "FULL")
                     s.filter = Filter::Full;
                   else if (!number || a.num <= 4500)
                     s.filter = Filter::K4_5;
                   else if (a.num <= 400000)
                     s.filter = Filter::K400;
                   else
                     s.filter = Filter::Full;
                   apply(c, s);
                 }});
    t.push_back(
        {"[SENSe#:]BANDwidth:VIDeo?", {}, [](C& c, const Arg&) {
           const Filter f = settings(c).filter;
           c.reply(formatNumber(f == Filter::K4_5 ? 4.5e3 : f == Filter::K400 ? 4e5 : 9.9e37));
         }});
    t.push_back({"[SENSe#:]CCDF:LIMit", num(UnitKind::Power, true), [](C& c, const Arg& a) {
                   double v = a.special == Arg::Min   ? kCcdfLimitMinW
                              : a.special == Arg::Max ? kCcdfLimitMaxW
                              : a.special == Arg::Def ? Settings{}.ccdfLimitW
                                                      : a.num;
                   if (!(v >= kCcdfLimitMinW && v <= kCcdfLimitMaxW))
                     return c.error(-222, "CCDF limit 2 to 400 W");
                   Settings s = settings(c);
                   s.ccdfLimitW = v;
                   apply(c, s);
                 }});
    t.push_back({"[SENSe#:]CCDF:LIMit?", minMaxQuery(), [](C& c, const Arg& a) {
                   double v = settings(c).ccdfLimitW;
                   if (a.given)
                     v = a.text == "MINIMUM"   ? kCcdfLimitMinW
                         : a.text == "MAXIMUM" ? kCcdfLimitMaxW
                                               : Settings{}.ccdfLimitW;
                   c.reply(formatNumber(v));
                 }});
    t.push_back({"[SENSe#:]FUNCtion", Spec{Spec::Str, UnitKind::None, false, false, {}},
                 [](C& c, const Arg& a) {
                   static const struct {
                     const char* word;
                     Function f;
                   } names[] = {{"AVG", Function::Average}, {"AVERage", Function::Average},
                                {"PEAK", Function::Peak},   {"BURSt", Function::Burst},
                                {"CRESt", Function::Crest}, {"CCDF", Function::Ccdf}};
                   std::string_view text = a.text;
                   const auto colon = text.find(':');
                   if (colon != std::string_view::npos &&
                       matchesWord(text.substr(0, colon), "POWer")) {
                     for (const auto& n : names)
                       if (matchesWord(text.substr(colon + 1), n.word)) {
                         Settings s = settings(c);
                         s.function = n.f;
                         return apply(c, s);
                       }
                   }
                   c.error(-224, "function \"" + a.text + "\"");
                 }});
    t.push_back({"[SENSe#:]FUNCtion?", {}, [](C& c, const Arg&) {
                   c.reply(std::string("\"") + functionString(settings(c).function) + "\"");
                 }});
    // Zero calibration.
    t.push_back({"CALibration#:ZERO:AUTO", choice({"ONCE", "OFF"}), [](C& c, const Arg& a) {
                   if (a.text != "ONCE") return;
                   Engine& e = c.engine_;
                   std::string why;
                   if (!c.inst().startZeroCalibration(&why))
                     return c.error(c.inst().streaming() ? -200 : -241, why);
                   c.ch().zeroStarter = &c;
                   e.refreshConditions();
                 }});
    t.push_back({"CALibration#:ZERO:AUTO?", {}, [](C& c, const Arg&) { c.reply("0"); }});
    // Limits on the forward average power.
    for (int upperLimit = 1; upperLimit >= 0; --upperLimit) {
      const std::string base = upperLimit ? "CALCulate#:LIMit#:UPPer" : "CALCulate#:LIMit#:LOWer";
      t.push_back({base + "[:DATA]", num(UnitKind::Power), [upperLimit](C& c, const Arg& a) {
                     if (!(a.num >= 0 && a.num <= 1000)) return c.error(-222, "limit 0 to 1000 W");
                     (upperLimit ? c.ch().limit.upperW : c.ch().limit.lowerW) = a.num;
                   }});
      t.push_back({base + "[:DATA]?", {}, [upperLimit](C& c, const Arg&) {
                     const LimitCheck& l = c.ch().limit;
                     c.reply(formatNumber(upperLimit ? l.upperW : l.lowerW));
                   }});
    }
    t.push_back({"CALCulate#:LIMit#:STATe", boolean(), [](C& c, const Arg& a) {
                   LimitCheck& l = c.ch().limit;
                   if (a.on && l.lowerW > l.upperW)
                     return c.error(-221, "lower limit above upper limit");
                   l.enabled = a.on;
                 }});
    t.push_back({"CALCulate#:LIMit#:STATe?", {}, [](C& c, const Arg&) {
                   c.reply(c.ch().limit.enabled ? "1" : "0");
                 }});
    t.push_back({"CALCulate#:LIMit#:FAIL?", {}, [](C& c, const Arg&) {
                   c.reply(c.ch().limit.failed ? "1" : "0");
                 }});
    t.push_back({"CALCulate#:LIMit#:CLEar[:IMMediate]", {}, [](C& c, const Arg&) {
                   c.ch().limit.clear();
                   c.engine_.refreshConditions();
                 }});
    for (auto& e : t) {
      e.query = e.pattern.back() == '?';
      e.common = e.pattern[0] == '*';
      e.nodes = parsePattern(e.common ? std::string_view(e.pattern).substr(1) : e.pattern);
    }
    return t;
  }();
  return entries;
}

bool Commands::convert(Client& c, const Spec& spec, const std::vector<Param>& params, Arg* arg) {
  if (spec.kind == Spec::None || params.size() > 1) {
    if (params.empty()) return true;
    c.error(-108);
    return false;
  }
  if (params.empty()) {
    if (spec.optional) return true;
    c.error(-109);
    return false;
  }
  const Param& p = params[0];
  arg->given = true;
  auto fail = [&c](int code, std::string d = {}) {
    c.error(code, std::move(d));
    return false;
  };
  if (p.kind == Param::Kind::String) {
    if (spec.kind != Spec::Str) return fail(-104);
    arg->text = p.text;
    return true;
  }
  if (spec.kind == Spec::Str) return fail(-104);
  if (p.kind == Param::Kind::Numeric) {
    if (spec.kind == Spec::Choice) return fail(-104);
    if (auto e = applySuffix(spec.units, p, &arg->num)) return fail(e->code, e->detail);
    arg->on = std::round(arg->num) != 0;
    return true;
  }
  // Character data.
  if (spec.kind == Spec::Bool) {
    if (p.text == "ON" || p.text == "OFF") return arg->on = p.text == "ON", true;
    return fail(-141, p.text);
  }
  for (const char* ch : spec.choices)
    if (matchesWord(p.text, ch)) return arg->text = upper(ch), true;
  if (spec.minMax) {
    if (matchesWord(p.text, "MINimum")) return arg->special = Arg::Min, true;
    if (matchesWord(p.text, "MAXimum")) return arg->special = Arg::Max, true;
    if (matchesWord(p.text, "DEFault")) return arg->special = Arg::Def, true;
  }
  return fail(spec.kind == Spec::Num && !spec.minMax ? -104 : -141, p.text);
}

// ---- Engine ----

Engine::Engine(Instrument& instrument) : Engine(std::vector<Instrument*>{&instrument}) {}

Engine::Engine(std::vector<Instrument*> channels) {
  for (Instrument* i : channels) {
    channels_.emplace_back();
    channels_.back().inst = i;
  }
}

bool Engine::anyCalibrating() const {
  for (const Channel& ch : channels_)
    if (ch.inst->zeroCalibrationRunning()) return true;
  return false;
}
Engine::~Engine() = default;

std::vector<std::string> Engine::headers() const {
  std::vector<std::string> h;
  for (const auto& e : Commands::table()) {
    std::string p = e.pattern;
    p.erase(std::remove(p.begin(), p.end(), '#'), p.end());
    h.push_back(std::move(p));
  }
  return h;
}

std::uint16_t Engine::operCondition() const {
  std::uint16_t c = 0;
  for (const Channel& ch : channels_)
    c |= (ch.inst->zeroCalibrationRunning() ? kOperCalibrating : 0) |
         (ch.inst->streaming() ? kOperMeasuring : 0);
  return c;
}

std::uint16_t Engine::quesCondition() const {
  std::uint16_t c = 0;
  for (const Channel& ch : channels_)
    c |= (ch.zeroFailed ? kQuesCalibration : 0) | (ch.limit.failed ? kQuesPower : 0);
  return c;
}

void Engine::refreshConditions() {
  const std::uint16_t oper = operCondition(), ques = quesCondition();
  const std::uint16_t operRise = oper & ~lastOper_, quesRise = ques & ~lastQues_;
  lastOper_ = oper;
  lastQues_ = ques;
  if (operRise || quesRise)
    for (Client* c : clients_) c->applyRising(operRise, quesRise);
}

void Engine::resetSettings() {
  // Not in the middle of a zero calibration, nor against the host's rules.
  for (Channel& ch : channels_) {
    if (ch.inst->conflict(Settings{}).empty()) ch.inst->apply(Settings{});
    ch.limit = LimitCheck{};
    ch.continuous = true;
    ch.offsetOff = false;
    ch.offsetKeptDb = 0;
  }
  refreshConditions();
}

void Engine::readingAccepted(std::size_t channel) {
  if (channel >= channels_.size()) return;
  Channel& ch = channels_[channel];
  ++ch.readings;
  auto r = ch.inst->latest();
  if (r && r->forwardAverageW) ch.limit.evaluate(*r->forwardAverageW, now_.value_or(0));
  refreshConditions();
  if (!r) return;
  const PowerUnit unit = ch.inst->settings().unit;
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    Client* c = clients_[i];
    const Client::Wait& w = c->wait_;
    if (w.kind != Client::WaitKind::Reading || w.channel != channel || ch.readings <= w.after)
      continue;
    if (w.function && r->function != *w.function) continue;
    if (auto a = Commands::answer(Commands::Quantity(w.quantity), *r, unit)) c->endWait(*a);
  }
}

void Engine::zeroCalibrationEnded(bool ok, std::string why, std::size_t channel) {
  if (channel >= channels_.size()) return;
  Channel& ch = channels_[channel];
  ch.zeroFailed = !ok;
  if (!ok && ch.zeroStarter) ch.zeroStarter->error(-240, why);
  ch.zeroStarter = nullptr;
  refreshConditions();
  // *OPC waits for every sensor's calibration.
  if (anyCalibrating()) return;
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    Client* c = clients_[i];
    if (c->opcPending_) c->esr_ |= 1, c->opcPending_ = false;
    if (c->wait_.kind == Client::WaitKind::Opc)
      c->endWait("1");
    else if (c->wait_.kind == Client::WaitKind::Wai)
      c->endWait(std::nullopt);
  }
}

void Engine::tick(std::int64_t nowMs) {
  now_ = nowMs;
  refreshConditions();
  const bool running = anyCalibrating();
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    Client* c = clients_[i];
    if (!running && c->opcPending_) c->esr_ |= 1, c->opcPending_ = false;
    if (!running && c->wait_.kind == Client::WaitKind::Opc)
      c->endWait("1");
    else if (!running && c->wait_.kind == Client::WaitKind::Wai)
      c->endWait(std::nullopt);
    else
      c->timeCheck(nowMs);
  }
}

// ---- Client ----

Client::Client(Engine& engine) : engine_(engine) { engine_.clients_.push_back(this); }

Client::~Client() {
  auto& v = engine_.clients_;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
  for (Engine::Channel& ch : engine_.channels_)
    if (ch.zeroStarter == this) ch.zeroStarter = nullptr;
}

std::size_t Client::queuedInput() const { return partial_.size() + queuedLines_; }

void Client::queueLine(Line l) {
  queuedLines_ += l.text.size() + sizeof(Line);  // empty lines count too
  lines_.push_back(std::move(l));
}

std::uint8_t Client::statusByte() const {
  std::uint8_t stb = 0;
  if (!errors_.empty()) stb |= 0x04;
  if (quesEvent_ & quesEnable_) stb |= 0x08;
  if (!out_.empty() || hasReply_) stb |= 0x10;
  if (esr_ & ese_) stb |= 0x20;
  if (operEvent_ & operEnable_) stb |= 0x80;
  if (stb & sre_ & ~0x40) stb |= 0x40;
  return stb;
}

void Client::feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t lf = bytes.find('\n');
    const std::string_view chunk = bytes.substr(0, lf);
    bytes = lf == std::string_view::npos ? std::string_view() : bytes.substr(lf + 1);
    if (discarding_) {
      discarding_ = lf == std::string_view::npos;
      continue;
    }
    if (partial_.size() + chunk.size() > kMaxLine) {
      partial_.clear();
      queueLine(Line{{}, true});
      discarding_ = lf == std::string_view::npos;
      continue;
    }
    partial_.append(chunk);
    if (lf == std::string_view::npos) break;
    if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
    queueLine(Line{std::move(partial_), false});
    partial_.clear();
  }
  run();
}

void Client::run() {
  if (running_) return;
  running_ = true;
  while (!waiting()) {
    if (next_ < units_.size()) {
      const std::string unit = units_[next_++];
      execute(unit);
      continue;
    }
    if (!units_.empty() || hasReply_) endMessage();
    if (lines_.empty()) break;
    Line l = std::move(lines_.front());
    lines_.pop_front();
    queuedLines_ -= l.text.size() + sizeof(Line);
    if (l.tooLong) {
      error(-223, "line longer than 65536 bytes");
      continue;
    }
    for (auto u : splitUnits(l.text)) units_.emplace_back(u);
    next_ = 0;
    path_.clear();
  }
  running_ = false;
}

void Client::endMessage() {
  if (hasReply_) out_ += message_ + "\n";
  message_.clear();
  hasReply_ = false;
  units_.clear();
  next_ = 0;
}

void Client::execute(std::string_view text) {
  engine_.refreshConditions();
  ParsedUnit u;
  if (auto e = parseUnit(text, &u)) return error(e->code, e->detail);
  std::vector<Mnemonic> full;
  if (!u.common && !u.root) full = path_;
  full.insert(full.end(), u.header.begin(), u.header.end());
  bool badSuffix = false;
  const Commands::Entry* found = nullptr;
  for (const auto& e : Commands::table()) {
    if (e.common != u.common || e.query != u.query) continue;
    int channel = 1;
    const Match m =
        matchHeader(e.nodes, full, static_cast<int>(engine_.channels_.size()), &channel);
    if (m == Match::Yes) {
      found = &e;
      channel_ = static_cast<std::size_t>(channel - 1);
      break;
    }
    badSuffix = badSuffix || m == Match::BadSuffix;
  }
  if (!found) return error(badSuffix ? -114 : -113);
  if (!u.common) path_.assign(full.begin(), full.end() - 1);
  Commands::Arg arg;
  if (!Commands::convert(*this, found->spec, u.params, &arg)) return;
  found->fn(*this, arg);
}

void Client::reply(std::string text) {
  if (hasReply_) message_ += ';';
  message_ += text;
  hasReply_ = true;
}

void Client::error(int code, std::string detail) {
  errors_.push(code, std::move(detail));
  esr_ |= std::uint8_t(esrBitFor(code));
}

void Client::applyRising(std::uint16_t oper, std::uint16_t ques) {
  operEvent_ |= oper;
  quesEvent_ |= ques;
}

void Client::endWait(std::optional<std::string> answer) {
  wait_ = Wait{};
  if (answer) reply(std::move(*answer));
  run();
  if (onOutput_) onOutput_();
}

std::int64_t Client::waitLimitMs() const {
  // A zero calibration takes its full course (the sensor's verdict comes after 40 s).
  return wait_.kind == WaitKind::Reading
             ? engine_.timeoutMs_
             : std::max(engine_.timeoutMs_, Engine::kOperationTimeoutMs);
}

void Client::timeCheck(std::int64_t now) {
  if (!waiting()) return;
  if (!wait_.deadline) {
    wait_.deadline = now + waitLimitMs();
    return;
  }
  if (now < *wait_.deadline) return;
  if (wait_.kind == WaitKind::Reading)
    error(-230, "timed out waiting for a reading");
  else
    error(-200, "timed out waiting for the operation to complete");
  endWait(std::nullopt);
}

}  // namespace zrq::scpi
