// The process's library context.
#include "api/library_context.h"

#include <new>

namespace orvik::api {

// The lock lives as long as the process, so a locking export called before
// any open, or after a failed one, is safe.
LibraryContext::LibraryContext() : globalLock_(os::PlatformOs().CreateLock()) {}

LibraryContext& Context() {
  alignas(LibraryContext) static unsigned char storage[sizeof(LibraryContext)];
  static LibraryContext* context = new (storage) LibraryContext;
  return *context;
}

}  // namespace orvik::api
