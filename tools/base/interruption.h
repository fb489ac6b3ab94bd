// Ctrl-C during a media operation.
//
// Killing the process in the middle of a library call would cut a transfer
// off part-way and leave nobody to say what state the player is in.  While
// a guard is alive, SIGINT and SIGTERM (the console's Ctrl-C and close
// events on Windows) only note the request and print one line; the tool
// lets the running library call finish or fail and then stops, through
// ThrowIfInterrupted, with the player's state and the recovery step, and
// exit code 130.
#pragma once

#include <string>

namespace orvik::tool {

inline constexpr int kExitInterrupted = 130;

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

bool InterruptRequested();

// A closed output (`orvik reflash | head`) must not end the process in the
// middle of a library call: the tool ignores SIGPIPE, so a write to the
// closed pipe fails and is dropped while the operation runs to its end.
void KeepRunningWhenOutputCloses();

// Throws ToolError "interrupted" (exit 130) when Ctrl-C was pressed, with
// the state the player is left in and what to do next.
void ThrowIfInterrupted(const std::string& playerState, const std::string& action);

}  // namespace orvik::tool
