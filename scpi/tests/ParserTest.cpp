// The syntax layer: units, headers, patterns, parameters, suffixes, numbers.
#include <gtest/gtest.h>

#include <cmath>

#include "scpi/Parser.h"

namespace zrq::scpi {
namespace {

TEST(ScpiParser, SplitsUnitsOutsideQuotes) {
  auto u = splitUnits("A 'x;y';B \"a\"\";\" ; ;C");
  ASSERT_EQ(u.size(), 3u);
  EXPECT_EQ(u[0], "A 'x;y'");
  EXPECT_EQ(u[1], "B \"a\"\";\"");
  EXPECT_EQ(u[2], "C");
}

TEST(ScpiParser, Patterns) {
  struct Case {
    const char* pattern;
    const char* header;
    Match want;
  } cases[] = {
      {"[SENSe#:]CORRection:OFFSet[:MAGNitude]", "CORR:OFFS", Match::Yes},
      {"[SENSe#:]CORRection:OFFSet[:MAGNitude]", "sense:correction:offset:magnitude", Match::Yes},
      {"[SENSe#:]CORRection:OFFSet[:MAGNitude]", "Sens1:Corr:Offs:Magn", Match::Yes},
      {"[SENSe#:]CORRection:OFFSet[:MAGNitude]", "SENS2:CORR:OFFS", Match::BadSuffix},
      {"[SENSe#:]CORRection:OFFSet[:MAGNitude]", "CORR1:OFFS", Match::BadSuffix},
      {"[SENSe#:]CORRection:OFFSet[:MAGNitude]", "CORRE:OFFS", Match::No},
      {"[SENSe#:]CORRection:OFFSet[:MAGNitude]", "CORR:OFFS:MAGN:X", Match::No},
      {"FETCh[:SCALar]:REFLected[:POWer]", "FETC:REFL", Match::Yes},
      {"FETCh[:SCALar]:REFLected[:POWer]", "FETCH:SCAL:REFL:POW", Match::Yes},
  };
  for (const auto& c : cases) {
    ParsedUnit u;
    ASSERT_FALSE(parseUnit(c.header, &u)) << c.header;
    EXPECT_EQ(matchHeader(parsePattern(c.pattern), u.header), c.want) << c.header;
  }
}

TEST(ScpiParser, Units) {
  struct Case {
    const char* text;
    bool common, root, query;
    std::size_t headers, params;
  } cases[] = {
      {"*IDN?", true, false, true, 1, 0},
      {":SYST:ERR?", false, true, true, 2, 0},
      {"  corr:offs   3.5 dB  ", false, false, false, 2, 1},
      {"CALC:LIM:UPP 1e-3 W", false, false, false, 3, 1},
      {"FUNC 'POW:AVG'", false, false, false, 1, 1},
  };
  for (const auto& c : cases) {
    ParsedUnit u;
    ASSERT_FALSE(parseUnit(c.text, &u)) << c.text;
    EXPECT_EQ(u.common, c.common) << c.text;
    EXPECT_EQ(u.root, c.root) << c.text;
    EXPECT_EQ(u.query, c.query) << c.text;
    EXPECT_EQ(u.header.size(), c.headers) << c.text;
    EXPECT_EQ(u.params.size(), c.params) << c.text;
  }
}

TEST(ScpiParser, Parameters) {
  struct Case {
    const char* text;
    Param::Kind kind;
    double value;
    const char* str;
  } cases[] = {
      {"X 12", Param::Kind::Numeric, 12, ""},
      {"X -1.5", Param::Kind::Numeric, -1.5, ""},
      {"X +.5E+2", Param::Kind::Numeric, 50, ""},
      {"X 2 e -1", Param::Kind::Numeric, 0.2, ""},
      {"X 3kHz", Param::Kind::Numeric, 3, "KHZ"},
      {"X 7 dbm", Param::Kind::Numeric, 7, "DBM"},
      {"X maximum", Param::Kind::Char, 0, "MAXIMUM"},
      {"X 'it''s'", Param::Kind::String, 0, "it's"},
      {"X \"a\"\"b;c\"", Param::Kind::String, 0, "a\"b;c"},
  };
  for (const auto& c : cases) {
    ParsedUnit u;
    ASSERT_FALSE(parseUnit(c.text, &u)) << c.text;
    ASSERT_EQ(u.params.size(), 1u) << c.text;
    EXPECT_EQ(u.params[0].kind, c.kind) << c.text;
    EXPECT_DOUBLE_EQ(u.params[0].value, c.value) << c.text;
    EXPECT_EQ(u.params[0].text, c.str) << c.text;
  }
}

TEST(ScpiParser, SyntaxErrors) {
  struct Case {
    std::string text;
    int code;
  } cases[] = {
      {std::string("A\0B", 3), -101},
      {"A\xff", -101},
      {"A::B", -102},
      {"1A", -102},
      {"A,1", -103},
      {"A 1 2", -103},
      {"A W X", -103},
      {"A 1,", -102},
      {"A .", -120},
      {"A 1e999", -120},
      {"A 'abc", -150},
      {"A ON!", -141},
      {"A #H1F", -104},
      {"A 1.2.3", -120},
      {"A1234567 1", -114},
  };
  for (const auto& c : cases) {
    ParsedUnit u;
    auto e = parseUnit(c.text, &u);
    ASSERT_TRUE(e) << c.text;
    EXPECT_EQ(e->code, c.code) << c.text;
  }
}

TEST(ScpiParser, Suffixes) {
  struct Case {
    UnitKind kind;
    double value;
    const char* suffix;
    double want;  // NAN: error
    int code;
  } cases[] = {
      {UnitKind::Power, 5, "W", 5, 0},       {UnitKind::Power, 5, "MW", 5e-3, 0},
      {UnitKind::Power, 2, "KW", 2e3, 0},    {UnitKind::Power, 1, "MAW", 1e6, 0},
      {UnitKind::Power, 30, "DBM", 1, 0},    {UnitKind::Power, 3, "UW", 3e-6, 0},
      {UnitKind::Freq, 4.5, "KHZ", 4500, 0}, {UnitKind::Freq, 1, "MHZ", 1e6, 0},
      {UnitKind::Freq, 3, "GHZ", 3e9, 0},    {UnitKind::Db, 3, "DB", 3, 0},
      {UnitKind::Db, 3, "", 3, 0},           {UnitKind::Db, 3, "DBM", NAN, -131},
      {UnitKind::Power, 3, "HZ", NAN, -131}, {UnitKind::None, 3, "W", NAN, -138},
  };
  for (const auto& c : cases) {
    Param p;
    p.value = c.value;
    p.text = c.suffix;
    double v = 0;
    auto e = applySuffix(c.kind, p, &v);
    if (c.code) {
      ASSERT_TRUE(e) << c.suffix;
      EXPECT_EQ(e->code, c.code) << c.suffix;
    } else {
      ASSERT_FALSE(e) << c.suffix;
      EXPECT_NEAR(v, c.want, 1e-9 * std::abs(c.want)) << c.suffix;
    }
  }
}

TEST(ScpiParser, NumbersAreNr3) {
  EXPECT_EQ(formatNumber(12.345678), "1.234568E+01");
  EXPECT_EQ(formatNumber(0), "0.000000E+00");
  EXPECT_EQ(formatNumber(-0.001), "-1.000000E-03");
  EXPECT_EQ(formatNumber(NAN), "9.910000E+37");
}

}  // namespace
}  // namespace zrq::scpi
