#pragma once
// A forward power that steps at given times after the stream starts, so that
// limit crossings can be driven end to end.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tks7730sim {

struct PowerStep {
  int64_t ms = 0;    // after the first start of the stream
  double watts = 0;  // forward average power from then on
};

// One step per line, "MS WATTS" (blanks or tabs between); '#' starts a
// comment, blank lines are skipped. The steps come back sorted by time (equal
// times keep their order: the last one wins). False with the line named in
// error for anything else.
bool parsePowerScript(std::string_view text, std::vector<PowerStep>& out, std::string& error);

// The power in force `sinceStreamMs` after the stream started: that of the
// last step at or before it, or nothing before the first step.
std::optional<double> powerAt(const std::vector<PowerStep>& steps, int64_t sinceStreamMs);

}  // namespace tks7730sim
