// Units of the value displays and their annunciator labels.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace zrq::core {

// One-byte code of a displayed unit or quantity. 9 and 10 double as the
// sensor's scale code in the data string. Code 4 is unused.
enum class PowerUnit : std::uint8_t {
  None = 0,
  dB = 1,   // decibels relative to 1 (crest factor)
  Rho = 2,  // reflection coefficient
  VSWR = 3,
  ReturnLoss = 5,  // dB
  dBm = 6,
  uW = 7,
  mW = 8,
  W = 9,
  KW = 10,
  AutoW = 11,  // watts, range chosen by autoRangePower
  MegaW = 12,  // forward meter window only, above 1000 KW
};

inline constexpr int kPowerUnitCodes = 13;  // codes 0..12

constexpr std::uint8_t unitCode(PowerUnit u) { return static_cast<std::uint8_t>(u); }

// True for dBm and AutoW (the forward cycle): the display shows an absolute
// power rather than a ratio.
constexpr bool isPowerUnit(PowerUnit u) { return u == PowerUnit::dBm || u == PowerUnit::AutoW; }

// Short name for logs and tools: "None", "dB", "Rho", "VSWR", "ReturnLoss",
// "dBm", "uW", "mW", "W", "KW", "AutoW", "MegaW"; "?" for other codes.
std::string_view unitName(PowerUnit u);
// The text a person reads on the panel: "dB", "Rho", "VSWR", "Return Loss",
// "dBm", "µW" (UTF-8), "mW", "W", "KW", "W" for AutoW, "MW"; empty for None.
std::string_view unitDisplayText(PowerUnit u);
// Parses unitName (case-insensitive; "uw", "auto" and "rl" accepted too).
bool parseUnitName(std::string_view text, PowerUnit& out);

// Unit cycles: the order in which the unit buttons step.
inline constexpr std::array<PowerUnit, 2> forwardUnitCycle{PowerUnit::dBm, PowerUnit::AutoW};
inline constexpr std::array<PowerUnit, 5> reflectedUnitCycle{
    PowerUnit::Rho, PowerUnit::VSWR, PowerUnit::ReturnLoss, PowerUnit::dBm, PowerUnit::AutoW};

// The entry after `current`, or the first entry when `current` is the last one
// or not in the cycle. An empty cycle answers `current`.
PowerUnit nextUnit(std::span<const PowerUnit> cycle, PowerUnit current);

// ---- Annunciators --------------------------------------------------------
//
// A unit lights up to two labels, named by the window's component names
// (e.g. "segFdb" + "segFm" spell "dBm"). An empty name is no label.
struct UnitLabels {
  std::string_view first;
  std::string_view second;

  bool empty() const { return first.empty() && second.empty(); }
  friend bool operator==(const UnitLabels&, const UnitLabels&) = default;
};

// Unit code -> labels; codes beyond the table light nothing.
struct AnnunciatorTable {
  std::array<UnitLabels, kPowerUnitCodes> byCode;

  UnitLabels labels(PowerUnit u) const {
    auto c = unitCode(u);
    return c < byCode.size() ? byCode[c] : UnitLabels{};
  }
};

// Main window, forward and reflected unit annunciators.
extern const AnnunciatorTable mainForwardAnnunciators;
extern const AnnunciatorTable mainReflectedAnnunciators;
// Peak window: value unit, and the VSWR annunciator (only key VSWR lights).
extern const AnnunciatorTable peakValueAnnunciators;
extern const AnnunciatorTable peakVswrAnnunciators;
// Burst window value unit.
extern const AnnunciatorTable burstAnnunciators;

// What a display must do to its labels when it switches keys: first hide
// `hide`, then show `show` (in that order: VSWR -> ReturnLoss share "R").
struct AnnunciatorChange {
  UnitLabels hide;
  UnitLabels show;
};

// Remembers the key whose labels a display last lit (initially None).
class UnitAnnunciator {
 public:
  explicit UnitAnnunciator(const AnnunciatorTable& table) : table_(&table) {}

  // Always returns the full hide-then-show pair, even for the same key, so a
  // display that was blanked in between gets its labels back.
  AnnunciatorChange select(PowerUnit key) {
    AnnunciatorChange c{table_->labels(current_), table_->labels(key)};
    current_ = key;
    return c;
  }
  PowerUnit current() const { return current_; }
  // After the window hid every label itself (clearAllSegments).
  void forget() { current_ = PowerUnit::None; }

 private:
  const AnnunciatorTable* table_;
  PowerUnit current_ = PowerUnit::None;
};

}  // namespace zrq::core
