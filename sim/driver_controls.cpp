#include "sim/driver_controls.h"

#include <cstring>

#include "sim/byte_order.h"

namespace orvik::sim {
namespace {

struct ControlShape {
  uint32_t code;
  const char* name;
  uint32_t inLength;
  uint32_t outLength;
};

constexpr ControlShape kControls[] = {
    {kIoctlGetUserData, "get user data", 0, 16},
    {kIoctlSetUserData, "set user data", 16, 0},
    {kIoctlReconfigure, "reconfigure", 0, 0},
    {kIoctlGetDeviceVersion, "get device version", 0, 4},
    {kIoctlGetDeviceStatus, "get device status", 0, 4},
    {kIoctlGetChipId, "get chip id", 0, 4},
};

const ControlShape* FindControl(uint32_t code) {
  for (const ControlShape& shape : kControls)
    if (shape.code == code) return &shape;
  return nullptr;
}

os::DeviceAnswer Word(uint8_t* out, uint32_t value) {
  PutLittleEndian(out, 4, value);
  return os::DeviceAnswer::Done(4);
}

}  // namespace

const char* ControlName(uint32_t code) {
  const ControlShape* shape = FindControl(code);
  return shape == nullptr ? "unknown" : shape->name;
}

os::DeviceAnswer HandleControl(PlayerState& state, uint32_t code, const uint8_t* in,
                               uint32_t inLength, uint8_t* out, uint32_t outLength) {
  const ControlShape* shape = FindControl(code);
  if (shape == nullptr) return os::DeviceAnswer::Failed(os::kErrorNotSupported);
  if (inLength != shape->inLength || outLength != shape->outLength ||
      (inLength != 0 && in == nullptr) || (outLength != 0 && out == nullptr)) {
    state.NoteViolation(std::string(shape->name) + " with " + std::to_string(inLength) +
                        " bytes in and " + std::to_string(outLength) + " bytes out");
    return os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
  }
  DriverConfig& driver = state.config.driver;
  switch (code) {
    case kIoctlGetUserData: {
      const _USER_DATA& data = state.userData;
      PutLittleEndian(out, 4, data.ownerFlag);
      PutLittleEndian(out + 4, 4, data.formatStatus);
      PutLittleEndian(out + 8, 4, data.blockingFlag);
      PutLittleEndian(out + 12, 4, data.reservedWord);
      return os::DeviceAnswer::Done(16);
    }
    case kIoctlSetUserData:
      state.userData = _USER_DATA{GetLittleEndian32(in), GetLittleEndian32(in + 4),
                                  GetLittleEndian32(in + 8), GetLittleEndian32(in + 12)};
      return os::DeviceAnswer::Done(0);
    case kIoctlReconfigure:
      if (driver.reconfigureRefusals > 0) {
        --driver.reconfigureRefusals;
        return os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
      }
      return os::DeviceAnswer::Done(0);
    case kIoctlGetDeviceVersion:
      return Word(out, driver.versionWord);
    case kIoctlGetDeviceStatus:
      if (driver.statusReturnsNoData) return os::DeviceAnswer::Done(0);
      return Word(out, state.InRecovery() ? driver.recoveryStatusWord : driver.statusWord);
    default:
      return Word(out, driver.chipId);
  }
}

}  // namespace orvik::sim
