// Decoding of the sensor's fixed-column data string into SensorReading.
//
// The data string is the text between the "D" and the carriage return of a
// data line: a comma at position 1, eleven comma-separated fields and an end
// marker ",,". Two layouts exist, told apart by where the end marker begins
// (1-based position 116: layout A, 119: layout B, which carries one extra
// two-character field after field 6). Numbers use "." as the decimal point
// whatever the process locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/MeasType.h"
#include "core/SensorReading.h"

namespace zrq::core {

// The main-window values the decoding reads. It never keeps a reference.
struct DecodeInputs {
  MeasType measType = MeasType::Average;  // the selected type
  float fwdFullScale = 150.0f;            // forward full scale in watts
  std::uint16_t featureMask = 0x13DF;     // bit 0x1000 enables the peak ranges
  bool zeroCalRequested = false;          // skips the type check
};

inline constexpr std::uint16_t kPeakRangesFeature = 0x1000;

enum class DecodeOutcome {
  Unusable,         // empty, or the first character is not a comma: nothing changed
  Ignored,          // end marker not at 116 or 119: nothing changed
  TypeMismatch,     // raw fields stored, settingsChanged set, derived values kept
  Accepted,         // raw and derived fields stored
  ConversionError,  // a field is not a valid number: see DecodeResult
};

enum class DataStringLayout { None, A, B };

// The outcome is the only failure channel: decodeDataString does not throw.
// On ConversionError the fields converted before the bad one hold their new
// values; the bad one, the later ones and the derived values are unchanged.
// Conversion order: fields 1, 2, 3, 4, 5, 6, 9, 10, 11, 8, 7.
struct DecodeResult {
  DecodeOutcome outcome = DecodeOutcome::Unusable;
  DataStringLayout layout = DataStringLayout::None;
  int errorField = 0;     // 1..11 on ConversionError, else 0
  std::string errorText;  // e.g. "'1.2x' is not a valid floating point value (field 3)"

  bool accepted() const { return outcome == DecodeOutcome::Accepted; }
};

// Decodes `text` (a trailing carriage return or newline does no harm) into
// `reading`. On a type mismatch (selected type differs from the reported one
// and no zero calibration is requested) sets `settingsChanged` to true; never
// clears it. Any input, binary included, is safe.
DecodeResult decodeDataString(std::string_view text, const DecodeInputs& inputs,
                              SensorReading& reading, bool& settingsChanged);

// "unusable", "ignored", "type mismatch", "accepted", "conversion error".
const char* decodeOutcomeName(DecodeOutcome outcome);

// The bytes as printable ASCII for messages: control and non-ASCII bytes
// become \xNN.
std::string printableBytes(std::string_view bytes);

// 1-based position of the first ",," in the text, 0 when there is none.
std::size_t endMarkerPosition(std::string_view text);

}  // namespace zrq::core
