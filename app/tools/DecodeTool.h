// zrq-decode: shows what the front panel would show for captured data strings.
// Kept apart from main() so the tests run it in-process.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "core/MeasType.h"
#include "core/PowerUnit.h"

namespace zrq::tools {

struct DecodeOptions {
  core::MeasType type = core::MeasType::Average;
  core::PowerUnit fwdUnit = core::PowerUnit::AutoW;
  core::PowerUnit rflUnit = core::PowerUnit::AutoW;
  double offsetDb = 0;
  double fullScale = 150;  // forward, W; the reflected full scale is a tenth
  std::string input;       // file name, "-" for standard input
  bool help = false;
  bool version = false;
};

// Parses argv[1..]. On failure returns false with a message in `error`.
bool parseDecodeOptions(const std::vector<std::string>& args, DecodeOptions& out,
                        std::string& error);

std::string decodeUsage();

struct DecodeSummary {
  int lines = 0;  // data lines seen (comments and blank lines excluded)
  int accepted = 0;
  int failed = 0;  // unusable, ignored or with a conversion error
  int mismatched = 0;
};

// Decodes every line of `in` with one reading kept across lines, as the panel
// keeps it, and writes one block per line to `out`. Never stops at a bad line.
DecodeSummary decodeStream(std::istream& in, const DecodeOptions& options, std::ostream& out);

// The whole program: options, input, output. Returns the exit status:
// 0 input read to its end, 1 input unreadable, 2 bad usage.
int runDecodeTool(const std::vector<std::string>& args, std::istream& stdIn, std::ostream& out,
                  std::ostream& err);

}  // namespace zrq::tools
