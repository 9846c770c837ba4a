// The contents (.hhc) and index (.hhk) files: nested lists of sitemap objects.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hhc {

struct SitemapEntry {
  std::string name;
  std::string local;  // the first page named
  // Every (title, page) pair of the object; an index keyword may name several.
  std::vector<std::pair<std::string, std::string>> targets;
  std::vector<SitemapEntry> children;
};

// Tolerates any text: unknown tags are skipped, lists nest at most 32 deep.
std::vector<SitemapEntry> parseSitemap(std::string_view html);
// "&amp;" and the other named and numeric character references.
std::string decodeEntities(std::string_view s);

}  // namespace hhc
