// Sensor replies of any shape through the parsers and the reply handlers:
// nothing may crash, read out of bounds or accept a reply of the wrong kind.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "AppStatus.h"
#include "SensorProtocol.h"
#include "TKS7730Commands.h"
#include "USB/TKS7730Stats.h"
#include "../tests/RecordingHost.h"
#include "uiface/MsgBox.h"

using namespace zrq::comm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  namespace p = protocol;

  const auto first = p::firstChar(reply);
  const auto intr = p::parseInterrogation(reply);
  if (intr.modelOk != (first == '7')) std::abort();
  if (intr.versionField.size() > 4) std::abort();
  if (auto v = p::normaliseVersion(intr.versionField)) p::versionPasses(*v);
  if (p::parseCalibration(reply).has_value() != (first == 'F')) std::abort();
  if (p::parseSettings(reply).has_value() != (first == 'G')) std::abort();
  if (p::parseZeroCalResult(reply).has_value() != (first == 'Z')) std::abort();
  const std::string sn = p::serialNumberFromReply(reply);
  if (reply.size() > 4 ? sn.size() != reply.size() - 4 : !sn.empty()) std::abort();

  double numbers[3] = {0, 0, 0};
  std::memcpy(numbers, data, std::min(size, sizeof numbers));
  const std::uint8_t type = size > 24 ? data[24] : 1;
  const std::uint8_t unit = size > 25 ? data[25] : 0;
  if (p::buildSettingsCommand(type, numbers[0], numbers[1], unit, numbers[2]).size() != 44)
    std::abort();

  zrq::ui::ScopedScriptedMessageBoxes boxes;
  zrq::comm::test::RecordingHost host;
  MemoryStatsGrid grid;
  TKS7730Stats stats(&grid);
  MemoryStatusMemo memo;
  AppStatus status(&memo);
  TKS7730Commands cmds(host, stats, status);
  // Every handler sees every reply.
  int accepted = 0;
  accepted += cmds.pktInterrogateResponse(reply);
  accepted += cmds.pktConfigResponse(reply);
  accepted += cmds.pktTypeResponse(reply);
  accepted += cmds.pktZeroCalResponse(reply);
  if (accepted > 1) std::abort();  // a reply is of one kind only
  if (accepted && first != '7' && first != 'F' && first != 'G' && first != 'Z') std::abort();
  return 0;
}
