#include "cli/confirmation.h"

#include <fmt/format.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/exit_codes.h"
#include "output/tool_error.h"

#ifdef _WIN32
#include <io.h>
#define ORVIK_STDIN_IS_TERMINAL() (_isatty(0) != 0)
#else
#include <unistd.h>
#define ORVIK_STDIN_IS_TERMINAL() (isatty(STDIN_FILENO) == 1)
#endif

namespace orvik::tool {

void Confirm(const CommandContext& context, const std::string& targetText,
             const Destruction& destruction) {
  if (context.global.yes) return;
  const std::string summary = fmt::format("This will {} on the {}; lost: {}.", destruction.what,
                                          targetText, destruction.lost);
  if (!ORVIK_STDIN_IS_TERMINAL()) {
    Problem problem;
    problem.code = "confirmation-needed";
    problem.message = fmt::format(
        "{} changes the player and asks first, but standard input "
        "is not a terminal to ask on.",
        destruction.command);
    problem.cause = summary;
    const std::string confirm =
        "the command again with --yes to confirm, or with --dry-run to see what it would do.";
    problem.action =
        destruction.backupHint.empty()
            ? "Run " + confirm
            : "Back the volume up first (`" + destruction.backupHint + "`), then run " + confirm;
    problem.exitCode = kExitUsage;
    throw ToolError(std::move(problem));
  }
  std::fprintf(stderr, "%s\n", summary.c_str());
  if (!destruction.backupHint.empty())
    std::fprintf(stderr, "Back the volume up first with `%s`.\n", destruction.backupHint.c_str());
  std::fprintf(stderr, "Continue? [y/N] ");
  std::fflush(stderr);
  std::string answer;
  std::getline(std::cin, answer);
  for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
    answer.pop_back();
  if (answer == "y" || answer == "yes") return;
  Fail("cancelled", "Cancelled: nothing was changed.", {},
       "Run the command again and answer y to go ahead.");
}

}  // namespace orvik::tool
