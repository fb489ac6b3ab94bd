#include "player/update_repair.h"

#include <fmt/format.h>

#include "base/shell_quote.h"
#include "host/host_internals.h"

namespace orvik::tool {

void AdviseAfterRefusedUpdate(Problem& problem, const StatusContext& words,
                              const host::SystemAreaAssessment& found) {
  const std::string backup = SuggestCommand(words, "backup --output player-backup.img");
  const std::string reflash = SuggestCommand(words, "reflash " + ManifestOption(words));
  const std::string repair = SuggestCommand(words, "update --repair " + ManifestOption(words));
  problem.details["erasedSystemBlocks"] = found.erasedSystemBlocks;
  switch (found.verdict) {
    case host::SystemAreaVerdict::kInterruptedUpdate:
    case host::SystemAreaVerdict::kUndecided:
      problem.details["systemArea"] =
          found.verdict == host::SystemAreaVerdict::kUndecided ? "undecided" : "interrupted-update";
      problem.cause = fmt::format(
          "An earlier update was cut off and left {} erased system block{} that the flash alone "
          "cannot tell from a reservation raised since the player was laid out.",
          found.erasedSystemBlocks, found.erasedSystemBlocks == 1 ? "" : "s");
      problem.action = fmt::format(
          "If the reservation in {} ({} KB) is the one the player was laid out with (it is, "
          "unless you changed it since), repair the update with {}: it keeps the files on the "
          "player.",
          words.registryPath, words.reservedKiloBytes, repair);
      break;
    case host::SystemAreaVerdict::kReservationChanged:
      problem.details["systemArea"] = "reservation-changed";
      problem.cause =
          "The reservation was changed since the player was laid out: the update writes only "
          "the area the player was laid out with.";
      if (words.systemBlocksFound > 0 && words.blockBytes > 0)
        problem.action = fmt::format(
            "Restore the reservation the player was laid out with: {}, then update again; or, to "
            "lay the player out for the new value, back its files up with {} and run the full "
            "reflash {} (it empties the file system).",
            SuggestCommand(
                words, fmt::format("reserve {}", static_cast<uint64_t>(words.systemBlocksFound) *
                                                     words.blockBytes / 1024)),
            backup, reflash);
      break;
    case host::SystemAreaVerdict::kNotLaidOut:
      problem.details["systemArea"] = "not-laid-out";
      problem.cause = "The player has no system area laid out by this library.";
      problem.action = "Back the player's files up with " + backup + " and run the full reflash " +
                       reflash + ", which lays the system area out (it empties the file system).";
      break;
    case host::SystemAreaVerdict::kSound:
      problem.details["systemArea"] = "sound";
      break;
  }
}

bool InterruptedUpdateFound() {
  const host::SystemAreaVerdict verdict = host::AssessSystemArea().verdict;
  return verdict == host::SystemAreaVerdict::kInterruptedUpdate ||
         verdict == host::SystemAreaVerdict::kUndecided;
}

int ProgramAssumingLaidOutReservation(unsigned long flashType, HostFileSet& files, void* event) {
  ORVIK_ULONG types[1] = {static_cast<ORVIK_ULONG>(flashType)};
  return host::ProgramMediaAssumingLaidOutReservation(types, 0, files.Data(), files.Lengths(),
                                                      files.PrefixData(), files.PrefixLengths(),
                                                      &files.Record(), event);
}

}  // namespace orvik::tool
