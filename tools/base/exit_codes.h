// The few exit codes of the orvik tool (also documented in the README and in
// `orvik --help`).
#pragma once

namespace orvik::tool {

inline constexpr int kExitDone = 0;         // the command did what it was asked
inline constexpr int kExitFailed = 1;       // it failed: the message says why and what to do
inline constexpr int kExitNothingToDo = 2;  // nothing needed doing (firmware already up to date)
inline constexpr int kExitUsage = 64;       // the command line itself was wrong

}  // namespace orvik::tool
