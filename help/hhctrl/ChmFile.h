// A compiled HTML help file opened for reading: objects by path, the list of
// files, and the project's contents file, index file and default topic.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct chmFile;

namespace hhc {

// Why a page's bytes cannot be laid out as text, or empty: a damaged file
// decompresses to binary, which a text layout would work on for minutes.
inline constexpr std::size_t kMaxPageBytes = 1 << 20;
std::string pageProblem(std::string_view data);

class ChmFile {
 public:
  ChmFile() = default;
  ~ChmFile();
  ChmFile(const ChmFile&) = delete;
  ChmFile& operator=(const ChmFile&) = delete;

  // False with a message for the user when the file is missing or unusable.
  bool open(const std::string& path, std::string* error);
  void close();
  bool isOpen() const { return h_ != nullptr; }
  const std::string& path() const { return path_; }

  // An object's bytes; `name` with or without the leading "/".
  std::optional<std::string> read(const std::string& name) const;
  bool exists(const std::string& name) const;
  // Every normal file inside, with a leading "/", in the file's own order.
  const std::vector<std::string>& files() const { return files_; }

  // From the file's system record, else guessed from its files.
  const std::string& contentsFile() const { return contents_; }
  const std::string& indexFile() const { return index_; }
  const std::string& defaultTopic() const { return defaultTopic_; }
  const std::string& title() const { return title_; }

 private:
  void readSystem();
  chmFile* h_ = nullptr;
  std::string path_;
  std::vector<std::string> files_;
  std::string contents_, index_, defaultTopic_, title_;
};

// "/a/b/../c.htm" -> "/a/c.htm"; relative parts resolved against `base` (a
// file inside, its folder is used). Never leaves the root.
std::string resolveInside(const std::string& base, const std::string& ref);

}  // namespace hhc
