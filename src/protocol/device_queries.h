// Device-level commands: device information, power status, chip revision.
#pragma once

#include <cstdint>

namespace orvik::protocol {

inline constexpr uint32_t CMD_GET_DEVICE_INFO = 0x000003;
inline constexpr uint32_t CMD_GET_POWER_STATUS = 0x00000A;
inline constexpr uint32_t CMD_GET_CHIP_REVISION = 0x00000C;

inline constexpr uint32_t kDeviceInfoLength = 64;
inline constexpr uint32_t kDeviceInfoMaxItems = 10;
inline constexpr uint32_t INFO_TAG_0 = 0;
inline constexpr uint32_t INFO_TAG_DCC_VERSION = 1;
inline constexpr uint32_t INFO_TAG_2 = 2;

// Sends the device-information command and reads its 64-byte reply.
bool ReadDeviceInfo(uint8_t (&record)[kDeviceInfoLength]);
// The number of items a reader considers: the count, at most 10.
uint32_t DeviceInfoItemCount(const uint8_t (&record)[kDeviceInfoLength]);
// Tag and value of item i (masked to 24 bits).
uint32_t DeviceInfoTag(const uint8_t (&record)[kDeviceInfoLength], uint32_t item);
uint32_t DeviceInfoValue(const uint8_t (&record)[kDeviceInfoLength], uint32_t item);

// Reads the description; each non-null pointer whose tag occurs receives the
// value of the last item with that tag.  false when the exchange failed.
bool ParseDeviceInfo(uint32_t* tag0, uint32_t* dccVersion, uint32_t* tag2);

// The power word; nothing is stored when the exchange fails.
bool ReadPowerStatus(uint32_t* power);
// The chip-revision word.
bool ReadChipRevision(uint32_t* revision);

}  // namespace orvik::protocol
