// A test hook: device objects served by named pipes.
//
// The Win32 transfer path is tested without the player's driver by serving
// a device object from a named pipe in the test process.  While a redirect
// is set, a device name "\\.\<object>" that no in-process driver serves is
// opened as the pipe "\\.\pipe\<prefix><object>" (with the same CreateFileA
// access, share mode and flags) and read in message mode, so that one read
// takes one reply as it does from the driver.  Without a redirect, which is
// how the library always runs outside tests, names are opened exactly as
// given.
#pragma once

#include <string>

namespace orvik::os::win32 {

// Sets the pipe name prefix; an empty prefix ends the redirect.
void RedirectDevicesToPipes(const std::string& pipePrefix);

// The pipe name that stands for deviceName, or "" when nothing is redirected
// (no redirect set, or not a "\\.\" device name).
std::string RedirectedPipeName(const char* deviceName);

// Sets a redirect for the lifetime of the object.
class ScopedPipeRedirect {
 public:
  explicit ScopedPipeRedirect(const std::string& pipePrefix) { RedirectDevicesToPipes(pipePrefix); }
  ~ScopedPipeRedirect() { RedirectDevicesToPipes(std::string()); }
  ScopedPipeRedirect(const ScopedPipeRedirect&) = delete;
  ScopedPipeRedirect& operator=(const ScopedPipeRedirect&) = delete;
};

}  // namespace orvik::os::win32
