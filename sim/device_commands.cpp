// Class 0: device information, power word, chip revision.
#include <algorithm>
#include <cstdio>

#include "sim/commands.h"

namespace orvik::sim {
namespace {

constexpr uint32_t CMD_GET_DEVICE_INFO = 0x0003;
constexpr uint32_t CMD_GET_POWER_STATUS = 0x000A;
constexpr uint32_t CMD_GET_CHIP_REVISION = 0x000C;
constexpr uint32_t kDeviceInfoBytes = 64;
constexpr size_t kMaxInfoItems = 10;

std::vector<uint8_t> DeviceInfoRecord(const PlayerConfig& config) {
  std::vector<std::pair<uint32_t, uint32_t>> items = {
      {0, config.infoTag0}, {1, config.dccVersion}, {2, config.infoTag2}};
  items.insert(items.end(), config.extraInfoItems.begin(), config.extraInfoItems.end());
  if (items.size() > kMaxInfoItems) items.resize(kMaxInfoItems);
  std::vector<uint8_t> record(kDeviceInfoBytes, 0);
  PutLittleEndian(&record[0], 3, items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    PutLittleEndian(&record[3 + 6 * i], 3, items[i].first);
    PutLittleEndian(&record[6 + 6 * i], 3, items[i].second);
  }
  return record;
}

std::vector<uint8_t> OneWord(uint32_t value) {
  std::vector<uint8_t> reply(3, 0);
  PutLittleEndian(&reply[0], 3, value);
  return reply;
}

}  // namespace

CommandOutcome HandleDeviceCommand(PlayerState& state, const Frame& frame) {
  if (frame.Direction() != 0)
    return CommandOutcome::Violation("device command " + Hex(frame.CommandWord()) +
                                     " carries direction bits");
  if (frame.Length() != 3)
    return CommandOutcome::Violation("device command " + Hex(frame.CommandWord()) + " of " +
                                     std::to_string(frame.Length()) + " bytes, not 3");
  switch (frame.Command()) {
    case CMD_GET_DEVICE_INFO:
      return CommandOutcome::Reply("device information", DeviceInfoRecord(state.config));
    case CMD_GET_POWER_STATUS:
      return CommandOutcome::Reply("power status", OneWord(state.config.powerWord));
    case CMD_GET_CHIP_REVISION:
      return CommandOutcome::Reply("chip revision", OneWord(state.config.chipRevision));
    default:
      return CommandOutcome::Violation("unknown device command " + Hex(frame.CommandWord()));
  }
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace orvik::sim
