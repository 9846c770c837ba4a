// The IEEE 488.2 / SCPI syntax layer: splits a program message into units,
// parses one unit's header and parameters, matches headers against table
// patterns, and converts numeric suffixes. No state, no instrument.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zrq::scpi {

struct Mnemonic {
  std::string name;  // as typed, without its numeric suffix
  int suffix = -1;   // -1: none typed
};

struct Param {
  enum class Kind { Numeric, Char, String } kind = Kind::Numeric;
  double value = 0;  // Numeric: the number before its suffix
  std::string text;  // Numeric: suffix (upper case); Char: upper case; String: contents
};

struct ParsedUnit {
  bool common = false;  // *XXX
  bool root = false;    // leading ':'
  bool query = false;
  std::vector<Mnemonic> header;
  std::vector<Param> params;
};

struct ParseError {
  int code = 0;
  std::string detail;
};

// Program message units of one line (LF and a trailing CR already removed),
// split at ';' outside quotes; units that are only white space are dropped.
std::vector<std::string_view> splitUnits(std::string_view line);
std::optional<ParseError> parseUnit(std::string_view text, ParsedUnit* out);

// A table header such as "[SENSe#:]CORRection:OFFSet[:MAGNitude]": upper case
// letters are the short form, [..] an optional node, '#' a node that takes
// the numeric suffix 1.
struct PatternNode {
  std::string longName, shortName;  // both upper case
  bool optional = false, suffix = false;
};
std::vector<PatternNode> parsePattern(std::string_view pattern);

enum class Match { Yes, No, BadSuffix };
// The pattern's first '#' node carries the channel (1..maxChannel, 1 when
// not typed), given in *channel; any other '#' node takes only 1.
Match matchHeader(const std::vector<PatternNode>& pattern, const std::vector<Mnemonic>& header,
                  int maxChannel = 1, int* channel = nullptr);

// Which suffixes a numeric parameter takes: none, DB, a power (W with
// multipliers, or DBM) or a frequency (HZ with multipliers, MHZ = mega).
enum class UnitKind { None, Db, Power, Freq };
// The value in the base unit (dB, W, Hz); -131 or -138 on a bad suffix.
std::optional<ParseError> applySuffix(UnitKind kind, const Param& p, double* out);

// NR3 the way every reply gives a number: 1.234567E+01, locale-free.
std::string formatNumber(double v);
bool equalsNoCase(std::string_view a, std::string_view b);
std::string upper(std::string_view s);

}  // namespace zrq::scpi
