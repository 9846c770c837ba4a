// The contents/index file parser and the page text the search reads, on any
// bytes: no crash, no runaway nesting, and plain text never holds a tag.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string_view>

#include "Sitemap.h"
#include "TopicIndex.h"

namespace {
void check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto entries = hhc::parseSitemap(text);
  std::function<size_t(const std::vector<hhc::SitemapEntry>&)> depth =
      [&](const std::vector<hhc::SitemapEntry>& list) -> size_t {
    size_t d = 0;
    for (const auto& e : list) {
      check(!e.name.empty() || !e.local.empty());
      if (!e.local.empty()) check(!e.targets.empty());
      d = std::max(d, 1 + depth(e.children));
    }
    return d;
  };
  check(depth(entries) <= 33);
  hhc::TopicIndex idx;
  idx.add("/fuzz.htm", text);
  for (const auto& w : hhc::TopicIndex::words(hhc::TopicIndex::plainText(text)))
    check(!idx.search(w).empty());
  if (text.find('&') == std::string_view::npos) check(hhc::decodeEntities(text) == text);
  return 0;
}
