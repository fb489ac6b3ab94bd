// Failure lines through the seam's debug output.
#include "platform/trace.h"

#include <cstdarg>
#include <cstdio>

#include "platform/os.h"

namespace orvik::os {

void TraceFailure(const char* format, ...) {
  Os& os = TheOs();
  if (!os.TraceEnabled()) return;
  char line[256] = "orvik: ";
  constexpr size_t kPrefix = 7;
  constexpr size_t kRoom = sizeof line - kPrefix - 1;  // one byte for the newline
  std::va_list arguments;
  va_start(arguments, format);
  int written = std::vsnprintf(line + kPrefix, kRoom, format, arguments);
  va_end(arguments);
  size_t end = kPrefix + (written < 0                            ? 0
                          : static_cast<size_t>(written) < kRoom ? static_cast<size_t>(written)
                                                                 : kRoom - 1);
  line[end] = '\n';
  line[end + 1] = '\0';
  os.DebugOutput(line);
}

}  // namespace orvik::os
