// How each orvik command joins the command line.  A command's file adds the
// command and its options to its parent, binding the options to state the
// table holds, and leaves a runner that reads that state; after parsing, the
// runner of the command the line chose is called.  So a command's options
// and its work sit side by side, and the program's main only parses and
// reports.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/operation.h"

namespace orvik::tool {

// Does the command's work: returns its exit code, fills the context's
// result, throws ToolError when it fails.
using CommandRunner = std::function<int(OperationContext&)>;

class CommandTable {
 public:
  // Adds the command name under parent; run is called when the line names it.
  CLI::App* Add(CLI::App& parent, const std::string& name, const std::string& description,
                CommandRunner run);

  // What options are parsed into: made from args, kept as long as the
  // table (the options refer to it until parsing ends, whoever else does).
  template <class State, class... Args>
  std::shared_ptr<State> Hold(Args&&... args) {
    auto state = std::make_shared<State>(std::forward<Args>(args)...);
    held_.push_back(state);
    return state;
  }

  // The runner of the command the parsed line chose, or nullptr.
  const CommandRunner* Chosen() const;

 private:
  std::vector<std::pair<const CLI::App*, CommandRunner>> commands_;
  std::vector<std::shared_ptr<void>> held_;
};

}  // namespace orvik::tool
