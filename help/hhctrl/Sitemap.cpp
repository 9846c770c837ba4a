#include "Sitemap.h"

#include <cctype>
#include <cstdlib>

namespace hhc {

namespace {

constexpr size_t kMaxDepth = 32;

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

void appendUtf8(std::string& out, unsigned long cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A tag's name and its attributes.
struct Tag {
  std::string name;
  bool closing = false;
  std::vector<std::pair<std::string, std::string>> attrs;
};

Tag parseTag(std::string_view body) {
  Tag t;
  size_t i = 0;
  if (i < body.size() && body[i] == '/') {
    t.closing = true;
    ++i;
  }
  while (i < body.size() && !std::isspace(static_cast<unsigned char>(body[i])) && body[i] != '/')
    t.name += static_cast<char>(std::tolower(static_cast<unsigned char>(body[i++])));
  while (i < body.size()) {
    while (i < body.size() && (std::isspace(static_cast<unsigned char>(body[i])) || body[i] == '/'))
      ++i;
    std::string key;
    while (i < body.size() && body[i] != '=' &&
           !std::isspace(static_cast<unsigned char>(body[i])) && body[i] != '/')
      key += static_cast<char>(std::tolower(static_cast<unsigned char>(body[i++])));
    while (i < body.size() && std::isspace(static_cast<unsigned char>(body[i]))) ++i;
    std::string value;
    if (i < body.size() && body[i] == '=') {
      ++i;
      while (i < body.size() && std::isspace(static_cast<unsigned char>(body[i]))) ++i;
      if (i < body.size() && (body[i] == '"' || body[i] == '\'')) {
        const char q = body[i++];
        const size_t end = body.find(q, i);
        const size_t stop = end == std::string_view::npos ? body.size() : end;
        value = decodeEntities(body.substr(i, stop - i));
        i = stop + 1;
      } else {
        const size_t start = i;
        while (i < body.size() && !std::isspace(static_cast<unsigned char>(body[i]))) ++i;
        value = decodeEntities(body.substr(start, i - start));
      }
    }
    if (!key.empty()) t.attrs.emplace_back(std::move(key), std::move(value));
  }
  return t;
}

std::string attr(const Tag& t, std::string_view key) {
  for (const auto& [k, v] : t.attrs)
    if (k == key) return v;
  return {};
}

}  // namespace

std::string decodeEntities(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') {
      out += s[i];
      continue;
    }
    const size_t semi = s.find(';', i);
    if (semi == std::string_view::npos || semi - i > 10) {
      out += '&';
      continue;
    }
    const std::string_view ent = s.substr(i + 1, semi - i - 1);
    static const std::pair<const char*, unsigned long> named[] = {
        {"amp", '&'},     {"lt", '<'},        {"gt", '>'},       {"quot", '"'},
        {"apos", '\''},   {"nbsp", 0xA0},     {"micro", 0xB5},   {"deg", 0xB0},
        {"copy", 0xA9},   {"reg", 0xAE},      {"plusmn", 0xB1},  {"times", 0xD7},
        {"middot", 0xB7}, {"ndash", 0x2013},  {"mdash", 0x2014}, {"rarr", 0x2192},
        {"larr", 0x2190}, {"hellip", 0x2026}, {"le", 0x2264},    {"ge", 0x2265},
        {"Omega", 0x3A9}, {"rho", 0x3C1},     {"mu", 0x3BC}};
    bool done = false;
    if (!ent.empty() && ent[0] == '#') {
      const bool hex = ent.size() > 1 && (ent[1] == 'x' || ent[1] == 'X');
      const std::string digits(ent.substr(hex ? 2 : 1));
      if (!digits.empty() && digits.size() <= 7) {
        char* end = nullptr;
        const unsigned long cp = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
        if (end && *end == '\0') {
          appendUtf8(out, cp);
          done = true;
        }
      }
    } else {
      for (const auto& [n, cp] : named)
        if (ent == n) {
          appendUtf8(out, cp);
          done = true;
          break;
        }
    }
    if (done) {
      i = semi;
    } else {
      out += '&';
    }
  }
  return out;
}

std::vector<SitemapEntry> parseSitemap(std::string_view html) {
  std::vector<SitemapEntry> root;
  std::vector<std::vector<SitemapEntry>*> stack{&root};
  // Per open list: whether it opened a level (a list right after an entry)
  // or only wraps entries of the current one (the outermost list, or too deep).
  std::vector<bool> opened;
  bool inObject = false;
  SitemapEntry cur;
  std::string pendingTitle;
  size_t i = 0;
  while ((i = html.find('<', i)) != std::string_view::npos) {
    if (html.substr(i, 4) == "<!--") {
      const size_t end = html.find("-->", i + 4);
      if (end == std::string_view::npos) break;
      i = end + 3;
      continue;
    }
    const size_t close = html.find('>', i + 1);
    if (close == std::string_view::npos) break;
    const Tag tag = parseTag(html.substr(i + 1, close - i - 1));
    i = close + 1;
    if (tag.name == "ul") {
      if (!tag.closing) {
        auto* list = stack.back();
        const bool level = !list->empty() && stack.size() < kMaxDepth && !opened.empty();
        if (level) stack.push_back(&list->back().children);
        opened.push_back(level);
      } else if (!opened.empty()) {
        if (opened.back() && stack.size() > 1) stack.pop_back();
        opened.pop_back();
      }
    } else if (tag.name == "object") {
      if (!tag.closing) {
        inObject = iequals(attr(tag, "type"), "text/sitemap");
        cur = SitemapEntry{};
        pendingTitle.clear();
      } else if (inObject) {
        inObject = false;
        if (!cur.name.empty() || !cur.local.empty()) stack.back()->push_back(std::move(cur));
        cur = SitemapEntry{};
      }
    } else if (tag.name == "param" && inObject) {
      const std::string key = attr(tag, "name");
      const std::string value = attr(tag, "value");
      if (iequals(key, "Name")) {
        if (cur.name.empty()) {
          cur.name = value;
        } else {
          pendingTitle = value;
        }
      } else if (iequals(key, "Local")) {
        if (cur.local.empty()) cur.local = value;
        cur.targets.emplace_back(pendingTitle.empty() ? cur.name : pendingTitle, value);
        pendingTitle.clear();
      }
    }
  }
  return root;
}

}  // namespace hhc
