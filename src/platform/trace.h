// Failure lines for hosts that debug: with ORVIK_DEBUG set, every failing
// path of the media, programming, format and card operations says in one
// line which step failed, on which block or address, and why, so that one
// status code has one known cause.  Without ORVIK_DEBUG nothing is formatted
// or written.
#pragma once

namespace orvik::os {

// Writes "orvik: " + the formatted text + "\n" through the seam's debug
// output when tracing is enabled.  Lines longer than 240 characters are cut.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void TraceFailure(const char* format, ...);

}  // namespace orvik::os
