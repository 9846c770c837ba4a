// The alias (.ali) and pop-up (.pup) file parser: any bytes as the file's
// text, looked up by the numbers its own lines start with and by a few others.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ThbHHTopics.h"

namespace {
void check(bool ok) {
  if (!ok) std::abort();
}
bool blank(char c) { return static_cast<unsigned char>(c) <= ' '; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto lines = hb::splitLines(text);
  size_t total = 0;
  for (const auto& l : lines) {
    check(l.find('\n') == std::string::npos && l.find('\r') == std::string::npos);
    total += l.size();
  }
  check(total <= size);
  std::vector<long> numbers = {0, 1, 12, -5, 2147483647L};
  for (const auto& l : lines) {
    const std::string t = hb::trimBlanks(l);
    char* end = nullptr;
    const long n = std::strtol(t.c_str(), &end, 10);
    if (end != t.c_str()) numbers.push_back(n);
  }
  for (long n : numbers) {
    auto m = hb::findTopic(lines, n);
    if (!m) continue;
    // A match is never empty nor padded, and some line starts with the number.
    check(!m->empty() && !blank(m->front()) && !blank(m->back()));
    bool found = false;
    for (const auto& l : lines) {
      auto one = hb::matchTopicLine(l, n);
      if (one) {
        check(*one == *m);
        found = true;
        check(hb::trimBlanks(l).rfind(std::to_string(n), 0) == 0);
        break;
      }
    }
    check(found);
  }
  hb::defaultTopicFile(std::string(text.substr(0, 256)), "ali");
  return 0;
}
