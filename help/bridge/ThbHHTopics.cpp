#include "ThbHHTopics.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace hb {

namespace {
bool isBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }
}  // namespace

std::string trimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlankOrControl(s[b])) ++b;
  while (e > b && isBlankOrControl(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::optional<std::string> matchTopicLine(std::string_view line, long number) {
  std::string t = trimBlanks(line);
  if (auto eq = t.find('='); eq != std::string::npos) t[eq] = ' ';
  const auto blank = t.find(' ');
  const std::string key = t.substr(0, blank);
  if (key != std::to_string(number) || blank == std::string::npos) return std::nullopt;
  std::string rest = trimBlanks(std::string_view(t).substr(blank + 1));
  if (rest.empty()) return std::nullopt;
  return rest;
}

std::optional<std::string> findTopic(const std::vector<std::string>& lines, long number) {
  for (const auto& l : lines)
    if (auto m = matchTopicLine(l, number)) return m;
  return std::nullopt;
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || text[i] == '\r') {
      out.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) out.emplace_back(text.substr(start));
  return out;
}

std::string defaultTopicFile(const std::string& helpFile, const std::string& extension) {
  std::string lower = helpFile;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto at = lower.find(".chm");
  return helpFile.substr(0, at) + "." + extension;
}

std::string ThbHHTopics::textFileFor(const std::string& helpFile) const {
  if (!TextFile.empty()) return TextFile;
  return defaultTopicFile(helpFile, defaultExtension_);
}

std::optional<std::string> ThbHHTopics::findInStrings(long number) const {
  return findTopic(Strings, number);
}

void ThbHHTopics::unloadFile() {
  loaded_ = false;
  loadedPath_.clear();
  fileLines_.clear();
}

bool ThbHHTopics::loadFile(const std::string& path, std::string* error) {
  if (loaded_ && loadedPath_ == path) return true;
  unloadFile();
  // Loaded once per file: a failed read is not retried on every request.
  loaded_ = true;
  loadedPath_ = path;
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return true;  // optional file
  if (!S_ISREG(st.st_mode)) {
    if (error) *error = "The help text file \"" + path + "\" is not a regular file.";
    return false;
  }
  // Topic lines are short: a file this large is not one, and reading it
  // whole would hold the caller for minutes.
  if (st.st_size > kMaxTextFileBytes) {
    if (error)
      *error = "The help text file \"" + path + "\" is too large (" + std::to_string(st.st_size) +
               " bytes) to be a topic list.";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error)
      *error = "The help text file \"" + path + "\" cannot be read: " + std::strerror(errno) + ".";
    return false;
  }
  std::ostringstream buf;
  buf << in.rdbuf();
  fileLines_ = splitLines(buf.str());
  return true;
}

std::optional<std::string> ThbHHTopics::find(long number, const std::string& helpFile, bool useFile,
                                             std::string* error) {
  if (auto m = findInStrings(number)) return m;
  if (!useFile) return std::nullopt;
  loadFile(textFileFor(helpFile), error);
  return findTopic(fileLines_, number);
}

}  // namespace hb
