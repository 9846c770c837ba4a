// A list of "number=text" lines plus an optional text file of more such lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HelpConsts.h"

namespace hb {

// The text of the line that maps `number`, if the line does: the line is
// trimmed, its first "=" becomes a blank, the text before the first blank must
// be the number's decimal text; the rest, trimmed, is the answer. An empty
// answer counts as no match.
HB_API std::optional<std::string> matchTopicLine(std::string_view line, long number);
// The first line of `lines` that maps `number`.
HB_API std::optional<std::string> findTopic(const std::vector<std::string>& lines, long number);
// Splits a file's bytes into lines (LF, CR LF or CR endings).
HB_API std::vector<std::string> splitLines(std::string_view text);
// Trims the blanks and control characters at both ends.
HB_API std::string trimBlanks(std::string_view s);
// The default text file beside a help file: the name with ".chm" (any case)
// and everything after it removed, then "." and the extension.
HB_API std::string defaultTopicFile(const std::string& helpFile, const std::string& extension);

// The largest topic text file read (bytes).
inline constexpr long kMaxTextFileBytes = 1 << 20;

class HB_API ThbHHTopics {
 public:
  explicit ThbHHTopics(std::string defaultExtension)
      : defaultExtension_(std::move(defaultExtension)) {}

  std::vector<std::string> Strings;
  // Empty: the default text file beside the help file.
  std::string TextFile;

  const std::string& defaultExtension() const { return defaultExtension_; }
  // The file whose lines are searched after Strings for that help file.
  std::string textFileFor(const std::string& helpFile) const;

  // Strings first, then (when `useFile`) the text file, loaded once. `error`
  // receives a message when the file exists but cannot be read.
  std::optional<std::string> find(long number, const std::string& helpFile, bool useFile,
                                  std::string* error = nullptr);
  std::optional<std::string> findInStrings(long number) const;
  // Loads the text file's lines now, once; false with a message on failure.
  bool loadFile(const std::string& path, std::string* error);
  bool fileLoaded() const { return loaded_; }
  const std::vector<std::string>& fileLines() const { return fileLines_; }
  void unloadFile();

 private:
  std::string defaultExtension_;
  bool loaded_ = false;
  std::string loadedPath_;
  std::vector<std::string> fileLines_;
};

}  // namespace hb
