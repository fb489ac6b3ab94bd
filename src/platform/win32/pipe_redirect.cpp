// The named-pipe redirect of device objects (tests only).
#include "platform/win32/pipe_redirect.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace orvik::os::win32 {
namespace {

constexpr const char kDevicePrefix[] = "\\\\.\\";
constexpr const char kPipePrefix[] = "\\\\.\\pipe\\";

struct Redirect {
  std::mutex mutex;
  std::string pipePrefix;
};

// In static storage, never destroyed: the first open allocates nothing.
Redirect& TheRedirect() {
  alignas(Redirect) static unsigned char storage[sizeof(Redirect)];
  static Redirect* redirect = new (storage) Redirect;
  return *redirect;
}

}  // namespace

void RedirectDevicesToPipes(const std::string& pipePrefix) {
  Redirect& redirect = TheRedirect();
  std::lock_guard<std::mutex> guard(redirect.mutex);
  redirect.pipePrefix = pipePrefix;
}

bool RedirectedPipeName(const char* deviceName, char* pipeName, size_t size) {
  if (deviceName == nullptr || pipeName == nullptr || size == 0) return false;
  const size_t device = sizeof kDevicePrefix - 1;
  const size_t pipe = sizeof kPipePrefix - 1;
  if (std::strncmp(deviceName, kDevicePrefix, device) != 0 ||
      std::strncmp(deviceName, kPipePrefix, pipe) == 0)
    return false;
  Redirect& redirect = TheRedirect();
  std::lock_guard<std::mutex> guard(redirect.mutex);
  if (redirect.pipePrefix.empty()) return false;
  int written = std::snprintf(pipeName, size, "%s%s%s", kPipePrefix, redirect.pipePrefix.c_str(),
                              deviceName + device);
  return written > 0 && static_cast<size_t>(written) < size;
}

}  // namespace orvik::os::win32
