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

#include <cstddef>
#include <string>

namespace orvik::os::win32 {

// Sets the pipe name prefix; an empty prefix ends the redirect.
void RedirectDevicesToPipes(const std::string& pipePrefix);

// Writes the pipe name that stands for deviceName into pipeName (size
// bytes): true when the name is redirected, false when it is opened as given
// (no redirect set, not a "\\.\" device name, or no room for the pipe's
// name).  Allocates nothing: it is on every open's path.
bool RedirectedPipeName(const char* deviceName, char* pipeName, size_t size);

// Sets a redirect for the lifetime of the object.
class ScopedPipeRedirect {
 public:
  explicit ScopedPipeRedirect(const std::string& pipePrefix) { RedirectDevicesToPipes(pipePrefix); }
  ~ScopedPipeRedirect() { RedirectDevicesToPipes(std::string()); }
  ScopedPipeRedirect(const ScopedPipeRedirect&) = delete;
  ScopedPipeRedirect& operator=(const ScopedPipeRedirect&) = delete;
};

}  // namespace orvik::os::win32
