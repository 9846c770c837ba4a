#include "SensorProtocol.h"

#include <charconv>
#include <cmath>

namespace zrq::comm::protocol {

std::string formatE5(double value) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 5);
  return std::string(buf, res.ptr);
}

std::string buildSettingsCommand(std::uint8_t measType, double offsetDb, double filterHz,
                                 std::uint8_t fwdUnit, double ccdfLimit) {
  std::string cmd = "G,";
  cmd.push_back(static_cast<char>(measType));
  cmd += "," + formatE5(offsetDb) + "," + formatE5(filterHz) + ",";
  cmd.push_back(static_cast<char>(fwdUnit));
  cmd += "," + formatE5(ccdfLimit) + " \r\n";
  cmd.resize(kSettingsCommandLength);
  return cmd;
}

std::string defaultSettingsCommand() { return buildSettingsCommand(1, 0.0, 4500.0, 0, 50.0); }

std::string stripText(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

char firstChar(const std::string& reply) {
  std::string s = stripText(reply);
  return s.empty() ? '\0' : s[0];
}

std::string copyText(const std::string& text, int pos, int count) {
  if (pos < 1) pos = 1;  // a position before the text starts at its first character
  if (count <= 0 || static_cast<std::size_t>(pos) > text.size()) return {};
  return text.substr(static_cast<std::size_t>(pos - 1), static_cast<std::size_t>(count));
}

int commaPos(const std::string& text) {
  auto p = text.find(',');
  return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}

std::optional<std::string> normaliseVersion(const std::string& versionField) {
  std::string s = stripText(versionField);
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  if (s.empty()) return std::nullopt;
  double v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(v))
    return std::nullopt;
  char buf[64];
  auto out = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  return std::string(buf, out.ptr);
}

bool versionPasses(const std::string& normalisedVersion) {
  // std::string compares char_traits<char>, which orders bytes as unsigned.
  return normalisedVersion.compare("1.2") > 0;
}

InterrogationReply parseInterrogation(const std::string& reply) {
  InterrogationReply r;
  r.modelOk = firstChar(reply) == '7';
  if (!r.modelOk) return r;
  r.notCalibrated = stripText(copyText(reply, 22, 3)) == "Not";
  r.versionField = copyText(reply, commaPos(reply) + 12, 4);
  return r;
}

std::optional<bool> parseAck(const std::string& reply, char letter, int offsetFromComma) {
  if (firstChar(reply) != letter) return std::nullopt;
  return copyText(reply, commaPos(reply) + offsetFromComma, 3) == "ACK";
}

std::optional<int> parseZeroCalResult(const std::string& reply) {
  if (firstChar(reply) != 'Z') return std::nullopt;
  std::string code = stripText(copyText(reply, commaPos(reply) + 1, 2));
  int value = 0;
  auto res = std::from_chars(code.data(), code.data() + code.size(), value);
  if (res.ec != std::errc() || res.ptr == code.data()) return -1;
  return value;
}

MessageText zeroCalMessage(int resultCode) {
  switch (resultCode) {
    case 0:
      return {"Calibration Complete", "Zero calibration completed successfully."};
    case 1:
      return {"Calibration Failed",
              "Zero calibration failed.\r\nMemory write error.\r\nOriginal values restored\r\n"};
    case 2:
      return {"Values Over Limit",
              "Zero calibration values over limit.\r\nCheck that RF input is zero.\r\nOriginal "
              "values restored\r\n"};
    default:
      return {"Calibration Failed", "Original zero calibration constants restored"};
  }
}

std::string serialNumberFromReply(const std::string& reply) {
  if (reply.size() <= 4) return {};
  return reply.substr(2, reply.size() - 4);
}

}  // namespace zrq::comm::protocol
