#include "TopicIndex.h"

#include <algorithm>
#include <cctype>

#include "Sitemap.h"

namespace hhc {

namespace {
bool wordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x80 || std::isalnum(u);
}
// Position of `needle` (lower-case) in `hay`, ignoring ASCII case.
size_t ifind(std::string_view hay, std::string_view needle, size_t from) {
  if (needle.empty() || hay.size() < needle.size()) return std::string_view::npos;
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && std::tolower(static_cast<unsigned char>(hay[i + k])) == needle[k])
      ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}
}  // namespace

std::string TopicIndex::plainText(std::string_view html) {
  std::string raw;
  raw.reserve(html.size());
  size_t i = 0;
  while (i < html.size()) {
    if (html[i] != '<') {
      raw += html[i++];
      continue;
    }
    if (html.substr(i, 4) == "<!--") {
      const size_t end = html.find("-->", i + 4);
      i = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    const size_t close = html.find('>', i + 1);
    if (close == std::string_view::npos) break;
    std::string name;
    for (size_t k = i + 1; k < close && (std::isalnum(static_cast<unsigned char>(html[k])) ||
                                         (k == i + 1 && html[k] == '/'));
         ++k)
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[k])));
    i = close + 1;
    if (name == "script" || name == "style" || name == "head") {
      const size_t end = ifind(html, "</" + name, i);
      i = end == std::string_view::npos ? html.size() : end;
      continue;
    }
    // Block-level breaks separate words; inline tags do not.
    static const char* blocks[] = {"p",   "/p",   "br",   "li", "/li", "td",  "/td",  "th", "/th",
                                   "tr",  "div",  "/div", "h1", "/h1", "h2",  "/h2",  "h3", "/h3",
                                   "pre", "/pre", "dt",   "dd", "ul",  "/ul", "table"};
    if (std::find(std::begin(blocks), std::end(blocks), name) != std::end(blocks)) raw += ' ';
  }
  return decodeEntities(raw);
}

std::vector<std::string> TopicIndex::words(std::string_view text) {
  std::vector<std::string> out;
  std::string w;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    // No-break space and the general punctuation block (dashes, quotes,
    // ellipsis) separate words like their ASCII kin.
    const auto u = static_cast<unsigned char>(c);
    size_t skip = 0;
    if (u == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xA0)
      skip = 1;
    if (u == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80)
      skip = 2;
    if (skip) {
      i += skip;
      if (!w.empty()) {
        out.push_back(std::move(w));
        w.clear();
      }
      continue;
    }
    if (wordChar(c)) {
      w += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!w.empty()) {
      out.push_back(std::move(w));
      w.clear();
    }
  }
  if (!w.empty()) out.push_back(std::move(w));
  return out;
}

std::string TopicIndex::titleOf(std::string_view html) {
  const size_t open = ifind(html, "<title", 0);
  if (open == std::string_view::npos) return {};
  const size_t start = html.find('>', open);
  if (start == std::string_view::npos) return {};
  const size_t end = ifind(html, "</title", start);
  if (end == std::string_view::npos) return {};
  std::string t = decodeEntities(html.substr(start + 1, end - start - 1));
  const auto b = t.find_first_not_of(" \t\r\n");
  const auto e = t.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
}

void TopicIndex::add(const std::string& path, std::string_view html) {
  const size_t id = pages_.size();
  std::string title = titleOf(html);
  pages_.push_back({path, title.empty() ? path : title});
  // Title words count as the page's words too.
  for (auto& w : words(title)) {
    auto& list = words_[w];
    if (list.empty() || list.back().page != id) list.push_back({id, 0, true});
  }
  for (auto& w : words(plainText(html))) {
    auto& list = words_[w];
    if (list.empty() || list.back().page != id) list.push_back({id, 0, false});
    ++list.back().count;
  }
}

std::vector<size_t> TopicIndex::search(std::string_view query) const {
  const auto q = words(query);
  if (q.empty()) return {};
  struct Score {
    size_t page;
    unsigned count;
    bool allInTitle;
  };
  std::vector<Score> result;
  bool first = true;
  for (const auto& w : q) {
    auto it = words_.find(w);
    if (it == words_.end()) return {};
    if (first) {
      for (const auto& h : it->second) result.push_back({h.page, h.count, h.inTitle});
      first = false;
      continue;
    }
    // Both lists are in page order.
    std::vector<Score> both;
    auto h = it->second.begin();
    for (const auto& r : result) {
      while (h != it->second.end() && h->page < r.page) ++h;
      if (h != it->second.end() && h->page == r.page)
        both.push_back({r.page, r.count + h->count, r.allInTitle && h->inTitle});
    }
    result.swap(both);
  }
  std::stable_sort(result.begin(), result.end(), [](const Score& a, const Score& b) {
    if (a.allInTitle != b.allInTitle) return a.allInTitle;
    return a.count > b.count;
  });
  std::vector<size_t> pages;
  for (const auto& r : result) pages.push_back(r.page);
  return pages;
}

}  // namespace hhc
