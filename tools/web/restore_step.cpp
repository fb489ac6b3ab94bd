#include "web/restore_step.h"

#include "base/shell_quote.h"
#include "base/tool_error.h"

namespace orvik::tool::web {

int RestoreBackup(OperationContext&, const std::string& image) {
  Problem problem;
  problem.code = "restore-unavailable";
  problem.message = "Restore is not available in this build.";
  problem.cause = "This orvik cannot put a backup image back on the player yet.";
  problem.action = "Your files are safe in " + image +
                   ": copy them back with a FAT tool (e.g. `mcopy -s -i " + ShellQuote(image) +
                   " :: folder`) and then onto the player.";
  problem.details = {{"image", image}};
  throw ToolError(std::move(problem));
}

}  // namespace orvik::tool::web
