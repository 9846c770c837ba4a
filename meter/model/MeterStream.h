// The control's persisted state in its binary stream form, both ways.
//
// Layout, little-endian: version 0x00010000 (32-bit); extent width and height
// in HIMETRIC (32-bit each); stock-property mask (32-bit, 0x2: caption
// follows) and the caption; then every property in persistence order.
// Strings: a length byte and the characters; 255 characters and more use the
// long prefix 0xFF + 16-bit length (0xFF 0xFFFF + 32-bit beyond 65534), and
// 0xFF 0xFFFE announces UTF-16 characters. Fonts and pictures: a zero byte,
// the standard object's class identifier and that object's own stream.
//
// A stream may end after any whole property item: the missing trailing ones
// take their defaults. A stream cut inside an item or the header, with bad
// markers, or with bytes after the last item is refused with StreamError, and
// the model is left exactly as it was.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "MeterProperties.h"

namespace zrq::meter {

class StreamError : public MeterError {
 public:
  using MeterError::MeterError;
};

inline constexpr uint32_t kPersistVersion = 0x00010000;
inline constexpr uint32_t kStockCaptionBit = 0x00000002;
inline constexpr uint16_t kPictureTag = 0x746C;
// Class identifiers of the standard font and picture objects, in stream byte order.
extern const uint8_t kFontClassId[16];
extern const uint8_t kPictureClassId[16];

// Identifiers of the persisted properties in their stream order.
const std::vector<int>& persistenceOrder();

std::vector<uint8_t> saveStream(const MeterModel& m);
// The same with another extent (a container's current size).
std::vector<uint8_t> saveStream(const MeterModel& m, int32_t extentX, int32_t extentY);
// All or nothing: on success every property and the extent are replaced
// (the model's replaceAll), on failure nothing changes.
void loadStream(MeterModel& m, std::span<const uint8_t> bytes);

// The parse alone, for checks and the fuzzer: throws StreamError.
struct StreamState {
  MeterProps props;
  int32_t extentX = 0, extentY = 0;
};
StreamState parseStream(std::span<const uint8_t> bytes);

}  // namespace zrq::meter
