#pragma once
// Conversions between the library's wide (UTF-16) texts and UTF-8, and
// printf-style formatting into wide text. Locale-independent, Qt-free, no
// other dependency (target ZRQ::zervdcom_widetext).
//
// Nothing is ever dropped silently: every malformed unit becomes U+FFFD, the
// replacement character, and conversion goes on after it. Malformed UTF-8 is
// a byte that starts no sequence, a sequence cut short, an overlong form, a
// surrogate or a value above U+10FFFF; malformed UTF-16 is an unpaired
// surrogate. A 0 unit is an ordinary character (no terminator is looked for).

#include <string>
#include <string_view>

inline constexpr char16_t kReplacementChar = u'\uFFFD';

std::u16string toU16(std::string_view utf8);
std::string toUtf8(std::u16string_view text);

// vsnprintf into at most maxChars characters (the terminator included), widened.
std::u16string formatU16(size_t maxChars, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));
