#pragma once
// Conversions between the library's wide (UTF-16) texts and UTF-8, and
// printf-style formatting into wide text. Locale-independent.

#include <string>
#include <string_view>

std::u16string toU16(std::string_view utf8);
std::string toUtf8(std::u16string_view text);

// vsnprintf into at most maxChars characters (the terminator included), widened.
std::u16string formatU16(size_t maxChars, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
