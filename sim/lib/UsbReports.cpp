#include "UsbReports.h"

namespace tks7730sim::usb {

const std::vector<uint8_t>& reportDescriptor() {
  static const std::vector<uint8_t> d = {
      0x06, 0x00,       0xFF,  // Usage Page (vendor defined 0xFF00)
      0x09, 0x01,              // Usage (1)
      0xA1, 0x01,              // Collection (Application)
      0x15, 0x00,              //   Logical Minimum (0)
      0x26, 0xFF,       0x00,  //   Logical Maximum (255)
      0x75, 0x08,              //   Report Size (8)
      0x95, 0x30,              //   Report Count (48)
      0x85, kInputId,          //   Report ID (1)
      0x09, 0x02,              //   Usage (2)
      0x81, 0x02,              //   Input (Data, Variable, Absolute)
      0x85, kOutputId,         //   Report ID (2)
      0x09, 0x03,              //   Usage (3)
      0x91, 0x02,              //   Output (Data, Variable, Absolute)
      0x85, kCommandId,        //   Report ID (3)
      0x09, 0x04,              //   Usage (4)
      0x91, 0x02,              //   Output (Data, Variable, Absolute)
      0xC0,                    // End Collection
  };
  return d;
}

std::vector<uint8_t> helloPacket(uint16_t version) {
  std::vector<uint8_t> p = {
      static_cast<uint8_t>(kVendorId & 0xFF),  static_cast<uint8_t>(kVendorId >> 8),
      static_cast<uint8_t>(kProductId & 0xFF), static_cast<uint8_t>(kProductId >> 8),
      static_cast<uint8_t>(version & 0xFF),    static_cast<uint8_t>(version >> 8)};
  const auto& d = reportDescriptor();
  p.insert(p.end(), d.begin(), d.end());
  return p;
}

std::vector<Report> packInput(std::string_view text) {
  std::vector<Report> out;
  size_t used = kPayload;
  for (char ch : text) {
    const auto c = static_cast<uint8_t>(ch);
    if (c == kFill) continue;
    if (used == kPayload) {
      Report r;
      r.fill(kFill);
      r[0] = kInputId;
      out.push_back(r);
      used = 0;
    }
    out.back()[1 + used++] = c;
  }
  return out;
}

HostReport parseHostReport(const uint8_t* data, size_t len) {
  HostReport h;
  if (!data || len != kReportSize) return h;
  if (data[0] == kOutputId) {
    h.kind = HostReport::Text;
    for (size_t i = 1; i < kReportSize; ++i)
      if (data[i] != kFill) h.text += static_cast<char>(data[i]);
  } else if (data[0] == kCommandId) {
    h.code = data[1];
    h.kind = data[1] == kStartCmd  ? HostReport::Start
             : data[1] == kPollCmd ? HostReport::Poll
                                   : HostReport::OtherCommand;
  }
  return h;
}

}  // namespace tks7730sim::usb
