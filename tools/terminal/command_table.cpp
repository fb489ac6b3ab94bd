#include "terminal/command_table.h"

namespace orvik::tool {

CLI::App* CommandTable::Add(CLI::App& parent, const std::string& name,
                            const std::string& description, CommandRunner run) {
  CLI::App* command = parent.add_subcommand(name, description);
  commands_.emplace_back(command, std::move(run));
  return command;
}

const CommandRunner* CommandTable::Chosen() const {
  for (const auto& [command, run] : commands_)
    if (command->parsed()) return &run;
  return nullptr;
}

}  // namespace orvik::tool
