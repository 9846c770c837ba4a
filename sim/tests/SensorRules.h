#pragma once
// The host's rules for judging what the sensor sends, written independently of
// the simulator so the tests check the sensor against the application's view.

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simtest {

inline std::string strip(std::string_view s) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

// 1-based position helpers as the reply rules state them.
inline std::string at(const std::string& s, size_t pos1, size_t n) {
  return pos1 >= 1 && pos1 - 1 < s.size() ? s.substr(pos1 - 1, n) : std::string();
}
inline size_t firstComma(const std::string& s) { return s.find(',') + 1; }

inline bool toNumber(const std::string& text, double& v) {
  const std::string t = strip(text);
  const char* b = t.data();
  if (!t.empty() && t[0] == '+') ++b;  // the host accepts a leading sign
  auto r = std::from_chars(b, t.data() + t.size(), v);
  return !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size();
}

// Interrogation: "7" first, positions 22-24 not "Not", version text normalised
// through a number and compared as text with "1.2".
inline bool interrogationAccepted(const std::string& r, std::string* version = nullptr) {
  if (strip(r).empty() || strip(r)[0] != '7') return false;
  if (strip(at(r, 22, 3)) == "Not") return false;
  double v;
  if (!toNumber(at(r, firstComma(r) + 12, 4), v)) return false;
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  std::string text(buf, res.ptr);
  if (version) *version = text;
  return text > "1.2";
}

inline bool calibrationAcked(const std::string& r) {
  return !r.empty() && r[0] == 'F' && at(r, firstComma(r) + 1, 3) == "ACK";
}
inline bool settingsAcked(const std::string& r) {
  return !r.empty() && r[0] == 'G' && at(r, firstComma(r) + 13, 3) == "ACK";
}
inline std::string zeroResultCode(const std::string& r) {
  return strip(at(r, firstComma(r) + 1, 2));
}
inline std::string serialNumberOf(const std::string& r) {
  return r.size() < 4 ? std::string() : r.substr(2, r.size() - 4);
}

// Checks the column layout of a data string (without "D" and CR) and returns
// the eleven fields, or nothing with the reason in why.
inline std::optional<std::vector<std::string>> dataFields(const std::string& s, char layout,
                                                          std::string& why) {
  const size_t end = s.find(",,") + 1;
  const size_t expect = layout == 'A' ? 116 : 119;
  if (end != expect) {
    why = "end marker at " + std::to_string(end);
    return std::nullopt;
  }
  std::vector<size_t> commas = {1, 13, 26, 38, 50, 62, 74};
  if (layout == 'A')
    commas.insert(commas.end(), {77, 80, 92, 104});
  else
    commas.insert(commas.end(), {77, 80, 83, 95, 107});
  for (size_t c : commas)
    if (at(s, c, 1) != ",") {
      why = "no comma at " + std::to_string(c);
      return std::nullopt;
    }
  const size_t sh = layout == 'B' ? 3 : 0;
  return std::vector<std::string>{at(s, 2, 11),       at(s, 14, 12),      at(s, 27, 11),
                                  at(s, 39, 11),      at(s, 51, 11),      at(s, 63, 11),
                                  at(s, 75 + sh, 2),  at(s, 78 + sh, 2),  at(s, 81 + sh, 11),
                                  at(s, 93 + sh, 11), at(s, 105 + sh, 11)};
}

}  // namespace simtest
