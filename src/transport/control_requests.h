// The driver's control requests: synchronous requests on the session's
// device handle, built with CTL_CODE(FILE_DEVICE_UNKNOWN, function,
// METHOD_BUFFERED, FILE_ANY_ACCESS).
#pragma once

#include <cstdint>

#include "orvik/orvik.h"

namespace orvik::transport {

constexpr uint32_t ControlCode(uint32_t deviceType, uint32_t function, uint32_t method,
                               uint32_t access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

inline constexpr uint32_t kFileDeviceUnknown = 0x22;
inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kFileAnyAccess = 0;

inline constexpr uint32_t kIoctlGetUserData =
    ControlCode(kFileDeviceUnknown, 0x800, kMethodBuffered, kFileAnyAccess);
inline constexpr uint32_t kIoctlSetUserData =
    ControlCode(kFileDeviceUnknown, 0x801, kMethodBuffered, kFileAnyAccess);
inline constexpr uint32_t kIoctlReconfigure =
    ControlCode(kFileDeviceUnknown, 0x802, kMethodBuffered, kFileAnyAccess);
inline constexpr uint32_t kIoctlGetDeviceVersion =
    ControlCode(kFileDeviceUnknown, 0x806, kMethodBuffered, kFileAnyAccess);
inline constexpr uint32_t kIoctlGetDeviceStatus =
    ControlCode(kFileDeviceUnknown, 0x807, kMethodBuffered, kFileAnyAccess);
inline constexpr uint32_t kIoctlGetChipId =
    ControlCode(kFileDeviceUnknown, 0x808, kMethodBuffered, kFileAnyAccess);

static_assert(kIoctlGetUserData == 0x222000 && kIoctlSetUserData == 0x222004 &&
              kIoctlReconfigure == 0x222008 && kIoctlGetDeviceVersion == 0x222018 &&
              kIoctlGetDeviceStatus == 0x22201C && kIoctlGetChipId == 0x222020);

inline constexpr uint32_t kReconfigureAttempts = 11;
inline constexpr uint32_t kReconfigurePauseMs = 250;

// A control request on the session's handle; false without a session.
// Atomic with respect to every other exchange.
bool ControlRequest(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                    uint32_t* returned);

// Reads fail unless the driver returns the whole record or word; the
// output is written only on success.
bool GetUserData(_USER_DATA* record);
bool SetUserData(const _USER_DATA* record);
// 0 failed, 1 normal, 2 another word, 3 no bytes; 1 to 3 bytes: failed.
DEVICE_STATUS GetDeviceStatus();
bool SetFormatStatus(int status);
bool GetDeviceVersion(ORVIK_ULONG* version);
bool Reconfigure();
ORVIK_ULONG GetChipId();

}  // namespace orvik::transport
