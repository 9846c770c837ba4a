// Command line, fault specifications and fault scripts.

#include "DataString.h"
#include "Options.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

using namespace tks7730sim;

namespace {
ParseResult parse(std::vector<std::string> args, SimOptions& opt, std::string& err) {
  return parseOptions(args, opt, err);
}
}  // namespace

TEST(FaultSpecs, TriggersDefaultsAndErrors) {
  std::string err;
  auto f = parseFault("garbage,rate=0.25", err);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->kind, FaultKind::Garbage);
  EXPECT_DOUBLE_EQ(f->rate, 0.25);
  EXPECT_EQ(f->count, -1);  // a rate strikes without limit

  f = parseFault(" hangup , at=5000 , for=300 ", err);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->count, 1);
  EXPECT_EQ(*f->atMs, 5000);
  EXPECT_EQ(f->forMs, 300);

  f = parseFault("stall", err);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->forMs, 2000);
  EXPECT_EQ(f->count, 1);

  f = parseFault("silence,cmd=G,every=3,count=2,on=usb1", err);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->cmd, 'G');
  EXPECT_EQ(f->every, 3);
  EXPECT_EQ(f->count, 2);
  EXPECT_EQ(f->on, "usb1");

  for (const char* bad : {"fire", "garbage,rate=2", "garbage,rate", "nan,field=8", "stall,for=-1",
                          "silence,cmd=GG", "garbage,colour=red", "refuse-f,count=x"}) {
    err.clear();
    EXPECT_FALSE(parseFault(bad, err)) << bad;
    EXPECT_FALSE(err.empty()) << bad;
  }
}

TEST(FaultSpecs, ScriptSkipsCommentsAndNamesTheBadLine) {
  std::vector<FaultSpec> out;
  std::string err;
  EXPECT_TRUE(
      parseFaultScript("# faults\n\ngarbage,every=4   # junk\r\nrefuse-g,count=2\n", out, err));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].kind, FaultKind::RefuseG);
  out.clear();
  EXPECT_FALSE(parseFaultScript("layout\nbogus\n", out, err));
  EXPECT_NE(err.find("line 2"), std::string::npos) << err;
}

TEST(CommandLine, SensorAndTransportOptions) {
  SimOptions o;
  std::string err;
  ASSERT_EQ(parse({"--usb",         "2",
                   "--usb-dir",     "/tmp/x",
                   "--layout",      "B",
                   "--kilowatt",    "--power",
                   "100",           "--firmware",
                   "1.30",          "--uncalibrated",
                   "--banner",      "0",
                   "--seed",        "42",
                   "--fault",       "truncate,rate=0.1",
                   "--usb-version", "0200",
                   "--zero-result", "7",
                   "--baud",        "9600"},
                  o, err),
            ParseResult::Run)
      << err;
  EXPECT_EQ(o.usbCount, 2);
  EXPECT_EQ(o.sensor.layout, Layout::B);
  EXPECT_TRUE(o.sensor.kilowatt);
  EXPECT_DOUBLE_EQ(o.sensor.signal.forwardAvgW, 100);
  EXPECT_EQ(o.sensor.firmware, "1.30");
  EXPECT_FALSE(o.sensor.calibrated);
  EXPECT_EQ(o.sensor.bannerCount, 0);
  EXPECT_EQ(o.sensor.seed, 42u);
  EXPECT_EQ(o.faults.size(), 1u);
  EXPECT_EQ(o.usbVersion, 0x0200);
  EXPECT_EQ(o.sensor.zeroResult, "7");
  EXPECT_EQ(o.baud, 9600);
}

TEST(CommandLine, BadValuesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {{"--firmware", "1.4"},
                                                     {"--layout", "C"},
                                                     {"--power"},
                                                     {"--interval", "0"},
                                                     {"--duty", "abc"},
                                                     {"--usb", "1"},
                                                     {"--no-pty"},
                                                     {"--peak-ratio", "3"},
                                                     {"--frobnicate"},
                                                     {"--zero-result", "123"},
                                                     {"--fault-script", "/nonexistent/x"},
                                                     {"--serial-number", "a\nb"},
                                                     {"--baud", "0"},
                                                     {"--baud", "fast"}};
  for (const auto& args : bad) {
    SimOptions o;
    o.usbDir.clear();
    std::string err;
    ::unsetenv("ZERVDCOM_HID_SIM_DIR");
    EXPECT_EQ(parse(args, o, err), ParseResult::Error) << args[0];
    EXPECT_FALSE(err.empty()) << args[0];
  }
  SimOptions o;
  std::string err;
  EXPECT_EQ(parse({"--help"}, o, err), ParseResult::Help);
}

TEST(CommandLine, HelpNamesEveryOption) {
  const std::string help = helpText();
  for (const char* opt :
       {"--no-pty",     "--pty-link",     "--usb",           "--usb-dir",   "--usb-version",
        "--firmware",   "--uncalibrated", "--serial-number", "--banner",    "--layout",
        "--full-scale", "--kilowatt",     "--interval",      "--zero-time", "--zero-result",
        "--power",      "--duty",         "--peak-ratio",    "--vswr",      "--temperature",
        "--drift",      "--noise",        "--seed",          "--fault",     "--fault-script",
        "--trace",      "--help",         "--baud"})
    EXPECT_NE(help.find(opt), std::string::npos) << opt;
}

TEST(SerialNumbers, UsbSensorsCountOnFromTheSerialSide) {
  EXPECT_EQ(nthSerialNumber("12345", 0), "12346");
  EXPECT_EQ(nthSerialNumber("SN0099", 1), "SN0101");
  EXPECT_EQ(nthSerialNumber("ABC", 0), "ABC-1");
}

TEST(Numbers, FieldTextKeepsItsWidthAndIgnoresTheLocale) {
  const char* old = std::setlocale(LC_ALL, "de_DE.UTF-8");
  EXPECT_EQ(formatReal(100.0, 4), "+1.0000E+02");
  EXPECT_EQ(formatReal(-0.00123, 4), "-1.2300E-03");
  EXPECT_EQ(formatReal(28.25, 5), "+2.82500E+01");
  EXPECT_EQ(formatReal(1e-120, 4), "+0.0000E+00");
  EXPECT_EQ(formatReal(1e150, 4).size(), 11u);
  EXPECT_EQ(formatReal(std::nan(""), 4).size(), 11u);
  if (old) std::setlocale(LC_ALL, "C");
}
