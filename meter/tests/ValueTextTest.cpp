#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "ValueText.h"

using namespace zrq::meter;

namespace {
const PropInfo& prop(const char* name) { return *findProperty(name); }
}  // namespace

TEST(ValueText, NumbersPrintShortestAndReadBack) {
  for (double d : {0.1, 1e-13, 150.0, -100.0, 0.93, 6.02214076e23, 1.0 / 3})
    EXPECT_EQ(std::get<double>(parseValue(prop("Value"), formatValue(d))), d) << d;
  EXPECT_EQ(formatValue(0.1), "0.1");
  EXPECT_EQ(formatValue(1e-13), "1e-13");
  EXPECT_EQ(formatValue(150.0), "150");
  EXPECT_EQ(std::get<double>(parseValue(prop("Value"), "+2.5")), 2.5);
}

TEST(ValueText, ShortsColoursStringsAndFonts) {
  EXPECT_EQ(std::get<int16_t>(parseValue(prop("NumberOfDivisions"), "-7")), -7);
  EXPECT_EQ(formatValue(int16_t(-7)), "-7");
  EXPECT_EQ(std::get<OleColor>(parseValue(prop("ScaleColor"), "0x00ff80")).value, 0x00FF80u);
  EXPECT_EQ(formatValue(OleColor{0xFF}), "0x0000FF");
  EXPECT_EQ(std::get<std::string>(parseValue(prop("Caption"), "a=b, c")), "a=b, c");
  const FontDesc f = std::get<FontDesc>(
      parseValue(prop("SmallScaleFont"), "Name, with comma,6.75,700,italic,strikeout"));
  EXPECT_EQ(f.name, "Name, with comma");
  EXPECT_EQ(f.size, 67500u);
  EXPECT_EQ(f.weight, 700);
  EXPECT_TRUE(f.italic);
  EXPECT_FALSE(f.underline);
  EXPECT_TRUE(f.strikeout);
  EXPECT_EQ(formatValue(f), "Name, with comma,6.75,700,italic,strikeout");
  // The character set is not in the text: a write keeps the current one.
  const PropValue current = FontDesc{"Old", 10000, 400, 161, false, false, false};
  EXPECT_EQ(
      std::get<FontDesc>(parseValue(prop("SmallScaleFont"), "Arial,9.75,700", &current)).charset,
      161);
}

TEST(ValueText, BadTextsNameThePropertyAndTheReason) {
  struct Case {
    const char* prop;
    const char* text;
  };
  for (const Case& c :
       {Case{"Value", ""}, Case{"Value", "1,5"}, Case{"Value", "abc"}, Case{"Value", "1.5x"},
        Case{"NumberOfDivisions", "40000"}, Case{"NumberOfDivisions", "2.5"},
        Case{"ScaleColor", "red"}, Case{"ScaleColor", "0x1G"}, Case{"ScaleColor", "-1"},
        Case{"SmallScaleFont", "Arial,6"}, Case{"SmallScaleFont", ",6,700"},
        Case{"SmallScaleFont", "Arial,-6,700"}, Case{"SmallScaleFont", "Arial,6,heavy"},
        Case{"BackgroundImage", "/nonexistent/picture.png"}}) {
    SCOPED_TRACE(std::string(c.prop) + "=" + c.text);
    try {
      parseValue(prop(c.prop), c.text);
      ADD_FAILURE() << "accepted";
    } catch (const MeterError& e) {
      EXPECT_NE(std::string(e.what()).find(c.prop), std::string::npos) << e.what();
    }
  }
}

TEST(ValueText, PicturesComeFromFilesAndPrintTheirSize) {
  const std::string path = testing::TempDir() + "meter-picture.bin";
  std::ofstream(path, std::ios::binary) << "abc";
  const Picture p = std::get<Picture>(parseValue(prop("BackgroundImage"), path));
  EXPECT_EQ(p.data, (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(formatValue(p), "(picture, 3 bytes)");
  EXPECT_TRUE(std::get<Picture>(parseValue(prop("BackgroundImage"), "")).empty());
  EXPECT_EQ(formatValue(Picture{}), "");
  std::remove(path.c_str());
}
