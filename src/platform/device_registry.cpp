// Registry of in-process device objects, shared by every platform.
#include <map>
#include <mutex>
#include <new>

#include "platform/device_driver.h"

namespace orvik::os {
namespace {

struct Registry {
  std::mutex mutex;
  // std::less<> lets an open look a name up as a view, without a string.
  std::map<std::string, std::shared_ptr<DeviceDriver>, std::less<>> drivers;
};

// Built in static storage and never destroyed: usable during exit, and the
// first lookup (an open with nothing registered) allocates nothing.
Registry& TheRegistry() {
  alignas(Registry) static unsigned char storage[sizeof(Registry)];
  static Registry* registry = new (storage) Registry;
  return *registry;
}

}  // namespace

void RegisterDevice(const std::string& name, std::shared_ptr<DeviceDriver> driver) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  registry.drivers[name] = std::move(driver);
}

void UnregisterDevice(const std::string& name) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  registry.drivers.erase(name);
}

std::shared_ptr<DeviceDriver> FindRegisteredDevice(std::string_view name) noexcept {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  auto found = registry.drivers.find(name);
  return found == registry.drivers.end() ? nullptr : found->second;
}

std::vector<std::string> RegisteredDeviceNames() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  std::vector<std::string> names;
  for (const auto& entry : registry.drivers) names.push_back(entry.first);
  return names;
}

std::string_view DeviceObjectName(const char* fullName) noexcept {
  std::string_view name = fullName == nullptr ? std::string_view() : fullName;
  constexpr std::string_view kPrefix = "\\\\.\\";
  if (name.substr(0, kPrefix.size()) == kPrefix) name.remove_prefix(kPrefix.size());
  return name;
}

}  // namespace orvik::os
