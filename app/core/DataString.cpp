#include "core/DataString.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace zrq::core {
namespace {

// 1-based positions of a field relative to the first comma.
struct FieldSpan {
  std::size_t first;
  std::size_t width;
};

// Fields 1..11 of layout A; layout B shifts fields 7..11 by 3.
constexpr FieldSpan kLayoutA[11] = {
    {2, 11}, {14, 12}, {27, 11}, {39, 11}, {51, 11},  {63, 11},
    {75, 2}, {78, 2},  {81, 11}, {93, 11}, {105, 11},
};
constexpr std::size_t kLayoutBShift = 3;
constexpr std::size_t kEndA = 116;
constexpr std::size_t kEndB = 119;

// Blanks and control characters, as every field is stripped of them.
constexpr bool isStripped(char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7F; }

std::string_view strip(std::string_view s) {
  while (!s.empty() && isStripped(s.front())) s.remove_prefix(1);
  while (!s.empty() && isStripped(s.back())) s.remove_suffix(1);
  return s;
}

// Printable quote of a field for error texts; never longer than the field.
std::string quoted(std::string_view s) { return "'" + printableBytes(s) + "'"; }

// A decimal number: optional sign, digits with at most one ".", at least one
// digit, optional exponent with optional sign and at least one digit. Nothing
// else (no "inf", "nan", hex or thousands separators).
bool parseReal(std::string_view s, double& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::string_view body = s.substr(i);
  std::size_t digits = 0, j = 0;
  bool point = false;
  for (; j < body.size(); ++j) {
    char c = body[j];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (j < body.size()) {
    if (body[j] != 'e' && body[j] != 'E') return false;
    std::size_t k = j + 1;
    if (k < body.size() && (body[k] == '+' || body[k] == '-')) ++k;
    if (k == body.size()) return false;
    for (; k < body.size(); ++k)
      if (body[k] < '0' || body[k] > '9') return false;
  }
  // The mantissa sign was taken above: from_chars accepts no "+" there.
  double v = 0;
  auto [p, ec] =
      std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::general);
  if (p != body.data() + body.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Too small for a double is zero; too large is not a usable number. The
    // fields are too narrow for a mantissa that overflows on its own.
    const bool tinyExponent = j < body.size() && body.find('-', j) != std::string_view::npos;
    if (!tinyExponent) return false;
    v = 0;
  } else if (ec != std::errc() || !std::isfinite(v)) {
    return false;
  }
  out = negative ? -v : v;
  return true;
}

bool parseInt(std::string_view s, long long& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return false;
  unsigned long long v = 0;
  auto [p, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v, 10);
  if (ec != std::errc() || p != s.data() + s.size()) return false;
  if (v > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return false;
  out = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
  return true;
}

class FieldReader {
 public:
  FieldReader(std::string_view text, DataStringLayout layout) : text_(text), layout_(layout) {}

  std::string_view field(int n) const {
    FieldSpan f = kLayoutA[n - 1];
    std::size_t first = f.first + (layout_ == DataStringLayout::B && n >= 7 ? kLayoutBShift : 0);
    return strip(text_.substr(first - 1, f.width));
  }

  bool real(int n, double& out, DecodeResult& result) const {
    std::string_view s = field(n);
    if (parseReal(s, out)) return true;
    fail(n, quoted(s) + " is not a valid floating point value", result);
    return false;
  }

  bool integer(int n, int& out, DecodeResult& result) const {
    std::string_view s = field(n);
    long long v = 0;
    if (parseInt(s, v) && v >= std::numeric_limits<int>::min() &&
        v <= std::numeric_limits<int>::max()) {
      out = static_cast<int>(v);
      return true;
    }
    fail(n, quoted(s) + " is not a valid integer value", result);
    return false;
  }

  static void fail(int n, const std::string& what, DecodeResult& result) {
    result.outcome = DecodeOutcome::ConversionError;
    result.errorField = n;
    result.errorText = what + " (field " + std::to_string(n) + ")";
  }

 private:
  std::string_view text_;
  DataStringLayout layout_;
};

}  // namespace

std::string printableBytes(std::string_view bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += hex[u >> 4];
      out += hex[u & 0xF];
    }
  }
  return out;
}

std::size_t endMarkerPosition(std::string_view text) {
  auto at = text.find(",,");
  return at == std::string_view::npos ? 0 : at + 1;
}

const char* decodeOutcomeName(DecodeOutcome outcome) {
  switch (outcome) {
    case DecodeOutcome::Unusable:
      return "unusable";
    case DecodeOutcome::Ignored:
      return "ignored";
    case DecodeOutcome::TypeMismatch:
      return "type mismatch";
    case DecodeOutcome::Accepted:
      return "accepted";
    case DecodeOutcome::ConversionError:
      return "conversion error";
  }
  return "unknown";
}

DecodeResult decodeDataString(std::string_view text, const DecodeInputs& in, SensorReading& r,
                              bool& settingsChanged) {
  DecodeResult result;
  if (text.empty() || text.front() != ',') {
    result.outcome = DecodeOutcome::Unusable;
    return result;
  }
  switch (endMarkerPosition(text)) {
    case kEndA:
      result.layout = DataStringLayout::A;
      break;
    case kEndB:
      result.layout = DataStringLayout::B;
      break;
    default:
      result.outcome = DecodeOutcome::Ignored;
      return result;
  }
  const FieldReader f(text, result.layout);

  // Each field is stored as soon as it converts: a bad field leaves the
  // earlier ones updated, as the sensor's record has always been read.
  double v = 0;
  if (!f.real(1, v, result)) return result;
  r.burstPower = v;
  if (!f.real(2, v, result)) return result;
  if (std::fabs(v) > std::numeric_limits<float>::max()) {
    FieldReader::fail(2, quoted(f.field(2)) + " is out of range for a temperature", result);
    return result;
  }
  r.temperature = static_cast<float>(v);
  if (!f.real(3, v, result)) return result;
  r.fwdAvgPower = v;
  if (!f.real(4, v, result)) return result;
  // rflPower is derived (clamped, scaled) and is only written on acceptance,
  // so a mismatch or a later bad field never leaves an unscaled value in it.
  r.rflPowerRaw = v;
  if (!f.real(5, v, result)) return result;
  r.peakPower = v;
  if (!f.real(6, v, result)) return result;
  r.spareValue = v;
  if (!f.real(9, v, result)) return result;
  r.ccdfFactor = v;
  if (!f.real(10, v, result)) return result;
  r.crestFactor = v;
  if (!f.real(11, v, result)) return result;
  r.dutyCycle = v;

  // The scale code never fails: anything but a byte-sized number is 0, and
  // only 10 has a meaning.
  long long scale = 0;
  r.scaleCode = parseInt(f.field(8), scale) && scale >= 0 && scale <= 255
                    ? static_cast<std::uint8_t>(scale)
                    : 0;

  int reported = 0;
  if (!f.integer(7, reported, result)) return result;
  r.reportedType = reported;

  if (measTypeCode(in.measType) != r.reportedType && !in.zeroCalRequested) {
    settingsChanged = true;
    result.outcome = DecodeOutcome::TypeMismatch;
    return result;
  }

  double selected = 0;
  std::uint8_t scaleCode = r.scaleCode;
  switch (in.measType) {
    case MeasType::Average:
      selected = r.fwdAvgPower;
      break;
    case MeasType::Peak:
      selected = r.peakPower;
      break;
    case MeasType::Burst:
      selected = r.burstPower;
      break;
    case MeasType::Crest:
      selected = r.crestFactor;
      scaleCode = 0;
      break;
    case MeasType::CCDF:
      selected = r.ccdfFactor;
      scaleCode = 0;
      break;
    default:
      selected = 0;
      break;
  }

  const double fs = in.fwdFullScale;
  const bool peakRanges = (in.featureMask & kPeakRangesFeature) != 0 &&
                          (in.measType == MeasType::Peak || in.measType == MeasType::Burst);
  if (peakRanges) {
    if (selected > 2.7 * fs) selected = 5.67 * fs;
  } else if (selected > 1.5 * fs) {
    selected = 1.5 * fs;
  }
  double fwdClamped = r.fwdAvgPower > 1.5 * fs ? 1.5 * fs : r.fwdAvgPower;
  const double rflLimit = 0.1 * fs * 1.5;
  double rfl = r.rflPowerRaw > rflLimit ? rflLimit : r.rflPowerRaw;

  if (scaleCode == 10) {
    selected *= 1000;
    fwdClamped *= 1000;
    rfl *= 1000;
  }
  r.selectedPower = selected;
  r.fwdAvgPowerClamped = fwdClamped;
  r.rflPower = rfl;
  result.outcome = DecodeOutcome::Accepted;
  return result;
}

const char* measTypeName(MeasType t) {
  switch (t) {
    case MeasType::None:
      return "None";
    case MeasType::Average:
      return "Average";
    case MeasType::Peak:
      return "Peak";
    case MeasType::Burst:
      return "Burst";
    case MeasType::Crest:
      return "Crest";
    case MeasType::CCDF:
      return "CCDF";
  }
  return "Unknown";
}

}  // namespace zrq::core
