// The DCC version of the last description read.
#include "api/device_description.h"

#include <atomic>

namespace orvik::api {
namespace {
std::atomic<uint32_t> gDccVersion{0};
}

uint32_t DccVersion() { return gDccVersion.load(std::memory_order_relaxed); }

void SetDccVersion(uint32_t version) {
  gDccVersion.store(version & 0xFFFFFFu, std::memory_order_relaxed);
}

}  // namespace orvik::api
