#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DecodeTool.h"

namespace zrq::tools {
namespace {

const char* kLineA =
    ",+9.8700E+01, +2.8310E+01,+1.0000E+02,+1.0000E+00,+1.4120E+02,+0.0000E+00, 1, 9,"
    "+1.2300E-02,+1.4120E+00,+9.9600E+01,,";

struct ToolRun {
  int status;
  std::string out, err;
};

ToolRun run(std::vector<std::string> args, const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out, err;
  int status = runDecodeTool(args, in, out, err);
  return {status, out.str(), err.str()};
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(DecodeTool, ShowsThePanelForAnAcceptedLine) {
  ToolRun r = run({"--rfl-unit", "VSWR", "-"}, std::string(kLineA) + "\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "line 1: accepted (layout A, Average")) << r.out;
  EXPECT_TRUE(has(r.out, "forward:   100.00 W")) << r.out;
  EXPECT_TRUE(has(r.out, "reflected: 1.222 VSWR")) << r.out;
  EXPECT_TRUE(has(r.out, "rho 0.100, VSWR 1.222, return loss -20.00 dB")) << r.out;
  EXPECT_TRUE(has(r.out, "bar:       66 %")) << r.out;
}

TEST(DecodeTool, AcceptsAWholeDataLineAndOptions) {
  ToolRun r = run({"--fwd-unit=dBm", "--offset", "3", "--full-scale", "150", "-"},
                  "D" + std::string(kLineA) + "\r\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "forward:   53.00 dBm")) << r.out;  // 50 dBm + 3 dB
  EXPECT_TRUE(has(r.out, "offset:    3.00 dB")) << r.out;
}

TEST(DecodeTool, ReportsBadLinesAndGoesOn) {
  std::string bad = kLineA;
  bad[30] = 'x';  // inside the forward field
  const std::string input = "# comment\n\n" + bad + "\n \t" + kLineA + "\n" +
                            std::string(kLineA).substr(0, 60) + "\n" + std::string("\0\xff", 2) +
                            "\n" + kLineA + "\n";
  ToolRun r = run({"-"}, input);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "line 3: error: conversion error: '+1.0x00E+02'")) << r.out;
  EXPECT_TRUE(has(r.out, "(field 3)")) << r.out;
  EXPECT_TRUE(has(r.out, "line 4: error: unusable")) << r.out;
  EXPECT_TRUE(has(r.out, "line 5: error: ignored: end marker \",,\" missing")) << r.out;
  EXPECT_TRUE(has(r.out, "line 6: error: unusable")) << r.out;
  EXPECT_TRUE(has(r.out, "in: \\x00\\xFF")) << r.out;
  EXPECT_TRUE(has(r.out, "line 7: accepted")) << r.out;
  EXPECT_TRUE(has(r.out, "5 data strings: 1 accepted, 0 type mismatch, 4 not usable")) << r.out;
}

TEST(DecodeTool, TypeMismatchIsShownAsSuch) {
  ToolRun r = run({"--type", "peak", "-"}, std::string(kLineA) + "\n");
  EXPECT_TRUE(has(r.out, "line 1: type mismatch: the sensor reports type 1, the panel selects 2"))
      << r.out;
}

TEST(DecodeTool, BadOptionsAndMissingFilesAreErrors) {
  struct Row {
    std::vector<std::string> args;
    int status;
    const char* message;
  } rows[] = {
      {{}, 2, "no input file"},
      {{"--type", "loud", "-"}, 2, "unknown measurement type 'loud'"},
      {{"--fwd-unit", "Rho", "-"}, 2, "not a forward unit"},
      {{"--rfl-unit", "KW", "-"}, 2, "not a reflected unit"},
      {{"--offset", "101", "-"}, 2, "offset must be"},
      {{"--offset", "3,5", "-"}, 2, "offset must be"},
      {{"--full-scale", "0", "-"}, 2, "full scale must be"},
      {{"--offset"}, 2, "needs a value"},
      {{"--bogus", "1", "-"}, 2, "unknown option --bogus"},
      {{"a", "b"}, 2, "only one input file"},
      {{"/nonexistent/zrq-sample"}, 1, "cannot open '/nonexistent/zrq-sample'"},
  };
  for (const auto& row : rows) {
    ToolRun r = run(row.args, "");
    EXPECT_EQ(r.status, row.status) << row.message;
    EXPECT_TRUE(has(r.err, row.message)) << r.err;
  }
  ToolRun help = run({"--help"}, "");
  EXPECT_EQ(help.status, 0);
  for (const char* opt : {"--type", "--fwd-unit", "--rfl-unit", "--offset", "--full-scale"})
    EXPECT_TRUE(has(help.out, opt)) << opt;
}

// The real program on the shipped sample, as scripts/run.sh runs it.
TEST(DecodeTool, ProgramDecodesTheShippedSample) {
  const std::string cmd = std::string("'") + ZRQ_DECODE_EXE + "' '" + ZRQ_SAMPLE_FILE + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = pclose(p);
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(has(out, "(layout A, Average")) << out;
  EXPECT_TRUE(has(out, "(layout B, Average")) << out;
  EXPECT_TRUE(has(out, "unusable")) << out;
  EXPECT_TRUE(has(out, "conversion error")) << out;
  EXPECT_TRUE(has(out, "ignored")) << out;
  EXPECT_TRUE(has(out, "type mismatch: the sensor reports type 2")) << out;
  EXPECT_TRUE(has(out, "forward:   - - - - -")) << out;  // the over-range line
  EXPECT_TRUE(has(out, "11 data strings: 7 accepted, 1 type mismatch, 3 not usable")) << out;
}

}  // namespace
}  // namespace zrq::tools
