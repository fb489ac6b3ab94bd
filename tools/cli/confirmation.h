// The question a destructive command asks before it changes the player.
//
// On a terminal the user is asked (on standard error, answered on standard
// input) naming the target and what will be lost; --yes answers it in
// advance.  Without a terminal and without --yes nothing is asked and the
// command refuses with exit code 64, so a script never destroys data by
// accident and is told how to proceed.
#pragma once

#include <string>

#include "commands/context.h"

namespace orvik::tool {

struct Destruction {
  std::string command;     // "orvik reflash", to name it in the refusal
  std::string what;        // "lay the flash out anew and write the firmware"
  std::string lost;        // "every file on the player's volume"
  std::string backupHint;  // the backup command to offer, empty when nothing needs one
};

// Returns when the user agreed (or --yes); throws ToolError otherwise:
// "confirmation-needed" (exit 64) without a terminal, "cancelled" when the
// answer was not yes.
void Confirm(const CommandContext& context, const std::string& targetText,
             const Destruction& destruction);

}  // namespace orvik::tool
