// Property values as text, for the test container and tools: numbers in
// C-locale decimal (printed shortest round-trip), shorts as integers,
// colours as 0xBBGGRR, strings as they are, fonts as
// "Name,points,weight[,italic][,underline][,strikeout]", a picture by its size.
#pragma once

#include <string>
#include <string_view>

#include "MeterProperties.h"

namespace zrq::meter {

std::string formatValue(const PropValue& v);
std::string formatDouble(double d);

// Throws MeterError naming the property when the text is not a value of its
// type. A picture is read from the file the text names (empty: no picture);
// a font keeps the character set of `current` when that is a font.
PropValue parseValue(const PropInfo& info, std::string_view text,
                     const PropValue* current = nullptr);

}  // namespace zrq::meter
