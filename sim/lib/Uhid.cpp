#include "Uhid.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <linux/uhid.h>
#include <sstream>

namespace fs = std::filesystem;

namespace tks7730sim::uhid {
namespace {

// Offsets inside struct uhid_event (packed; the union starts at byte 4).
constexpr size_t kU = 4;
constexpr size_t kCreateName = kU, kCreatePhys = kU + 128, kCreateUniq = kU + 192;
constexpr size_t kCreateRdSize = kU + 256, kCreateBus = kU + 258, kCreateVendor = kU + 260;
constexpr size_t kCreateProduct = kU + 264, kCreateVersion = kU + 268, kCreateCountry = kU + 272;
constexpr size_t kCreateRdData = kU + 276;
constexpr size_t kOutputSize = kU + kDataMax, kOutputRtype = kU + kDataMax + 2;

static_assert(sizeof(uhid_event) == kEventSize);
static_assert(offsetof(uhid_event, u) == kU);
static_assert(offsetof(uhid_create2_req, rd_size) == kCreateRdSize - kU);
static_assert(offsetof(uhid_create2_req, bus) == kCreateBus - kU);
static_assert(offsetof(uhid_create2_req, vendor) == kCreateVendor - kU);
static_assert(offsetof(uhid_create2_req, product) == kCreateProduct - kU);
static_assert(offsetof(uhid_create2_req, version) == kCreateVersion - kU);
static_assert(offsetof(uhid_create2_req, country) == kCreateCountry - kU);
static_assert(offsetof(uhid_create2_req, rd_data) == kCreateRdData - kU);
static_assert(offsetof(uhid_output_req, size) == kOutputSize - kU);
static_assert(offsetof(uhid_output_req, rtype) == kOutputRtype - kU);
static_assert(offsetof(uhid_input2_req, data) == 2);
static_assert(offsetof(uhid_get_report_reply_req, data) == 8);
static_assert(offsetof(uhid_set_report_req, data) == 8);
constexpr bool sameType(uhid_event_type k, EventType ours) {
  return static_cast<uint32_t>(k) == ours;
}
static_assert(sameType(UHID_CREATE2, Create2) && sameType(UHID_INPUT2, Input2) &&
              sameType(UHID_OUTPUT, Output) && sameType(UHID_GET_REPORT, GetReport) &&
              sameType(UHID_SET_REPORT_REPLY, SetReportReply) && sameType(UHID_START, Start) &&
              sameType(UHID_DESTROY, Destroy));

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t get16(const uint8_t* b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }

uint32_t get32(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

// The kernel refuses writes shorter than a few bytes and zero-fills the rest
// of a short event, so each event is sent only as long as its fields need.
std::vector<uint8_t> header(uint32_t type, size_t size) {
  std::vector<uint8_t> b(std::max<size_t>(size, 8), 0);
  put32(b, 0, type);
  return b;
}

// Strings are NUL-terminated in fixed fields: keep room for the terminator.
void putText(std::vector<uint8_t>& b, size_t at, size_t field, const std::string& s) {
  std::memcpy(b.data() + at, s.data(), std::min(s.size(), field - 1));
}

}  // namespace

std::optional<std::vector<uint8_t>> encodeCreate(const DeviceSpec& spec) {
  if (spec.descriptor.empty() || spec.descriptor.size() > kDescriptorMax) return std::nullopt;
  auto b = header(Create2, kCreateRdData + spec.descriptor.size());
  putText(b, kCreateName, 128, spec.name);
  putText(b, kCreatePhys, 64, spec.phys);
  putText(b, kCreateUniq, 64, spec.uniq);
  put16(b, kCreateRdSize, static_cast<uint16_t>(spec.descriptor.size()));
  put16(b, kCreateBus, spec.bus);
  put32(b, kCreateVendor, spec.vendor);
  put32(b, kCreateProduct, spec.product);
  put32(b, kCreateVersion, spec.version);
  std::copy(spec.descriptor.begin(), spec.descriptor.end(), b.begin() + kCreateRdData);
  return b;
}

std::optional<std::vector<uint8_t>> encodeInput(const uint8_t* report, size_t len) {
  if (!report || len == 0 || len > kDataMax) return std::nullopt;
  auto b = header(Input2, kU + 2 + len);
  put16(b, kU, static_cast<uint16_t>(len));
  std::memcpy(b.data() + kU + 2, report, len);
  return b;
}

std::vector<uint8_t> encodeDestroy() { return header(Destroy, kU); }

std::vector<uint8_t> encodeGetReportReply(uint32_t requestId, uint16_t err,
                                          const std::vector<uint8_t>& data) {
  const size_t n = std::min(data.size(), kDataMax);
  auto b = header(GetReportReply, kU + 8 + n);
  put32(b, kU, requestId);
  put16(b, kU + 4, err);
  put16(b, kU + 6, static_cast<uint16_t>(n));
  std::copy_n(data.begin(), n, b.begin() + kU + 8);
  return b;
}

std::vector<uint8_t> encodeSetReportReply(uint32_t requestId, uint16_t err) {
  auto b = header(SetReportReply, kU + 6);
  put32(b, kU, requestId);
  put16(b, kU + 4, err);
  return b;
}

Event decodeEvent(const uint8_t* buf, size_t len) {
  Event e;
  if (!buf || len < kU) return e;
  e.type = get32(buf);
  auto need = [&](size_t n) { return len >= n; };
  switch (e.type) {
    case Start:
      if (!need(kU + 8)) return e;
      e.devFlags =
          static_cast<uint64_t>(get32(buf + kU)) | static_cast<uint64_t>(get32(buf + kU + 4)) << 32;
      e.kind = Event::Start;
      break;
    case Stop:
      e.kind = Event::Stop;
      break;
    case Open:
      e.kind = Event::Open;
      break;
    case Close:
      e.kind = Event::Close;
      break;
    case Output: {
      if (!need(kOutputRtype + 1)) return e;
      const uint16_t size = get16(buf + kOutputSize);
      if (size > kDataMax) return e;
      e.data.assign(buf + kU, buf + kU + size);
      e.reportType = buf[kOutputRtype];
      e.kind = Event::Output;
      break;
    }
    case GetReport:
      if (!need(kU + 6)) return e;
      e.requestId = get32(buf + kU);
      e.reportNumber = buf[kU + 4];
      e.reportType = buf[kU + 5];
      e.kind = Event::GetReport;
      break;
    case SetReport: {
      if (!need(kU + 8)) return e;
      const uint16_t size = get16(buf + kU + 6);
      if (size > kDataMax || !need(kU + 8 + size)) return e;
      e.requestId = get32(buf + kU);
      e.reportNumber = buf[kU + 4];
      e.reportType = buf[kU + 5];
      e.data.assign(buf + kU + 8, buf + kU + 8 + size);
      e.kind = Event::SetReport;
      break;
    }
    default:
      e.kind = Event::Other;
      break;
  }
  return e;
}

std::string findHidrawNode(const std::string& sysRoot, const std::string& phys) {
  std::error_code ec;
  const std::string want = "HID_PHYS=" + phys;
  for (const auto& dev :
       fs::directory_iterator(fs::path(sysRoot) / "bus" / "hid" / "devices", ec)) {
    std::ifstream in(dev.path() / "uevent");
    std::string line;
    bool match = false;
    while (std::getline(in, line))
      if (line == want) match = true;
    if (!match) continue;
    std::error_code hec;
    for (const auto& h : fs::directory_iterator(dev.path() / "hidraw", hec)) {
      const std::string name = h.path().filename().string();
      if (name.rfind("hidraw", 0) == 0 && name.size() > 6) return name;
    }
  }
  return {};
}

}  // namespace tks7730sim::uhid
