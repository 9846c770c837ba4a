#pragma once
// The kernel's uhid protocol as bytes: the events a program writes to
// /dev/uhid to create a HID device and feed it input reports, and the events
// it reads back (start, open, output reports, report requests). Pure
// functions, so the layout is unit-tested without a kernel.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tks7730sim::uhid {

// Event type numbers of the kernel ABI.
enum EventType : uint32_t {
  Destroy = 1,
  Start = 2,
  Stop = 3,
  Open = 4,
  Close = 5,
  Output = 6,
  GetReport = 9,
  GetReportReply = 10,
  Create2 = 11,
  Input2 = 12,
  SetReport = 13,
  SetReportReply = 14,
};

enum ReportType : uint8_t { FeatureReport = 0, OutputReport = 1, InputReport = 2 };

constexpr size_t kDataMax = 4096;        // largest report either way
constexpr size_t kDescriptorMax = 4096;  // largest report descriptor
constexpr size_t kEventSize = 4380;      // sizeof(struct uhid_event)
constexpr uint16_t kBusUsb = 3;

struct DeviceSpec {
  std::string name;  // at most 127 bytes, the rest is cut
  std::string phys;  // at most 63; the HID_PHYS of the device's uevent
  std::string uniq;  // at most 63
  uint16_t bus = kBusUsb;
  uint32_t vendor = 0;
  uint32_t product = 0;
  uint32_t version = 0;
  std::vector<uint8_t> descriptor;
};

// UHID_CREATE2; nothing when the descriptor is empty or too long.
std::optional<std::vector<uint8_t>> encodeCreate(const DeviceSpec& spec);
// UHID_INPUT2 carrying one report (report ID first when the device numbers
// its reports); nothing when the report is empty or too long.
std::optional<std::vector<uint8_t>> encodeInput(const uint8_t* report, size_t len);
std::vector<uint8_t> encodeDestroy();
// Answers to the kernel's report requests; err is an errno value, 0 for success.
std::vector<uint8_t> encodeGetReportReply(uint32_t requestId, uint16_t err,
                                          const std::vector<uint8_t>& data = {});
std::vector<uint8_t> encodeSetReportReply(uint32_t requestId, uint16_t err);

// One event read from /dev/uhid.
struct Event {
  enum Kind {
    Start,
    Stop,
    Open,
    Close,
    Output,
    GetReport,
    SetReport,
    Other,
    Invalid
  } kind = Invalid;
  uint32_t type = 0;
  uint64_t devFlags = 0;      // Start
  uint8_t reportType = 0;     // Output, GetReport, SetReport
  uint8_t reportNumber = 0;   // GetReport, SetReport
  uint32_t requestId = 0;     // GetReport, SetReport: to be echoed in the reply
  std::vector<uint8_t> data;  // Output, SetReport: the report, report ID first
};
Event decodeEvent(const uint8_t* buf, size_t len);

// The hidraw node ("hidraw3") that the kernel made for the HID device whose
// uevent says HID_PHYS=phys, looked up under sysRoot/bus/hid/devices;
// empty while there is none.
std::string findHidrawNode(const std::string& sysRoot, const std::string& phys);

}  // namespace tks7730sim::uhid
