// The sensor's command bytes and the reading of its replies, free of any
// window or device: what the command operations send and what the reply
// handlers decide is computed here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zrq::comm::protocol {

inline constexpr const char* kCmdInterrogate = "I\r\n";
inline constexpr const char* kCmdCalibration = "F\r\n";
inline constexpr const char* kCmdStartStream = "D\r\n";
inline constexpr const char* kCmdStopStream = "U\r\n";
inline constexpr const char* kCmdZero = "Z\r\n";
inline constexpr const char* kCmdSerialNumber = "S";  // no line end: the sensor wants none
inline constexpr const char* kCmdReadTest = "T\r\n";
inline constexpr const char* kBanner = "rs232\r\n";
inline constexpr std::size_t kSettingsCommandLength = 44;

// %1.5e in the C locale: "4.50000e+03".
std::string formatE5(double value);

// The G command: type and unit go as raw bytes (type 1 is 0x01, not '1'), the
// numbers as d.ddddde+dd. Exactly 44 bytes; values that need more characters
// are cut, as only 44 bytes are ever sent.
std::string buildSettingsCommand(std::uint8_t measType, double offsetDb, double filterHz,
                                 std::uint8_t fwdUnit, double ccdfLimit);
// The fixed values of the test window's initialisation.
std::string defaultSettingsCommand();

// Blanks and control characters removed from both ends.
std::string stripText(const std::string& text);
// First character of the stripped reply, or 0 for an empty one.
char firstChar(const std::string& reply);
// `count` characters from 1-based position `pos`, as far as the text reaches.
std::string copyText(const std::string& text, int pos, int count);
// 1-based position of the first comma, 0 when there is none.
int commaPos(const std::string& text);

// The firmware version text normalised through a number ("1.30" -> "1.3");
// nullopt when the text is not a number.
std::optional<std::string> normaliseVersion(const std::string& versionField);
// The sensor's firmware must be newer than 1.2, compared as text byte by byte.
bool versionPasses(const std::string& normalisedVersion);

struct InterrogationReply {
  bool modelOk = false;        // first character '7'
  bool notCalibrated = false;  // positions 22-24 read "Not"
  std::string versionField;    // 4 characters from the first comma + 12
};
InterrogationReply parseInterrogation(const std::string& reply);

// "ACK" at the given offset from the first comma of a reply that begins with
// `letter`; nullopt when the reply is empty or begins with another letter.
std::optional<bool> parseAck(const std::string& reply, char letter, int offsetFromComma);
inline std::optional<bool> parseCalibration(const std::string& reply) {
  return parseAck(reply, 'F', 1);
}
inline std::optional<bool> parseSettings(const std::string& reply) {
  return parseAck(reply, 'G', 13);
}

// The zero-calibration result code (2 characters after the first comma, read
// as a number), or nullopt when the reply is not a zero-calibration reply.
// A code that is not a number is -1.
std::optional<int> parseZeroCalResult(const std::string& reply);

struct MessageText {
  const char* caption;
  const char* text;
};
MessageText zeroCalMessage(int resultCode);

// The serial number inside an S reply: two leading and two trailing characters dropped.
std::string serialNumberFromReply(const std::string& reply);

}  // namespace zrq::comm::protocol
