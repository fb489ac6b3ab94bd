#include "journal/session_target.h"

#include <string>

#include "host/host_internals.h"

namespace orvik::tool {

JournalTarget JournalTargetOf(const TargetOptions& options, uint32_t chipId) {
  if (!options.device) return SimulatedPlayerTarget(options.playerDir);
  std::string object = host::DeviceObjectPrefix(false);
  if (options.instance >= 0) object += std::to_string(options.instance);
  return DevicePlayerTarget(object, chipId);
}

}  // namespace orvik::tool
