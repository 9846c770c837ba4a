#include "core/PowerUnit.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace zrq::core {
namespace {

using L = UnitLabels;

// Builds a table from (code, labels) rows; missing codes light nothing.
constexpr AnnunciatorTable table(std::initializer_list<std::pair<PowerUnit, UnitLabels>> rows) {
  AnnunciatorTable t{};
  for (const auto& [unit, labels] : rows) t.byCode[unitCode(unit)] = labels;
  return t;
}

}  // namespace

constinit const AnnunciatorTable mainForwardAnnunciators = table({
    {PowerUnit::dB, L{"segFdb", {}}},
    {PowerUnit::Rho, L{"segRRho", {}}},
    {PowerUnit::VSWR, L{"segRVSWR", "segRR"}},
    {PowerUnit::ReturnLoss, L{"segRR", "segRRL"}},
    {PowerUnit::dBm, L{"segFdb", "segFm"}},
    {PowerUnit::uW, L{"segFuW", {}}},
    {PowerUnit::mW, L{"segFm", "segFW"}},
    {PowerUnit::W, L{"segFW", {}}},
    {PowerUnit::KW, L{"segFKW", {}}},
    {PowerUnit::AutoW, L{"segFW", {}}},
});

constinit const AnnunciatorTable mainReflectedAnnunciators = table({
    {PowerUnit::dB, L{"segRdb", {}}},
    {PowerUnit::Rho, L{"segRRho", {}}},
    {PowerUnit::VSWR, L{"segRVSWR", "segRR"}},
    {PowerUnit::ReturnLoss, L{"segRR", "segRRL"}},
    {PowerUnit::dBm, L{"segRdb", "segRm"}},
    {PowerUnit::uW, L{"segRuW", {}}},
    {PowerUnit::mW, L{"segRm", "segRW"}},
    {PowerUnit::W, L{"segRW", {}}},
    {PowerUnit::KW, L{"segRKW", {}}},
    {PowerUnit::AutoW, L{"segRW", {}}},
});

constinit const AnnunciatorTable peakValueAnnunciators = table({
    {PowerUnit::dB, L{"segPdb", {}}},
    {PowerUnit::dBm, L{"segPdb", "segPm"}},
    {PowerUnit::uW, L{"segPuW", {}}},
    {PowerUnit::mW, L{"segPm", "segPW"}},
    {PowerUnit::W, L{"segPW", {}}},
    {PowerUnit::KW, L{"segPKW", {}}},
    {PowerUnit::AutoW, L{"segPW", {}}},
});

constinit const AnnunciatorTable peakVswrAnnunciators = table({
    {PowerUnit::VSWR, L{"segPRVSWR", "segPRR"}},
});

constinit const AnnunciatorTable burstAnnunciators = table({
    {PowerUnit::dB, L{"segBdb", {}}},
    {PowerUnit::dBm, L{"segBdb", "segBm"}},
    {PowerUnit::uW, L{"segBuW", {}}},
    {PowerUnit::mW, L{"segBm", "segBW"}},
    {PowerUnit::W, L{"segBW", {}}},
    {PowerUnit::KW, L{"segBKW", {}}},
    {PowerUnit::AutoW, L{"segBW", {}}},
});

std::string_view unitName(PowerUnit u) {
  switch (u) {
    case PowerUnit::None:
      return "None";
    case PowerUnit::dB:
      return "dB";
    case PowerUnit::Rho:
      return "Rho";
    case PowerUnit::VSWR:
      return "VSWR";
    case PowerUnit::ReturnLoss:
      return "ReturnLoss";
    case PowerUnit::dBm:
      return "dBm";
    case PowerUnit::uW:
      return "uW";
    case PowerUnit::mW:
      return "mW";
    case PowerUnit::W:
      return "W";
    case PowerUnit::KW:
      return "KW";
    case PowerUnit::AutoW:
      return "AutoW";
    case PowerUnit::MegaW:
      return "MegaW";
  }
  return "?";
}

std::string_view unitDisplayText(PowerUnit u) {
  switch (u) {
    case PowerUnit::None:
      return "";
    case PowerUnit::ReturnLoss:
      return "Return Loss";
    case PowerUnit::uW:
      return "\xC2\xB5W";
    case PowerUnit::AutoW:
      return "W";
    case PowerUnit::MegaW:
      return "MW";
    default:
      return unitName(u) == "?" ? "" : unitName(u);
  }
}

bool parseUnitName(std::string_view text, PowerUnit& out) {
  std::string t(text);
  std::transform(t.begin(), t.end(), t.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (t == "auto") t = "autow";
  if (t == "rl") t = "returnloss";
  for (int c = 0; c < kPowerUnitCodes; ++c) {
    auto u = static_cast<PowerUnit>(c);
    std::string n(unitName(u));
    std::transform(n.begin(), n.end(), n.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    if (n != "?" && n == t) {
      out = u;
      return true;
    }
  }
  return false;
}

PowerUnit nextUnit(std::span<const PowerUnit> cycle, PowerUnit current) {
  if (cycle.empty()) return current;
  auto it = std::find(cycle.begin(), cycle.end(), current);
  if (it == cycle.end() || std::next(it) == cycle.end()) return cycle.front();
  return *std::next(it);
}

}  // namespace zrq::core
