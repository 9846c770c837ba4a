// Full-text search over the pages of a help file: every word of every page,
// lower-cased, mapped to the pages holding it.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hhc {

struct TopicPage {
  std::string path;   // inside the file, with the leading "/"
  std::string title;  // the page's <title>, else its path
};

class TopicIndex {
 public:
  void add(const std::string& path, std::string_view html);
  // Pages holding every word of the query: those whose title holds them all
  // first, then by how often the words occur; ties in the order added.
  std::vector<size_t> search(std::string_view query) const;
  const std::vector<TopicPage>& pages() const { return pages_; }
  size_t wordCount() const { return words_.size(); }

  // The text a reader sees: tags, scripts and styles removed, entities decoded.
  static std::string plainText(std::string_view html);
  // Lower-cased words: runs of letters, digits and non-ASCII characters.
  static std::vector<std::string> words(std::string_view text);
  static std::string titleOf(std::string_view html);

 private:
  std::vector<TopicPage> pages_;
  struct Hit {
    size_t page;
    unsigned count;
    bool inTitle;
  };
  std::unordered_map<std::string, std::vector<Hit>> words_;
};

}  // namespace hhc
