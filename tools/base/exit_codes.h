// The few exit codes of the orvik tool (also documented in the README and in
// `orvik --help`).
#pragma once

namespace orvik::tool {

inline constexpr int kExitDone = 0;         // the command did what it was asked
inline constexpr int kExitFailed = 1;       // it failed: the message says why and what to do
inline constexpr int kExitNothingToDo = 2;  // nothing needed doing (firmware already up to date)
// check and verify looked at the whole player and found something wrong
// (the problems are listed, each with its fix).
inline constexpr int kExitProblemsFound = 3;
// check could not look: no player answered, or it stopped answering.
inline constexpr int kExitCouldNotCheck = 4;
// The work was done, but reading it back failed: the result is not
// confirmed (`orvik check` tells).
inline constexpr int kExitUnconfirmed = 5;
inline constexpr int kExitUsage = 64;  // the command line itself was wrong

}  // namespace orvik::tool
