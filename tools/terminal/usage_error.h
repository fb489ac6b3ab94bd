// A command line that does not parse: the message names the word that is
// not a command (and the commands it could have been), then points to
// --help, in words or as the JSON document.
#pragma once

#include <CLI/CLI.hpp>

namespace orvik::tool {

// Prints the failure (on standard output as JSON with json, else on
// standard error) and returns kExitUsage.
int ReportUsageError(const CLI::App& app, const CLI::ParseError& failure, int argc,
                     const char* const* argv, bool json);

}  // namespace orvik::tool
