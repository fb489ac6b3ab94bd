// The host's event as the library sees it.
#pragma once

#include "platform/os.h"

namespace orvik::os {

// The event a host passes as "void* event" (a Win32 event HANDLE, or an
// OrvikPosixEvent on POSIX) as an event of the seam; nullptr stays nullptr.
EventHandle EventFromHost(void* hostEvent);

}  // namespace orvik::os
