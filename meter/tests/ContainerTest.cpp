// The test container driven as a user would: options in order, output on stdout.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "StreamBytes.h"

namespace {

struct RunResult {
  int status = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

RunResult container(const std::string& args) {
  const char* bin = std::getenv("ZRQ_BIN_DIR");
  // Tests run in parallel processes: one error file each.
  const std::string errFile =
      testing::TempDir() + "meter-container-" + std::to_string(getpid()) + ".err";
  const std::string cmd =
      std::string(bin ? bin : ".") + "/dialixhq-container " + args + " 2>" + errFile;
  RunResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream e(errFile);
  r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
  return r;
}

std::string tmp(const char* name) {
  return testing::TempDir() + std::to_string(getpid()) + "-" + name;
}

}  // namespace

TEST(MeterContainer, ListsEveryPropertyInIdentifierOrderThenCaption) {
  const RunResult r = container("--list");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("ShadedAreaRelativeSize=0.1\nScaledCircleRelativeDiameter=1.2\n"), 0u)
      << r.out;
  for (const char* line :
       {"\nMinimumValue=1e-13\n", "\nIndexColor=0x0000FF\n", "\nValueFormatString=%.1f\n",
        "\nInstrumentBackGroundColor=0xCFFFFF\n", "\nSmallScaleFont=Arial,6,700\n",
        "\nBottomCoverLabelFont=MS Sans Serif,12,700\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
  EXPECT_NE(r.out.find("\nBackgroundImage=\nCaption=\n"), std::string::npos);
  EXPECT_EQ(r.out.back(), '\n');
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 33);
}

TEST(MeterContainer, OptionsApplyInOrder) {
  RunResult r = container(
      "--set Value=99.5 --step-it --get Value --set MaximumValue=50 --get RedStartValue "
      "--set ScaleColor=0x00ff80 --get ScaleColor --set 'SmallScaleFont=Arial,9.75,400,underline' "
      "--get SmallScaleFont");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "100.5\n50\n0x00FF80\nArial,9.75,400,underline\n");
}

TEST(MeterContainer, BadNamesAndValuesExitNonZeroWithAMessage) {
  for (const char* args :
       {"--set Bogus=1 --list", "--set Value=x --list", "--get", "--size 0x5 --list",
        "--load /nonexistent/state.bin --list", "--frobnicate"}) {
    SCOPED_TRACE(args);
    const RunResult r = container(args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("dialixhq-container: "), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("ShadedAreaRelativeSize="), std::string::npos);
  }
}

TEST(MeterContainer, LoadsSavesAndRendersAState) {
  const meter_test::StreamBytes fwd = meter_test::meterWindowState("Average Power", 0.93);
  const std::string in = tmp("meter-forward.state"), out = tmp("meter-copy.state"),
                    png = tmp("meter.png");
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(fwd.b.data()), fwd.b.size());
  RunResult r = container("--load " + in + " --get Caption --get RelativeTextRadius --save " + out +
                          " --render 234x155 " + png);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Average Power\n0.93\n");
  std::ifstream saved(out, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(saved)),
                                   std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, fwd.b);
  std::ifstream pic(png, std::ios::binary);
  char sig[8] = {};
  pic.read(sig, 8);
  EXPECT_EQ(std::string(sig + 1, 3), "PNG");

  // The size sets the extent at 96 dpi.
  r = container("--size 234x155 --save " + out);
  ASSERT_EQ(r.status, 0) << r.err;
  std::ifstream sized(out, std::ios::binary);
  std::vector<uint8_t> head(12);
  sized.read(reinterpret_cast<char*>(head.data()), 12);
  EXPECT_EQ(head[4] | head[5] << 8, 6191);
  EXPECT_EQ(head[8] | head[9] << 8, 4101);

  // A cut stream is refused and nothing is written.
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(fwd.b.data()), fwd.b.size() - 3);
  r = container("--load " + in + " --get Caption");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("cut short"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Average Power"), std::string::npos);
}

TEST(MeterContainer, DesignModeRestsTheValueAtTheMinimumWhenDrawn) {
  const RunResult r = container("--set Value=50 --design-mode --render 100x60 " +
                                tmp("meter-design.png") + " --get Value");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1e-13\n");
}
