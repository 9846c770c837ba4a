#pragma once
// The library's invariant check: on failure it appends a line to the
// assertion log, writes the message to standard error and to the host's
// handler, and lets execution continue.

#include <functional>
#include <string>

#define ZRQ_ASSERT(cond) (::assertionCheck(static_cast<bool>(cond), __FILE__, __LINE__))

// file may be nullptr (the message then reads "Debug assertion failed!").
void assertionCheck(bool condition, const char* file, int line);

// "Debug assertion failed in file "<file>" at line <n>." or "Debug assertion failed!"
std::string assertionMessage(const char* file, int line);

// The full "Fatal Error!" text shown to the user for a message.
std::string assertionBoxText(const std::string& message);

// Host hook receiving (caption, text) of each failed assertion; an empty
// function removes it. Returns the previous handler.
using AssertionHandler = std::function<void(const std::string& caption, const std::string& text)>;
AssertionHandler setAssertionHandler(AssertionHandler handler);

// Path of the assertion log file in the per-user log folder.
std::string assertionLogPath();
