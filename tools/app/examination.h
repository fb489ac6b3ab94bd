// The whole look at a player that `orvik check` reports and `orvik fix`
// acts on: the player found as it appears (normal, then recovery object),
// its flash read once (reads only), the startup copy, the file system, the
// card, and (with a firmware set) the layout and versions the set needs;
// then the verdict.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/operation.h"
#include "app/player_health.h"
#include "journal/journal.h"

namespace orvik::tool {

struct Examination {
  PlayerHealth health;
  nlohmann::json report;                 // what was found, for the JSON result
  std::vector<std::string> targetWords;  // the options that name the target again
  std::string manifestPath;              // "" without a set
  bool simulated = false;
  JournalTarget journalTarget;  // the player's key in the journal
};

// Throws ToolError with exit code kExitCouldNotCheck when no player answers
// or it stops answering.
Examination ExaminePlayer(OperationContext& context, const std::string& manifestPath);

// The verdict in words: how the player starts, its firmware, its file
// system, its card, each problem with its fix, and the notes.
void ShowVerdict(OperationContext& context, const Examination& examination);

// `orvik fix ...` for this player, or "" when fix needs a set that was not
// given.
std::string FixCommand(const Examination& examination);

}  // namespace orvik::tool
