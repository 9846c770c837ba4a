#pragma once
// The sensor's USB side on the wire: the hello packet each connection gets first,
// the HID report descriptor inside it, and the 49-byte reports after it.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tks7730sim::usb {

constexpr uint16_t kVendorId = 0x3A61;
constexpr uint16_t kProductId = 0x7730;
constexpr size_t kReportSize = 49;  // report ID + 48 payload bytes
constexpr size_t kPayload = 48;
constexpr uint8_t kInputId = 1, kOutputId = 2, kCommandId = 3;
constexpr uint8_t kStartCmd = 0x50, kPollCmd = 0x53;
constexpr uint8_t kFill = 0xFF;

using Report = std::array<uint8_t, kReportSize>;

// Vendor-defined page; report 1 input, reports 2 and 3 output, 48 bytes each.
const std::vector<uint8_t>& reportDescriptor();

// Vendor ID, product ID, version number (little-endian each), then the descriptor.
std::vector<uint8_t> helloPacket(uint16_t version);

// Cuts the sensor's output text into input reports, 48 bytes each, the rest of
// the last one 0xFF. 0xFF in the text is dropped (it cannot be carried).
std::vector<Report> packInput(std::string_view text);

// What one report from the host means.
struct HostReport {
  enum Kind { Text, Start, Poll, OtherCommand, Invalid } kind = Invalid;
  std::string text;  // Text: payload bytes that are not 0xFF
  uint8_t code = 0;  // OtherCommand: the code
};
HostReport parseHostReport(const uint8_t* data, size_t len);

}  // namespace tks7730sim::usb
