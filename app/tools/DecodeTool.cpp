#include "DecodeTool.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <istream>
#include <ostream>

#include "core/DataString.h"
#include "frame/Version.h"
#include "core/PanelValues.h"
#include "core/ReadingFormat.h"

namespace zrq::tools {

using core::MeasType;
using core::PowerUnit;

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool parseNumber(const std::string& text, double& out) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && p == end && !text.empty();
}

bool parseType(const std::string& text, MeasType& out) {
  const std::string t = lower(text);
  const std::pair<const char*, MeasType> names[] = {{"average", MeasType::Average},
                                                    {"peak", MeasType::Peak},
                                                    {"burst", MeasType::Burst},
                                                    {"crest", MeasType::Crest},
                                                    {"ccdf", MeasType::CCDF}};
  for (const auto& [name, type] : names) {
    if (t == name || t == std::to_string(core::measTypeCode(type))) {
      out = type;
      return true;
    }
  }
  return false;
}

// Printable copy of an input line for messages: control and non-ASCII bytes
// as \xNN, cut after 140 characters.
std::string printable(std::string_view s) {
  std::string out = core::printableBytes(s.substr(0, 140));
  if (s.size() > 140) out += "...";
  return out;
}

std::string numberText(double v, int decimals) {
  auto t = core::formatReading(v, decimals);
  return t ? *t : core::shortestText(v);
}

std::string unitLabel(PowerUnit u) {
  const auto t = core::unitDisplayText(u);
  return t.empty() ? "(none)" : std::string(t);
}

bool fail(std::string& error, std::string message) {
  error = std::move(message);
  return false;
}

const char* yesNo(bool b) { return b ? "yes" : "no"; }

// A data line carries "D", the data string and a carriage return; a captured
// string may have lost the "D" already.
std::string_view dataStringOf(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (!line.empty() && line.front() == 'D') line.remove_prefix(1);
  return line;
}

void printPanel(const core::SensorReading& r, const DecodeOptions& o, std::ostream& out) {
  core::PanelSettings s;
  s.measType = o.type;
  s.fwdUnit = o.fwdUnit;
  s.rflUnit = o.rflUnit;
  s.offsetDb = o.offsetDb;
  s.fwdFullScale = o.fullScale;
  s.rflFullScale = o.fullScale / 10;
  const core::PanelView v = core::computePanel(r, s);

  out << "  forward:   " << v.fwdText
      << (v.fwdText == core::blankText ? "" : " " + unitLabel(v.fwd.annunciatorKey)) << "  (unit "
      << core::unitName(v.fwd.unit) << ", decimals " << v.fwd.decimals << ", over range "
      << yesNo(v.fwdOverRange) << ", Over Range lit " << yesNo(v.fwdOverLit);
  if (v.fwdFailed) out << ", out of display range";
  out << ")\n";

  if (v.rfl.present) {
    out << "  reflected: "
        << (!v.rflText                      ? std::string("(keeps previous text)")
            : *v.rflText == core::blankText ? *v.rflText
                                            : *v.rflText + " " + unitLabel(v.rfl.annunciatorKey))
        << "  (unit " << core::unitName(v.rfl.unit) << ", decimals " << v.rfl.decimals
        << ", over range " << yesNo(v.rflOverRange) << ", Over Range lit " << yesNo(v.rflOverLit)
        << ")\n";
  } else {
    out << "  reflected: (not shown for " << core::measTypeName(o.type) << ")\n";
  }

  // The reflected figures in every form, whatever the selected unit.
  const PowerUnit powerUnit = core::isPowerUnit(o.rflUnit) ? o.rflUnit : PowerUnit::AutoW;
  const core::OffsetPowers p = core::applyOffset(o.type, o.offsetDb, r.selectedPower, r.rflPower);
  const core::RangedValue rp = core::powerInUnit(powerUnit, p.reflected);
  out << "  reflection: power "
      << numberText(rp.value, core::displayDecimals(rp.unit, o.offsetDb, s.rflFullScale)) << ' '
      << unitLabel(rp.unit) << ", rho " << numberText(v.rho, 3) << ", VSWR "
      << numberText(v.vswr, 3) << ", return loss " << numberText(v.returnLoss, 2) << " dB\n";

  out << "  bar:       " << v.bar << " %  (" << numberText(v.barPercent, 1)
      << " % of full scale)\n";
  if (!v.offsetText.empty()) out << "  offset:    " << v.offsetText << '\n';
  if (!v.ccdfLimitText.empty()) out << "  ccdf limit: " << v.ccdfLimitText << '\n';
  if (!v.dutyText.empty()) out << "  duty:      " << v.dutyText << " %\n";
}

}  // namespace

std::string decodeUsage() {
  return "Usage: zrq-decode [OPTIONS] FILE\n"
         "Decodes sensor data strings, one per line (a whole data line \"D...\\r\" is\n"
         "accepted too), and prints what the front panel would show for each.\n"
         "FILE \"-\" reads standard input. Blank lines and lines starting with '#' are\n"
         "skipped. The reading is kept from line to line, as the panel keeps it.\n"
         "\n"
         "Options:\n"
         "  --type TYPE        selected measurement type: average, peak, burst, crest,\n"
         "                     ccdf, or its code 1..5 (default average). A line whose\n"
         "                     reported type differs shows as a type mismatch.\n"
         "  --fwd-unit UNIT    forward unit: dBm, AutoW (default), uW, mW, W, KW\n"
         "  --rfl-unit UNIT    reflected unit: Rho, VSWR, ReturnLoss, dBm, AutoW (default)\n"
         "  --offset DB        power offset in dB, 0 to 100 (default 0)\n"
         "  --full-scale W     forward full scale of the sensor in watts (default 150);\n"
         "                     the reflected full scale is a tenth of it\n"
         "  --version          show the version\n"
         "  --help             show this text\n"
         "\n"
         "Exit status: 0 when the input was read to its end (bad lines are reported\n"
         "and skipped), 1 when it cannot be read, 2 for wrong options.\n";
}

bool parseDecodeOptions(const std::vector<std::string>& args, DecodeOptions& o,
                        std::string& error) {
  bool haveInput = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i], value;
    const std::string name = a.substr(0, a.find('='));
    const bool hasValue = name == "--type" || name == "--fwd-unit" || name == "--rfl-unit" ||
                          name == "--offset" || name == "--full-scale";
    if (hasValue) {
      const auto eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        error = "option " + a + " needs a value";
        return false;
      }
    }
    double number = 0;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--type") {
      if (!parseType(value, o.type)) return fail(error, "unknown measurement type '" + value + "'");
    } else if (a == "--fwd-unit") {
      PowerUnit u;
      if (!core::parseUnitName(value, u) ||
          !(core::isPowerUnit(u) || u == PowerUnit::uW || u == PowerUnit::mW || u == PowerUnit::W ||
            u == PowerUnit::KW))
        return fail(error, "not a forward unit: '" + value + "'");
      o.fwdUnit = u;
    } else if (a == "--rfl-unit") {
      PowerUnit u;
      if (!core::parseUnitName(value, u) ||
          std::find(core::reflectedUnitCycle.begin(), core::reflectedUnitCycle.end(), u) ==
              core::reflectedUnitCycle.end())
        return fail(error, "not a reflected unit: '" + value + "'");
      o.rflUnit = u;
    } else if (a == "--offset") {
      if (!parseNumber(value, number) || number < 0 || number > 100)
        return fail(error, "offset must be a number from 0 to 100, not '" + value + "'");
      o.offsetDb = number;
    } else if (a == "--full-scale") {
      if (!parseNumber(value, number) || !(number > 0) || number > 1e9)
        return fail(error, "full scale must be a positive number of watts, not '" + value + "'");
      o.fullScale = number;
    } else if (a.size() > 1 && a[0] == '-') {
      return fail(error, "unknown option " + a);
    } else {
      if (haveInput) return fail(error, "only one input file may be given");
      o.input = a;
      haveInput = true;
    }
  }
  if (!haveInput && !o.help && !o.version)
    return fail(error, "no input file given (use - for standard input)");
  return true;
}

DecodeSummary decodeStream(std::istream& in, const DecodeOptions& o, std::ostream& out) {
  DecodeSummary sum;
  core::SensorReading reading;
  core::DecodeInputs inputs;
  inputs.measType = o.type;
  inputs.fwdFullScale = static_cast<float>(o.fullScale);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string_view trimmed = line;
    while (!trimmed.empty() && (trimmed.back() == '\r' || trimmed.back() == '\n'))
      trimmed.remove_suffix(1);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    ++sum.lines;
    const std::string_view text = dataStringOf(trimmed);
    bool settingsChanged = false;
    const core::DecodeResult res = core::decodeDataString(text, inputs, reading, settingsChanged);
    out << "line " << number << ": ";
    if (!res.accepted() && res.outcome != core::DecodeOutcome::TypeMismatch) out << "error: ";
    out << core::decodeOutcomeName(res.outcome);
    switch (res.outcome) {
      case core::DecodeOutcome::Accepted:
        ++sum.accepted;
        out << " (layout " << (res.layout == core::DataStringLayout::A ? "A" : "B") << ", "
            << core::measTypeName(o.type) << ", scale code " << int(reading.scaleCode)
            << ", temperature " << numberText(reading.temperature, 2) << " C)\n";
        printPanel(reading, o, out);
        break;
      case core::DecodeOutcome::TypeMismatch:
        ++sum.mismatched;
        out << ": the sensor reports type " << reading.reportedType << ", the panel selects "
            << core::measTypeCode(o.type) << " (" << core::measTypeName(o.type)
            << "); the settings would be sent again, the display keeps its values\n";
        break;
      case core::DecodeOutcome::ConversionError:
        ++sum.failed;
        out << ": " << res.errorText << "\n  in: " << printable(text) << '\n';
        break;
      case core::DecodeOutcome::Unusable:
        ++sum.failed;
        out << ": "
            << (text.empty() ? "empty data string" : "the data string does not start with a comma")
            << "; the stream would be restarted\n  in: " << printable(text) << '\n';
        break;
      case core::DecodeOutcome::Ignored:
        ++sum.failed;
        out << ": end marker \",,\" ";
        if (auto at = core::endMarkerPosition(text))
          out << "at position " << at;
        else
          out << "missing";
        out << ", expected at 116 (layout A) or 119 (layout B); the line is skipped\n  in: "
            << printable(text) << '\n';
        break;
    }
  }
  out << sum.lines << " data strings: " << sum.accepted << " accepted, " << sum.mismatched
      << " type mismatch, " << sum.failed << " not usable\n";
  return sum;
}

int runDecodeTool(const std::vector<std::string>& args, std::istream& stdIn, std::ostream& out,
                  std::ostream& err) {
  DecodeOptions o;
  std::string error;
  if (!parseDecodeOptions(args, o, error)) {
    err << "zrq-decode: " << error << "\n\n" << decodeUsage();
    return 2;
  }
  if (o.help) {
    out << decodeUsage();
    return 0;
  }
  if (o.version) {
    out << "zrq-decode " << frame::kVersionText << "\n";
    return 0;
  }
  if (o.input == "-") {
    decodeStream(stdIn, o, out);
    return stdIn.bad() ? 1 : 0;
  }
  std::ifstream file(o.input, std::ios::binary);
  if (!file) {
    err << "zrq-decode: cannot open '" << o.input << "'\n";
    return 1;
  }
  decodeStream(file, o, out);
  if (file.bad()) {
    err << "zrq-decode: read error in '" << o.input << "'\n";
    return 1;
  }
  return 0;
}

}  // namespace zrq::tools
