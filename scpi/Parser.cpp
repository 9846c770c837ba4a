#include "scpi/Parser.h"

#include <charconv>
#include <cmath>

namespace zrq::scpi {

namespace {

bool isWs(char c) { return c == ' ' || c == '\t'; }
bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char toUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
// 488.2 allows 7-bit printable characters and white space outside strings.
bool isValid(char c) {
  auto u = static_cast<unsigned char>(c);
  return isWs(c) || (u >= 0x20 && u < 0x7f);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isWs(s.front())) s.remove_prefix(1);
  while (!s.empty() && isWs(s.back())) s.remove_suffix(1);
  return s;
}

ParseError err(int code, std::string detail = {}) { return ParseError{code, std::move(detail)}; }

// One parameter, already trimmed and known not to contain a separator.
std::optional<ParseError> parseParam(std::string_view t, Param* p) {
  if (t.empty()) return err(-102, "empty parameter");
  if (t[0] == '"' || t[0] == '\'') {
    const char q = t[0];
    std::size_t i = 1;
    p->kind = Param::Kind::String;
    for (;;) {
      if (i >= t.size()) return err(-150, "unterminated string");
      if (t[i] == q) {
        if (i + 1 < t.size() && t[i + 1] == q) {
          p->text += q;
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      p->text += t[i++];
    }
    if (i != t.size()) return err(-103);
    return std::nullopt;
  }
  if (isAlpha(t[0])) {
    std::size_t i = 0;
    while (i < t.size() && (isAlpha(t[i]) || isDigit(t[i]) || t[i] == '_')) ++i;
    p->kind = Param::Kind::Char;
    p->text = upper(t.substr(0, i));
    if (i != t.size()) return err(isWs(t[i]) || t[i] == '"' || t[i] == '\'' ? -103 : -141);
    return std::nullopt;
  }
  if (isDigit(t[0]) || t[0] == '+' || t[0] == '-' || t[0] == '.') {
    // <mantissa>[<ws>*E<ws>*<exponent>] then [<ws>*<suffix>].
    std::string clean;
    std::size_t i = 0;
    if (t[i] == '+' || t[i] == '-') clean += t[i++];
    std::size_t digits = 0;
    while (i < t.size() && isDigit(t[i])) clean += t[i++], ++digits;
    if (i < t.size() && t[i] == '.') {
      clean += t[i++];
      while (i < t.size() && isDigit(t[i])) clean += t[i++], ++digits;
    }
    if (digits == 0) return err(-120, "no digits");
    std::size_t j = i;
    while (j < t.size() && isWs(t[j])) ++j;
    if (j < t.size() && (t[j] == 'E' || t[j] == 'e')) {
      std::size_t k = j + 1;
      while (k < t.size() && isWs(t[k])) ++k;
      std::string exp = "e";
      if (k < t.size() && (t[k] == '+' || t[k] == '-')) exp += t[k++];
      std::size_t expDigits = 0;
      while (k < t.size() && isDigit(t[k])) exp += t[k++], ++expDigits;
      if (expDigits > 0) {  // else the E starts a suffix (e.g. none yet; -131 later)
        clean += exp;
        i = k;
      }
    }
    if (clean[0] == '+') clean.erase(0, 1);
    double v = 0;
    auto [ptr, ec] = std::from_chars(clean.data(), clean.data() + clean.size(), v);
    if (ec != std::errc() || ptr != clean.data() + clean.size() || !std::isfinite(v))
      return err(-120, "number out of range");
    p->kind = Param::Kind::Numeric;
    p->value = v;
    const std::size_t end = i;
    while (i < t.size() && isWs(t[i])) ++i;
    const std::size_t s = i;
    if (i < t.size() && isAlpha(t[i]))
      while (i < t.size() && (isAlpha(t[i]) || t[i] == '/' || t[i] == '.' || isDigit(t[i]))) ++i;
    p->text = upper(t.substr(s, i - s));
    if (i != t.size()) return err(i == end && (t[i] == '.' || isDigit(t[i])) ? -120 : -103);
    return std::nullopt;
  }
  if (t[0] == '#') return err(-104, "non-decimal and block data are not accepted");
  return err(-102, "unexpected character");
}

}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (toUpper(a[i]) != toUpper(b[i])) return false;
  return true;
}

std::string upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = toUpper(c);
  return r;
}

std::vector<std::string_view> splitUnits(std::string_view line) {
  std::vector<std::string_view> units;
  char quote = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i < line.size()) {
      const char c = line[i];
      if (quote) {
        if (c == quote) quote = 0;  // a doubled quote closes and reopens
        continue;
      }
      if (c == '"' || c == '\'') quote = c;
      if (c != ';') continue;
    }
    std::string_view u = trim(line.substr(start, i - start));
    if (!u.empty()) units.push_back(u);
    start = i + 1;
  }
  return units;
}

std::optional<ParseError> parseUnit(std::string_view text, ParsedUnit* out) {
  *out = ParsedUnit{};
  text = trim(text);
  // Invalid bytes outside strings (NUL, 0xFF, control characters).
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (!isValid(c)) {
      return err(-101);
    }
  }
  std::size_t i = 0;
  if (i < text.size() && text[i] == '*') {
    out->common = true;
    ++i;
  } else if (i < text.size() && text[i] == ':') {
    out->root = true;
    ++i;
  }
  for (;;) {
    std::size_t s = i;
    if (i >= text.size() || !isAlpha(text[i])) return err(-102, "header expected");
    while (i < text.size() && (isAlpha(text[i]) || isDigit(text[i]) || text[i] == '_')) ++i;
    Mnemonic m;
    std::size_t e = i;
    while (e > s && isDigit(text[e - 1])) --e;
    m.name = std::string(text.substr(s, e - s));
    if (e < i) {
      if (i - e > 6) return err(-114);
      m.suffix = std::stoi(std::string(text.substr(e, i - e)));
    }
    out->header.push_back(std::move(m));
    if (i < text.size() && text[i] == ':' && !out->common) {
      ++i;
      continue;
    }
    break;
  }
  if (i < text.size() && text[i] == '?') {
    out->query = true;
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  if (!isWs(text[i])) return err(text[i] == ',' ? -103 : -102, "after the header");
  std::string_view rest = trim(text.substr(i));
  // Parameters, split at ',' outside quotes.
  quote = 0;
  std::size_t start = 0;
  for (std::size_t k = 0; k <= rest.size(); ++k) {
    if (k < rest.size()) {
      const char c = rest[k];
      if (quote) {
        if (c == quote) quote = 0;
        continue;
      }
      if (c == '"' || c == '\'') quote = c;
      if (c != ',') continue;
    }
    Param p;
    if (auto e = parseParam(trim(rest.substr(start, k - start)), &p)) return e;
    out->params.push_back(std::move(p));
    start = k + 1;
  }
  return std::nullopt;
}

std::vector<PatternNode> parsePattern(std::string_view pattern) {
  std::vector<PatternNode> nodes;
  bool optional = false;
  PatternNode cur;
  auto flush = [&] {
    if (!cur.longName.empty()) {
      cur.optional = optional;
      nodes.push_back(cur);
    }
    cur = PatternNode{};
  };
  for (char c : pattern) {
    if (c == '[') {
      flush();
      optional = true;
    } else if (c == ']') {
      flush();
      optional = false;
    } else if (c == ':') {
      flush();
    } else if (c == '#') {
      cur.suffix = true;
    } else if (c != '?') {
      cur.longName += toUpper(c);
      if (!(c >= 'a' && c <= 'z')) cur.shortName += c;
    }
  }
  flush();
  return nodes;
}

namespace {

Match matchFrom(const std::vector<PatternNode>& p, std::size_t pi, const std::vector<Mnemonic>& h,
                std::size_t hi, bool seenHash, int maxChannel, int* channel, bool* badSuffix) {
  if (pi == p.size()) return hi == h.size() ? Match::Yes : Match::No;
  const PatternNode& n = p[pi];
  // The pattern's first '#' node is the channel: 1..maxChannel; any other only 1.
  const bool channelNode = n.suffix && !seenHash;
  const bool seen = seenHash || n.suffix;
  if (hi < h.size() &&
      (equalsNoCase(h[hi].name, n.shortName) || equalsNoCase(h[hi].name, n.longName))) {
    const int s = h[hi].suffix;
    const int most = channelNode ? maxChannel : 1;
    if (s == -1 || (n.suffix && s >= 1 && s <= most)) {
      if (matchFrom(p, pi + 1, h, hi + 1, seen, maxChannel, channel, badSuffix) == Match::Yes) {
        if (channelNode && channel) *channel = s == -1 ? 1 : s;
        return Match::Yes;
      }
    } else {
      *badSuffix = true;
    }
  }
  if (n.optional) return matchFrom(p, pi + 1, h, hi, seen, maxChannel, channel, badSuffix);
  return Match::No;
}

}  // namespace

Match matchHeader(const std::vector<PatternNode>& pattern, const std::vector<Mnemonic>& header,
                  int maxChannel, int* channel) {
  bool bad = false;
  if (channel) *channel = 1;
  if (matchFrom(pattern, 0, header, 0, false, maxChannel, channel, &bad) == Match::Yes)
    return Match::Yes;
  return bad ? Match::BadSuffix : Match::No;
}

std::optional<ParseError> applySuffix(UnitKind kind, const Param& p, double* out) {
  *out = p.value;
  const std::string& s = p.text;
  if (s.empty()) return std::nullopt;
  if (kind == UnitKind::None) return err(-138);
  // The multipliers of IEEE 488.2 7.7.3.3; a lone M is milli, MA is mega.
  auto multiplier = [](std::string_view m, double* f) {
    static const struct {
      const char* name;
      double factor;
    } k[] = {{"", 1},      {"EX", 1e18}, {"PE", 1e15}, {"T", 1e12}, {"G", 1e9},
             {"MA", 1e6},  {"K", 1e3},   {"M", 1e-3},  {"U", 1e-6}, {"N", 1e-9},
             {"P", 1e-12}, {"F", 1e-15}, {"A", 1e-18}};
    for (const auto& e : k)
      if (m == e.name) return *f = e.factor, true;
    return false;
  };
  auto withUnit = [&](std::string_view unit) -> bool {
    if (s.size() < unit.size() || s.compare(s.size() - unit.size(), unit.size(), unit) != 0)
      return false;
    double f = 1;
    if (!multiplier(std::string_view(s).substr(0, s.size() - unit.size()), &f)) return false;
    *out = p.value * f;
    return true;
  };
  switch (kind) {
    case UnitKind::Db:
      if (s == "DB") return std::nullopt;
      break;
    case UnitKind::Power:
      if (s == "DBM") {
        *out = std::pow(10.0, p.value / 10.0) / 1000.0;
        return std::nullopt;
      }
      if (withUnit("W")) return std::nullopt;
      break;
    case UnitKind::Freq:
      if (s == "MHZ") {
        *out = p.value * 1e6;
        return std::nullopt;
      }
      if (withUnit("HZ")) return std::nullopt;
      break;
    case UnitKind::None:
      break;
  }
  return err(-131, s);
}

std::string formatNumber(double v) {
  if (std::isnan(v)) return "9.910000E+37";  // SCPI's NaN
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 6);
  std::string s(buf, r.ptr);
  for (char& c : s)
    if (c == 'e') c = 'E';
  return s;
}

}  // namespace zrq::scpi
