#pragma once
// Parser of HID report descriptors: yields, for every report ID, the byte
// lengths of its input, output and feature reports, report ID byte included
// (a device without report IDs still carries the byte 0 on hidraw writes, and
// Windows counts it too, so lengths stay comparable across transports).

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

namespace HidDesc {

struct ReportLengths {
  uint32_t input = 0;  // 0: the ID has no input report
  uint32_t output = 0;
  uint32_t feature = 0;
};

struct ReportDescriptorInfo {
  bool usesReportIds = false;                // false: one unnumbered report (key 0)
  std::map<uint8_t, ReportLengths> reports;  // by report ID
  uint32_t maxInputLength = 0;               // the capabilities' report byte lengths
  uint32_t maxOutputLength = 0;
  uint32_t maxFeatureLength = 0;
};

// Limits that keep a hostile descriptor from asking for absurd buffers; they
// match what the Linux HID core accepts.
constexpr size_t kMaxDescriptorSize = 4096;
constexpr uint32_t kMaxReportBytes = 16384;
constexpr unsigned kMaxGlobalStack = 16;
constexpr unsigned kMaxCollectionDepth = 64;

// Parses a whole descriptor. Returns nothing for a malformed one and, when
// error is given, a short English reason with the byte offset.
std::optional<ReportDescriptorInfo> parseReportDescriptor(std::span<const uint8_t> desc,
                                                          std::string* error = nullptr);

}  // namespace HidDesc
