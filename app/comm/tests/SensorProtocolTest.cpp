#include <gtest/gtest.h>

#include <clocale>

#include "SensorProtocol.h"

using namespace zrq::comm::protocol;

namespace {

TEST(SettingsCommand, CarriesRawTypeAndUnitBytesAndFixedWidthNumbers) {
  const std::string g = buildSettingsCommand(2, 0.0, 400.0, 11, 50.0);
  ASSERT_EQ(g.size(), 44u);
  EXPECT_EQ(g.substr(0, 2), "G,");
  EXPECT_EQ(static_cast<unsigned char>(g[2]), 0x02);
  EXPECT_EQ(g.substr(4, 11), "0.00000e+00");
  EXPECT_EQ(g.substr(16, 11), "4.00000e+02");
  EXPECT_EQ(static_cast<unsigned char>(g[28]), 0x0B);
  EXPECT_EQ(g.substr(30, 11), "5.00000e+01");
  EXPECT_EQ(g.substr(41), " \r\n");
  for (int comma : {1, 3, 15, 27, 29}) EXPECT_EQ(g[comma], ',') << comma;
}

TEST(SettingsCommand, ZeroUnitByteIsSentInsideTheCommand) {
  const std::string g = defaultSettingsCommand();
  ASSERT_EQ(g.size(), 44u);
  EXPECT_EQ(g[2], '\x01');
  EXPECT_EQ(g[28], '\0');
  EXPECT_EQ(g.substr(16, 11), "4.50000e+03");
}

TEST(SettingsCommand, OverlongNumbersAreCutToTheFixedLength) {
  EXPECT_EQ(buildSettingsCommand(1, -3.0, 4500.0, 0, 450.0).size(), 44u);
  EXPECT_EQ(buildSettingsCommand(1, 0.0, 1e120, 0, 50.0).size(), 44u);
}

TEST(SettingsCommand, NumbersIgnoreTheProcessLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
  EXPECT_EQ(formatE5(4500.0), "4.50000e+03");
  EXPECT_EQ(normaliseVersion("1.30"), std::optional<std::string>("1.3"));
  std::setlocale(LC_NUMERIC, saved.c_str());
}

struct VersionCase {
  const char* field;
  const char* normalised;  // nullptr: not a number
  bool passes;
};

TEST(FirmwareVersion, IsComparedAsTextAfterNormalising) {
  const VersionCase cases[] = {
      {"1.30", "1.3", true},    {"1.20", "1.2", false},   {"1.21", "1.21", true},
      {"1.25", "1.25", true},   {"2.0 ", "2", true},      {"1.15", "1.15", false},
      {"0.9 ", "0.9", false},   {"1.40", "1.4", true},    {"10.0", "10", true},
      {"x.yz", nullptr, false}, {"    ", nullptr, false}, {"1.3\r", "1.3", true},
  };
  for (const auto& c : cases) {
    auto v = normaliseVersion(c.field);
    if (!c.normalised) {
      EXPECT_FALSE(v) << c.field;
      continue;
    }
    ASSERT_TRUE(v) << c.field;
    EXPECT_EQ(*v, c.normalised) << c.field;
    EXPECT_EQ(versionPasses(*v), c.passes) << c.field;
  }
  EXPECT_FALSE(versionPasses(""));
}

TEST(InterrogationReply, FindsCalibrationAndVersionByPosition) {
  auto r = parseInterrogation("7730,FW version 1.40,Cal,TKS7730 RF power sensor\r\n");
  EXPECT_TRUE(r.modelOk);
  EXPECT_FALSE(r.notCalibrated);
  EXPECT_EQ(r.versionField, "1.40");

  r = parseInterrogation("7730,FW version 1.40,Not,TKS7730 RF power sensor\r\n");
  EXPECT_TRUE(r.notCalibrated);

  r = parseInterrogation("  7730,FW version 1.40,Cal\r\n");
  EXPECT_TRUE(r.modelOk);
  EXPECT_FALSE(parseInterrogation("").modelOk);
  EXPECT_FALSE(parseInterrogation("\r\n").modelOk);
  EXPECT_FALSE(parseInterrogation("8730,FW version 1.40,Cal\r\n").modelOk);
  // Too short for its fields: no crash, nothing found.
  r = parseInterrogation("7\r\n");
  EXPECT_TRUE(r.modelOk);
  EXPECT_FALSE(r.notCalibrated);
  EXPECT_EQ(r.versionField, "");
}

struct AckCase {
  const char* reply;
  std::optional<bool> calibration;
  std::optional<bool> settings;
};

TEST(AckReplies, StatusIsReadAtItsOffsetFromTheFirstComma) {
  const AckCase cases[] = {
      {"F,ACK,CAL\r\n", true, std::nullopt},
      {"F,NAK,CAL\r\n", false, std::nullopt},
      {"F,ack\r\n", false, std::nullopt},
      {"F\r\n", false, std::nullopt},
      {"G,4.50000e+03,ACK\r\n", std::nullopt, true},
      {"G,4.50000e+03,NAK\r\n", std::nullopt, false},
      {"G,-----------,ACK\r\n", std::nullopt, true},
      {"G,4.5e+03,ACK\r\n", std::nullopt, false},
      {"", std::nullopt, std::nullopt},
      {"rs232\r\n", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseCalibration(c.reply), c.calibration) << c.reply;
    EXPECT_EQ(parseSettings(c.reply), c.settings) << c.reply;
  }
}

TEST(ZeroCalReply, ResultCodeSelectsTheMessage) {
  EXPECT_EQ(parseZeroCalResult("Z,0 ,ACK\r\n"), std::optional<int>(0));
  EXPECT_EQ(parseZeroCalResult("Z,1 ,ACK\r\n"), std::optional<int>(1));
  EXPECT_EQ(parseZeroCalResult("Z,2,ACK\r\n"), std::optional<int>(2));
  EXPECT_EQ(parseZeroCalResult("Z,7 ,ACK\r\n"), std::optional<int>(7));
  EXPECT_EQ(parseZeroCalResult("Z,xx,ACK\r\n"), std::optional<int>(-1));
  EXPECT_EQ(parseZeroCalResult("D,123\r"), std::nullopt);
  EXPECT_EQ(parseZeroCalResult(""), std::nullopt);

  EXPECT_STREQ(zeroCalMessage(0).caption, "Calibration Complete");
  EXPECT_STREQ(zeroCalMessage(0).text, "Zero calibration completed successfully.");
  EXPECT_STREQ(zeroCalMessage(1).text,
               "Zero calibration failed.\r\nMemory write error.\r\nOriginal values restored\r\n");
  EXPECT_STREQ(zeroCalMessage(2).caption, "Values Over Limit");
  EXPECT_STREQ(zeroCalMessage(7).caption, "Calibration Failed");
  EXPECT_STREQ(zeroCalMessage(-1).text, "Original zero calibration constants restored");
}

TEST(SerialNumberReply, DropsTwoCharactersAtEachEnd) {
  EXPECT_EQ(serialNumberFromReply("S,12345\r\n"), "12345");
  EXPECT_EQ(serialNumberFromReply("S,A-7 \r\n"), "A-7 ");
  EXPECT_EQ(serialNumberFromReply("S,\r\n"), "");
  EXPECT_EQ(serialNumberFromReply("S\r\n"), "");
  EXPECT_EQ(serialNumberFromReply(""), "");
}

TEST(TextHelpers, CopyAndCommaFollowOneBasedPositions) {
  EXPECT_EQ(copyText("abcdef", 2, 3), "bcd");
  EXPECT_EQ(copyText("abcdef", 5, 9), "ef");
  EXPECT_EQ(copyText("abcdef", 7, 1), "");
  EXPECT_EQ(copyText("abcdef", 0, 2), "ab");
  EXPECT_EQ(commaPos("ab,c"), 3);
  EXPECT_EQ(commaPos("abc"), 0);
  EXPECT_EQ(stripText(" \t\r\nx y\r\n"), "x y");
  EXPECT_EQ(firstChar(" \r F"), 'F');
  EXPECT_EQ(firstChar(" \r\n"), '\0');
}

}  // namespace
