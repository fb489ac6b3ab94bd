// How each orvik command joins the command line.  A command's file adds the
// command and its options to its parent and leaves a runner that holds what
// the options were parsed into; after parsing, the runner of the command the
// line chose is called.  So a command's options and its work sit side by
// side, and the program's main only parses and reports.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "commands/context.h"

namespace orvik::tool {

// Does the command's work: returns its exit code, fills the context's
// result, throws ToolError when it fails.
using CommandRunner = std::function<int(CommandContext&)>;

class CommandTable {
 public:
  // Adds the command name under parent; run is called when the line names it.
  CLI::App* Add(CLI::App& parent, const std::string& name, const std::string& description,
                CommandRunner run);

  // The runner of the command the parsed line chose, or nullptr.
  const CommandRunner* Chosen() const;

 private:
  std::vector<std::pair<const CLI::App*, CommandRunner>> commands_;
};

}  // namespace orvik::tool
