// One record of the CSV log and its two header lines.
//
// A record has 21 fields, each followed by a comma, and ends with CR LF.
// Which fields carry values depends on the measurement type: Average, Peak,
// Burst and Crest write "NA" in field 21; CCDF writes "NA" in fields 17 to 19
// and its factor in field 21; any other type writes fields 1 to 7 and ",,,".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/LogFormat.h"

namespace zrq::core {

// Header lines, without line ends; 21 fields each, no trailing comma.
inline constexpr std::string_view kLogHeaderLine1 = ",,,,,,,Average,,,,,,,Peak,,Burst,,,Crest,CCDF";
inline constexpr std::string_view kLogHeaderLine2 =
    "Date, Time, SN, Temp, Offset, CCDF Limit, Filter, Forward W, Forward dBm, Reflected W, "
    "Reflected dBm, Rho, VSWR, Return Loss, Forward W, Forward dBm, Forward W, Forward dBm, "
    "Duty Cycle, Factor, Factor";
inline constexpr std::string_view kLogLineEnd = "\r\n";
inline constexpr int kLogFields = 21;

// Both header lines, each ended by CR LF.
std::string logHeaderText();

// Everything one record is made of. The caller maps its own state onto this;
// nothing here reads a window.
struct LogRecordInput {
  LogDateTime when;  // one reading of the clock
  DateOrder dateOrder = DateOrder::MonthDayYear;
  std::string_view sensorSerial;  // as stored

  int measType = 1;      // MeasType code; other codes: no measurement
  float offsetDb = 0;    // dB
  float ccdfLimit = 50;  // W
  float filterHz = 4500;
  double fwdFullScale = 150;  // W
  double rflFullScale = 15;   // W

  // Fields of the latest reading.
  float temperature = 25;
  double fwdAvgPower = 0;  // as received (kW when scaleCode is 10)
  double rflPowerRaw = 0;  // as received (kW when scaleCode is 10)
  std::uint8_t scaleCode = 9;
  double dutyCycle = 0;

  // As the display update last refreshed them for the log: peak and burst
  // limited and offset, in watts; the peak window's VSWR; the two factors.
  double peakW = 0;
  double burstW = 0;
  double vswr = 1;
  double crestFactor = 0;
  double ccdfFactor = 0;
};

// Forward and reflected powers of a record, prepared from the reading: to
// watts, limited to 3 x full scale, rho and return loss taken, then the
// offset factor applied when offsetDb > 0 (in every type).
struct LogPowers {
  double forwardW = 0;
  double reflectedW = 0;
  double rho = 1;
  double returnLoss = 0;
};
LogPowers prepareLogPowers(double fwdAvgPower, double rflPowerRaw, std::uint8_t scaleCode,
                           double fwdFullScale, double rflFullScale, float offsetDb);

// Appends the record, CR LF included, to `out` (which it does not clear).
void appendLogRecord(std::string& out, const LogRecordInput& in);
std::string buildLogRecord(const LogRecordInput& in);

// An event (an alarm rising or clearing) in the place after field 21 that is
// empty in every other record, so a reader of 21 fields reads it unchanged.
std::string buildLogEventRecord(const LogRecordInput& in, std::string_view eventText);

}  // namespace zrq::core
