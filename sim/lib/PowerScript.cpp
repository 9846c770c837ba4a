#include "PowerScript.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tks7730sim {
namespace {

std::string_view nextWord(std::string_view& s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  size_t n = 0;
  while (n < s.size() && !blank(s[n])) ++n;
  std::string_view w = s.substr(0, n);
  s.remove_prefix(n);
  return w;
}

}  // namespace

bool parsePowerScript(std::string_view text, std::vector<PowerStep>& out, std::string& error) {
  std::vector<PowerStep> steps;
  int lineNo = 0;
  while (!text.empty()) {
    ++lineNo;
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (const size_t hash = line.find('#'); hash != std::string_view::npos)
      line = line.substr(0, hash);
    std::string_view a = nextWord(line);
    if (a.empty()) continue;
    std::string_view b = nextWord(line);
    std::string_view rest = nextWord(line);
    PowerStep st;
    auto ra = std::from_chars(a.data(), a.data() + a.size(), st.ms);
    auto rb = std::from_chars(b.data(), b.data() + b.size(), st.watts);
    if (b.empty() || !rest.empty() || ra.ec != std::errc() || ra.ptr != a.data() + a.size() ||
        rb.ec != std::errc() || rb.ptr != b.data() + b.size() || st.ms < 0 ||
        !std::isfinite(st.watts) || st.watts < 0 || st.watts > 1e9) {
      error =
          "line " + std::to_string(lineNo) + ": expected 'MS WATTS' (MS >= 0, 0 <= WATTS <= 1e9)";
      return false;
    }
    steps.push_back(st);
  }
  std::stable_sort(steps.begin(), steps.end(),
                   [](const PowerStep& x, const PowerStep& y) { return x.ms < y.ms; });
  out = std::move(steps);
  return true;
}

std::optional<double> powerAt(const std::vector<PowerStep>& steps, int64_t sinceStreamMs) {
  std::optional<double> w;
  for (const PowerStep& s : steps) {
    if (s.ms > sinceStreamMs) break;
    w = s.watts;
  }
  return w;
}

}  // namespace tks7730sim
