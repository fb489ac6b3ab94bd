// The orvik command line: the global options, every command's registration,
// parsing, running the chosen command, and the one report at the end (in
// words, or the JSON document).  Both programs, orvik and its alias
// orvik-sim, are this function.
#pragma once

namespace orvik::tool {

// argv[0] names the program; returns the exit code.
int RunCommandLine(int argc, const char* const* argv);

}  // namespace orvik::tool
