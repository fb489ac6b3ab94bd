// Names of the player's device objects.
#include "transport/device_name.h"

#include <cstdio>

namespace orvik::transport {

const char* DeviceNamePrefix(const os::PlatformVersion& version) {
  bool ntFamily = version.platformId == os::kPlatformNt;
  bool windowsMe = version.major == 4 && version.minor >= 90;
  return ntFamily || windowsMe ? os::kDeviceObjectPrefix : os::kDeviceObjectPrefix9x;
}

DeviceNameText DeviceName(const char* prefix, int instance, bool recovery) {
  DeviceNameText name;
  if (recovery)
    std::snprintf(name.text, sizeof name.text, "\\\\.\\%s%d", os::kRecoveryObjectPrefix, instance);
  else
    std::snprintf(name.text, sizeof name.text, "\\\\.\\%s%d", prefix, instance);
  return name;
}

}  // namespace orvik::transport
