#include "terminal/usage_error.h"

#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/exit_codes.h"

namespace orvik::tool {
namespace {

// The word CLI11 could not place: the first word that is neither an
// option, an option's value nor a known command, and the command whose
// subcommands it should have named.  Empty when there is none.
std::string UnknownCommandWord(const CLI::App& app, int argc, const char* const* argv,
                               const CLI::App** parent) {
  const CLI::App* current = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("-", 0) == 0) {
      const bool takesValue = word == "--player" || word == "--instance" || word == "--color";
      if (takesValue && word.find('=') == std::string::npos) ++i;
      continue;
    }
    const std::vector<const CLI::App*> commands = current->get_subcommands({});
    if (commands.empty()) return {};  // a command's own positional values
    bool known = false;
    for (const CLI::App* sub : commands)
      if (sub->get_name() == word) {
        current = sub;
        known = true;
        break;
      }
    if (!known) {
      *parent = current;
      return word;
    }
  }
  return {};
}

std::string CommandNames(const CLI::App& app) {
  std::string names;
  for (const CLI::App* sub : app.get_subcommands({}))
    names += (names.empty() ? "" : ", ") + sub->get_name();
  return names;
}

}  // namespace

int ReportUsageError(const CLI::App& app, const CLI::ParseError& failure, int argc,
                     const char* const* argv, bool json) {
  std::string what = failure.what();
  const CLI::App* parent = &app;
  const std::string unknown = UnknownCommandWord(app, argc, argv, &parent);
  if (!unknown.empty())
    what = "\"" + unknown + "\" is not a command (the commands are: " + CommandNames(*parent) + ")";
  if (json) {
    nlohmann::json document = {
        {"command", nullptr},
        {"ok", false},
        {"exitCode", kExitUsage},
        {"target", nullptr},
        {"result", nullptr},
        {"error", {{"code", "usage"}, {"message", what}, {"action", "See `orvik --help`."}}}};
    std::cout << document.dump(2) << "\n";
  } else {
    std::cerr << "orvik: " << what
              << "\nRun `orvik --help` (or `orvik COMMAND "
                 "--help`) to see the commands and options.\n";
  }
  return kExitUsage;
}

}  // namespace orvik::tool
