// Selection of the OS implementation in use.
#include "platform/os.h"

#include <atomic>

namespace orvik::os {
namespace {
std::atomic<Os*> gOverride{nullptr};
}  // namespace

Os& TheOs() {
  Os* override = gOverride.load(std::memory_order_acquire);
  return override != nullptr ? *override : PlatformOs();
}

ScopedOsOverride::ScopedOsOverride(Os& replacement)
    : previous_(gOverride.exchange(&replacement, std::memory_order_acq_rel)) {}

ScopedOsOverride::~ScopedOsOverride() { gOverride.store(previous_, std::memory_order_release); }

}  // namespace orvik::os
