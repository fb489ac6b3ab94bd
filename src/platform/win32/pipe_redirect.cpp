// The named-pipe redirect of device objects (tests only).
#include "platform/win32/pipe_redirect.h"

#include <mutex>

namespace orvik::os::win32 {
namespace {

constexpr const char kDevicePrefix[] = "\\\\.\\";
constexpr const char kPipePrefix[] = "\\\\.\\pipe\\";

struct Redirect {
  std::mutex mutex;
  std::string pipePrefix;
};

Redirect& TheRedirect() {
  static Redirect* redirect = new Redirect;
  return *redirect;
}

}  // namespace

void RedirectDevicesToPipes(const std::string& pipePrefix) {
  Redirect& redirect = TheRedirect();
  std::lock_guard<std::mutex> guard(redirect.mutex);
  redirect.pipePrefix = pipePrefix;
}

std::string RedirectedPipeName(const char* deviceName) {
  if (deviceName == nullptr) return std::string();
  std::string name = deviceName;
  const std::string device = kDevicePrefix;
  const std::string pipe = kPipePrefix;
  if (name.compare(0, device.size(), device) != 0 || name.compare(0, pipe.size(), pipe) == 0)
    return std::string();
  Redirect& redirect = TheRedirect();
  std::lock_guard<std::mutex> guard(redirect.mutex);
  if (redirect.pipePrefix.empty()) return std::string();
  return pipe + redirect.pipePrefix + name.substr(device.size());
}

}  // namespace orvik::os::win32
