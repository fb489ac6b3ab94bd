// The player's description, its device objects and the registry
// reservation, as the library names and reads them.
#include "host/host_internals.h"
#include "platform/device_driver.h"
#include "platform/registry_export.h"
#include "protocol/command_frame.h"
#include "protocol/device_queries.h"

namespace orvik::host {

std::optional<std::vector<std::pair<uint32_t, uint32_t>>> ReadDeviceDescription() {
  uint8_t frame[3] = {};
  protocol::PutWord24(frame, protocol::CMD_GET_DEVICE_INFO);
  uint8_t reply[protocol::kDeviceInfoLength] = {};
  if (OrvikDDWrite(frame, sizeof frame) != 1 || OrvikDDRead(reply, sizeof reply) != 1)
    return std::nullopt;
  std::vector<std::pair<uint32_t, uint32_t>> items;
  const uint32_t count = protocol::DeviceInfoItemCount(reply);
  for (uint32_t i = 0; i < count; ++i)
    items.emplace_back(protocol::DeviceInfoTag(reply, i), protocol::DeviceInfoValue(reply, i));
  return items;
}

const char* DeviceObjectPrefix(bool recovery) {
  return recovery ? os::kRecoveryObjectPrefix : os::kDeviceObjectPrefix;
}

ReservationRegistry ReservationRegistryNames() {
  return {os::kReservationKey, os::kReservationSubKey, os::kReservationValue};
}

std::optional<uint32_t> ReservationInExport(std::string_view exportText) {
  return os::QueryRegistryExport(exportText, os::kReservationKey, os::kReservationValue);
}

std::string ReservationExport(uint32_t kiloBytes) { return os::FormatReservationExport(kiloBytes); }

std::string ReservationFilePath(const char* xdgConfigHome, const char* home) {
  return os::ReservationFilePath(nullptr, xdgConfigHome, home);
}

}  // namespace orvik::host
