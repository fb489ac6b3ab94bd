// Names of the player's device objects.
#pragma once

#include "platform/os.h"

namespace orvik::transport {

inline constexpr int kInstanceScanCount = 100;  // instances 0 to 99

// "TEMBROr" on the NT family and on Windows ME (4.90 and later 4.x),
// "TEMBROu" on Windows 95 and 98 and on any other platform id.
const char* DeviceNamePrefix(const os::PlatformVersion& version);

// A device object's full name, in the 64-byte buffer it is built in: the
// open allocates nothing for it ("\\.\OrvikRecDevice99" would not fit a
// string's small buffer).
struct DeviceNameText {
  char text[64] = {};
  const char* c_str() const { return text; }
};

// "\\.\<prefix><n>" for the normal object, "\\.\OrvikRecDevice<n>" for the
// recovery object; n is the signed 8-bit instance number in decimal.
DeviceNameText DeviceName(const char* prefix, int instance, bool recovery);

}  // namespace orvik::transport
