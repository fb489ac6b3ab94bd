// Device-level commands.
#include "protocol/device_queries.h"

#include <algorithm>

#include "protocol/command_frame.h"

namespace orvik::protocol {
namespace {

bool QueryWord(uint32_t command, uint32_t* word) {
  CommandFrame frame(1);
  frame.SetWord(0, DeviceCommandWord(command));
  uint8_t reply[3] = {};
  if (!ExchangeFrame(frame, reply, sizeof reply)) return false;
  *word = GetWord24(reply);
  return true;
}

}  // namespace

bool ReadDeviceInfo(uint8_t (&record)[kDeviceInfoLength]) {
  CommandFrame frame(1);
  frame.SetWord(0, DeviceCommandWord(CMD_GET_DEVICE_INFO));
  return ExchangeFrame(frame, record, kDeviceInfoLength);
}

uint32_t DeviceInfoItemCount(const uint8_t (&record)[kDeviceInfoLength]) {
  return std::min(GetWord24(record), kDeviceInfoMaxItems);
}

uint32_t DeviceInfoTag(const uint8_t (&record)[kDeviceInfoLength], uint32_t item) {
  return GetWord24(&record[3 + 6 * item]);
}

uint32_t DeviceInfoValue(const uint8_t (&record)[kDeviceInfoLength], uint32_t item) {
  return GetWord24(&record[6 + 6 * item]);
}

bool ParseDeviceInfo(uint32_t* tag0, uint32_t* dccVersion, uint32_t* tag2) {
  uint8_t record[kDeviceInfoLength] = {};
  if (!ReadDeviceInfo(record)) return false;
  uint32_t* targets[] = {tag0, dccVersion, tag2};
  for (uint32_t item = 0; item < DeviceInfoItemCount(record); ++item) {
    uint32_t tag = DeviceInfoTag(record, item);
    if (tag <= INFO_TAG_2 && targets[tag] != nullptr) *targets[tag] = DeviceInfoValue(record, item);
  }
  return true;
}

bool ReadPowerStatus(uint32_t* power) {
  uint32_t word = 0;
  if (!QueryWord(CMD_GET_POWER_STATUS, &word)) return false;
  if (power != nullptr) *power = word;
  return true;
}

bool ReadChipRevision(uint32_t* revision) { return QueryWord(CMD_GET_CHIP_REVISION, revision); }

}  // namespace orvik::protocol
