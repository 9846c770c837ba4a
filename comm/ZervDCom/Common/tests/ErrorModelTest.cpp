#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "Common/ErrCodes.h"
#include "Common/Exc.h"
#include "Common/Version.h"
#include "Common/WideText.h"

namespace {

std::string u8(const std::u16string& s) { return toUtf8(s); }

TEST(ErrorMessages, EveryCodeFromOneTo44HasItsTextAndNoOtherDoes) {
  EXPECT_EQ(u8(loadErrMessage(1)), "No Error.");
  EXPECT_EQ(u8(loadErrMessage(8)), "Read operation timed out.");
  EXPECT_EQ(u8(loadErrMessage(34)), "Unhanded structured exception caught!");
  EXPECT_EQ(u8(loadErrMessage(44)), "The given port name is not for an RS232 port.");
  for (int c = 1; c <= 44; ++c) EXPECT_NE(errMessageOrNull(c), nullptr) << c;
  EXPECT_EQ(errMessageOrNull(0), nullptr);
  EXPECT_EQ(errMessageOrNull(45), nullptr);
  EXPECT_EQ(errMessageOrNull(-1), nullptr);
  try {
    loadErrMessage(45);
    FAIL() << "no exception";
  } catch (const CannotLoadRscExc& e) {
    EXPECT_EQ(u8(e.description()), "Unable to load resource (ID=45)");
  }
}

TEST(ErrorMessages, OnlyTheTwoTimeoutsAreNotSevere) {
  EXPECT_FALSE(isLastErrSevere(8));
  EXPECT_FALSE(isLastErrSevere(9));
  EXPECT_TRUE(isLastErrSevere(1));
  EXPECT_TRUE(isLastErrSevere(0));
  EXPECT_TRUE(isLastErrSevere(45));
  EXPECT_TRUE(isLastErrSevere(28));
}

TEST(ExcFamily, WhatTextNamesTheRuntimeClassAndDetailAddsTheLocation) {
  CommErrInfo::CommExc e(6, u"oops", DebugInfo("Some.cpp", 42));
  EXPECT_EQ(u8(e.whatText()), "class CommErrInfo::CommExc: oops");
  EXPECT_EQ(u8(e.locationText()), "File: Some.cpp at line 42");
  EXPECT_EQ(u8(e.detailText()),
            "class CommErrInfo::CommExc: oops - location: File: Some.cpp at line 42");
  Exc bare;
  EXPECT_EQ(u8(bare.detailText()), "class Exc:  - location: ");
  // Caught through the base, the text still names the thrown class.
  try {
    throw IndexOutOfBoundsExc(7, 3, ZRQ_HERE);
  } catch (const Exc& ex) {
    EXPECT_EQ(u8(ex.whatText()), "class IndexOutOfBoundsExc: requested index=7; list size=3");
    EXPECT_NE(u8(ex.locationText()).find("ErrorModelTest.cpp at line "), std::string::npos);
  }
}

TEST(ExcFamily, OsFailuresNameTheCallAndTheSystemText) {
  CommErrInfo::CommWin32Exc w(11, "::PurgeComm()", EIO, ZRQ_HERE);
  EXPECT_EQ(w.code(), ErrCode::PurgeFailed);
  EXPECT_EQ(u8(w.description()),
            std::string("::PurgeComm() failed. Win32 message: ") + strerrordesc_np(EIO));
  CommErrInfo::CommWin32Exc unknown(2, "::CreateFile()", 99999, ZRQ_HERE);
  EXPECT_EQ(
      u8(unknown.description()),
      "::CreateFile() failed. Win32 message: Unable to get Win32 error string for code 99999");
  CommErrInfo::CommSTDCExc s(12, "_beginthreadex()", EAGAIN, ZRQ_HERE);
  EXPECT_EQ(u8(s.description()),
            std::string("_beginthreadex() failed. errno message: ") + strerrordesc_np(EAGAIN));
  CommErrInfo::CommSTDCExc su(12, "x()", 99999, ZRQ_HERE);
  EXPECT_EQ(u8(su.description()),
            "x() failed. errno message: Unknown std error string for code 99999");
}

TEST(ExcFamily, TurningAnExceptionIntoALastError) {
  auto capture = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return errInfoFromCurrentException();
    }
    return ErrInfo{-1, {}};
  };
  ErrInfo a = capture([] { throw CommErrInfo::CommExc(27, u"d", DebugInfo("F.cpp", 3)); });
  EXPECT_EQ(a.code, ErrCode::SerialSetupFailed);
  EXPECT_EQ(u8(a.detail), "class CommErrInfo::CommExc: d - location: File: F.cpp at line 3");
  ErrInfo b = capture([] { throw CannotOpenFileExc("x.log", DebugInfo("G.cpp", 9)); });
  EXPECT_EQ(b.code, ErrCode::UnknownError);
  EXPECT_EQ(u8(b.detail), "class CannotOpenFileExc: x.log - location: File: G.cpp at line 9");
  ErrInfo c = capture([] { throw 5; });
  EXPECT_EQ(c.code, ErrCode::UnhandledException);
  EXPECT_TRUE(c.detail.empty());
}

TEST(VersionText, TextIsTheFixedThirtyNineCharacters) {
  EXPECT_EQ(u8(versionText()), "ZervDCom.dll v1.0 (UNICODE), 2004/05/10");
  EXPECT_EQ(versionText().size(), 39u);
}

TEST(WideText, RoundTripsNonAsciiAndReplacesBrokenSequences) {
  std::string s = "Gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80";
  EXPECT_EQ(toUtf8(toU16(s)), s);
  EXPECT_EQ(toU16("\xC3"), u"\uFFFD");
  // What follows a broken sequence is kept; overlong forms and encoded
  // surrogates are broken too.
  EXPECT_EQ(toU16("\xF0"
                  "ab"),
            u"\uFFFDab");
  EXPECT_EQ(toU16("a\xC0\x80"
                  "b"),
            u"a\uFFFD\uFFFDb");
  EXPECT_EQ(toU16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(toU16(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
  const char16_t lone[] = {u'x', 0xD800, u'y', 0xDC00};
  EXPECT_EQ(toUtf8(std::u16string_view(lone, 4)), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
  EXPECT_EQ(formatU16(8, "%d-%s", 12, "abcdefgh"), u"12-abcd");
}

}  // namespace
