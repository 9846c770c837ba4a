#include "ValueText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

namespace zrq::meter {

namespace {

[[noreturn]] void bad(const PropInfo& info, std::string_view text, const char* why) {
  throw MeterError("bad value \"" + std::string(text) + "\" for " + info.name + ": " + why);
}

bool parseDouble(std::string_view s, double& out) {
  if (s.empty()) return false;
  if (s.front() == '+') s.remove_prefix(1);
  // from_chars takes neither "inf" spelled with a sign nor "+"; keep it to plain numbers and
  // inf/nan.
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && ptr == s.data() + s.size();
}

template <typename T>
bool parseInt(std::string_view s, T& out, int base = 10) {
  if (s.empty()) return false;
  if (s.front() == '+') s.remove_prefix(1);
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return ec == std::errc() && ptr == s.data() + s.size();
}

std::vector<std::string_view> splitCommas(std::string_view s) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t comma = s.find(',', start);
    if (comma == std::string_view::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, comma - start));
    start = comma + 1;
  }
}

FontDesc parseFont(const PropInfo& info, std::string_view text, const PropValue* current) {
  FontDesc f;
  if (current && std::holds_alternative<FontDesc>(*current))
    f.charset = std::get<FontDesc>(*current).charset;
  std::vector<std::string_view> parts = splitCommas(text);
  // Style words come last; the name may itself hold commas.
  while (parts.size() > 3) {
    const std::string_view w = parts.back();
    if (w == "italic")
      f.italic = true;
    else if (w == "underline")
      f.underline = true;
    else if (w == "strikeout")
      f.strikeout = true;
    else
      break;
    parts.pop_back();
  }
  if (parts.size() < 3) bad(info, text, "a font is Name,points,weight");
  double points = 0;
  if (!parseDouble(parts[parts.size() - 2], points) || !(points > 0) ||
      points * 10000.0 > 4294967295.0)
    bad(info, text, "points must be a positive number");
  int weight = 0;
  if (!parseInt(parts.back(), weight) || weight < 0 || weight > 1000)
    bad(info, text, "weight must be 0 to 1000");
  std::string name;
  for (size_t i = 0; i + 2 < parts.size(); ++i) {
    if (i) name += ',';
    name += parts[i];
  }
  if (name.empty()) bad(info, text, "the font needs a name");
  if (name.size() > 255) bad(info, text, "a font name holds at most 255 characters");
  f.name = name;
  f.size = static_cast<uint32_t>(std::llround(points * 10000.0));
  f.weight = static_cast<int16_t>(weight);
  return f;
}

}  // namespace

std::string formatDouble(double d) {
  char buf[64];
  const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, ec == std::errc() ? ptr : buf);
}

std::string formatValue(const PropValue& v) {
  struct Visitor {
    std::string operator()(double d) const { return formatDouble(d); }
    std::string operator()(int16_t s) const { return std::to_string(s); }
    std::string operator()(OleColor c) const {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%06X", static_cast<unsigned>(c.value));
      return buf;
    }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const FontDesc& f) const {
      std::string out = f.name + "," + formatDouble(f.points()) + "," + std::to_string(f.weight);
      if (f.italic) out += ",italic";
      if (f.underline) out += ",underline";
      if (f.strikeout) out += ",strikeout";
      return out;
    }
    std::string operator()(const Picture& p) const {
      return p.empty() ? std::string() : "(picture, " + std::to_string(p.data.size()) + " bytes)";
    }
  };
  return std::visit(Visitor{}, v);
}

PropValue parseValue(const PropInfo& info, std::string_view text, const PropValue* current) {
  switch (info.type) {
    case PropType::Double: {
      double d = 0;
      if (!parseDouble(text, d)) bad(info, text, "not a number");
      return d;
    }
    case PropType::Short: {
      int16_t s = 0;
      if (!parseInt(text, s)) bad(info, text, "not an integer from -32768 to 32767");
      return s;
    }
    case PropType::Color: {
      uint32_t c = 0;
      const bool ok = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')
                          ? parseInt(text.substr(2), c, 16)
                          : parseInt(text, c);
      if (!ok) bad(info, text, "a colour is 0xBBGGRR");
      return OleColor{c};
    }
    case PropType::String:
      return std::string(text);
    case PropType::Font:
      return parseFont(info, text, current);
    case PropType::Picture: {
      Picture pic;
      if (text.empty()) return pic;
      std::ifstream in{std::string(text), std::ios::binary};
      if (!in) bad(info, text, "cannot open the picture file");
      pic.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (in.bad()) bad(info, text, "cannot read the picture file");
      if (pic.data.empty()) bad(info, text, "the picture file is empty");
      return pic;
    }
  }
  bad(info, text, "unknown type");
}

}  // namespace zrq::meter
