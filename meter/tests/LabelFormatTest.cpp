#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "LabelFormat.h"

using namespace zrq::meter;

TEST(LabelFormat, OneFloatingConversionWithTextAroundIsAccepted) {
  for (const char* f : {"%.1f", "%.0f", "%5.2e", "V=%+08.3f V", "%%%g%%", "%lf", "%-#12.4G", "%a"})
    EXPECT_TRUE(isSafeLabelFormat(f)) << f;
}

TEST(LabelFormat, AnythingElseIsRefused) {
  for (const char* f : {"", "abc", "%d", "%s", "%n", "%x", "%.1f %.1f", "%*.1f", "%.*f", "%Lf",
                        "%.100f", "%123f", "%", "50%", "%1$f", "%hf"})
    EXPECT_FALSE(isSafeLabelFormat(f)) << f;
  EXPECT_FALSE(isSafeLabelFormat(std::string_view("%.1f\0%s", 7)));
}

TEST(LabelFormat, RefusedFormatsDrawWithTheFallback) {
  EXPECT_EQ(formatLabel("%.0f", 150), "150");
  EXPECT_EQ(formatLabel("%s", 2.25), "2.2");
  EXPECT_EQ(formatLabel("%d%d", 7), "7.0");
  EXPECT_EQ(formatLabel("[%6.2f]", -1.5), "[ -1.50]");
  EXPECT_EQ(formatLabel("%99.99f", 1e308).size(), 409u);
}

TEST(LabelFormat, DecimalPointStaysAPointUnderACommaLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 2.5);
  const std::string label = formatLabel("%.1f", 2.5);
  std::setlocale(LC_ALL, before.c_str());
  EXPECT_STREQ(probe, "2,5");  // the locale really is in force
  EXPECT_EQ(label, "2.5");
}

TEST(LabelFormat, OleColoursBecomeChannels) {
  EXPECT_EQ(toRgb(OleColor{0x0000FF}), (Rgb{255, 0, 0}));
  EXPECT_EQ(toRgb(OleColor{0xCFFFFF}), (Rgb{255, 255, 207}));
  EXPECT_EQ(toRgb(OleColor{0x80000005}), (Rgb{255, 255, 255}));  // window background
  EXPECT_EQ(toRgb(OleColor{0x80000008}), (Rgb{0, 0, 0}));        // window text
  EXPECT_EQ(toRgb(OleColor{0x800000FF}), (Rgb{0, 0, 0}));        // no such system colour
}
