// Registry of in-process device objects, shared by every platform.
#include <map>
#include <mutex>

#include "platform/device_driver.h"

namespace orvik::os {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<DeviceDriver>> drivers;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: usable during exit
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

std::shared_ptr<DeviceDriver> FindRegisteredDevice(const std::string& name) {
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

std::string DeviceObjectName(const char* fullName) {
  std::string name = fullName == nullptr ? "" : fullName;
  static const std::string kPrefix = "\\\\.\\";
  if (name.compare(0, kPrefix.size(), kPrefix) == 0) name.erase(0, kPrefix.size());
  return name;
}

}  // namespace orvik::os
