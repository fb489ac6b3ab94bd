// Names of the player's device objects.
#include "transport/device_name.h"

#include <cstdio>

namespace orvik::transport {

const char* DeviceNamePrefix(const os::PlatformVersion& version) {
  bool ntFamily = version.platformId == os::kPlatformNt;
  bool windowsMe = version.major == 4 && version.minor >= 90;
  return ntFamily || windowsMe ? "TEMBROr" : "TEMBROu";
}

std::string DeviceName(const char* prefix, int instance, bool recovery) {
  char name[64];  // the name is built in a 64-byte buffer
  if (recovery)
    std::snprintf(name, sizeof name, "\\\\.\\OrvikRecDevice%d", instance);
  else
    std::snprintf(name, sizeof name, "\\\\.\\%s%d", prefix, instance);
  return name;
}

}  // namespace orvik::transport
