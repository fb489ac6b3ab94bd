// The verdict on a player: what is wrong with it, in the owner's words,
// and the least destructive steps that put it right.
//
// Worked out from what the flash shows (the examination gathers it): how
// the player starts, the library's judgement of the system area, the
// startup copy, the firmware against a set when one is given, the file
// system, the reservation setting, the card.  Every command that advises
// (check, fix, versions, info, a failed update) takes its words from here,
// so they never contradict each other on one player.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/host_internals.h"
#include "player/expected_layout.h"
#include "player/fat_check.h"
#include "player/startup_copy.h"

namespace orvik::tool {

// A file of the set beside what the player stores for it.
struct StoredVersion {
  std::string tag;
  VersionWords set;
  bool copyPresent = false;            // the reserved area holds a copy of the file
  std::optional<VersionWords> stored;  // its version words; none when not all four are there
};

struct HealthInputs {
  bool startsNormally = true;
  host::SystemAreaVerdict area = host::SystemAreaVerdict::kSound;
  uint32_t erasedSystemBlocks = 0;
  uint32_t systemBlocks = 0;    // system blocks found at the top of the flash
  uint32_t reservedBlocks = 0;  // the reservation the check ran with, in blocks
  uint32_t blockBytes = 0;
  std::optional<uint32_t> configuredKiloBytes;  // the setting; none: not set
  bool lowBlocksMarked = false;                 // a low system block carries the system marks
  StartupCopy startup;
  FatVolumeHealth volume;
  uint32_t retiredBlocks = 0;

  // With a firmware set: the comparison block by block (which tells
  // something only where the player holds the set's own versions; another
  // version of a file may lie in other blocks), and the versions.
  bool haveSet = false;
  std::string manifestPath;
  std::vector<LayoutDifference> differences;
  bool layoutOverflows = false;
  // File 0's image is longer than the low system blocks: no player of this
  // flash starts from the set.
  bool startupCopyTooLong = false;
  std::vector<StoredVersion> versions;
  // Tags whose copy in the reserved area lacks (some of) its version words:
  // an update was cut off before it finished the file.
  std::vector<std::string> copiesWithoutVersions;

  // A restore that did not finish (the journal's record): the image it
  // writes, and whether that file is still there.
  std::string pendingRestoreImage;
  bool pendingImageExists = false;

  // The card: nullopt when the slot is empty.
  std::optional<FatVolumeHealth> card;
};

// The steps `orvik fix` can take, least destructive first.
enum class FixStep {
  kReserve,       // write the laid-out reservation into the setting
  kUpdate,        // the update (finishes an interrupted one), files kept
  kUpdateRepair,  // the update that takes the setting as the laid-out reservation
  kUpdateForce,   // the update, written even where the versions match
  kReflash,       // the full reflash (lays the flash out anew, empties the volume)
  kQuickFormat,   // an empty file system
  kRestore,       // the image of an unfinished restore written again
  kCardFormat,    // an empty file system on the card
};

struct HealthProblem {
  std::string code;  // fixed: "starts-in-recovery", "update-interrupted", ...
  std::string text;  // what is wrong, in plain words
  std::string fix;   // what puts it right, in plain words
};

struct PlayerHealth {
  std::string starts;        // "normally" or "recovery"
  std::string firmware;      // "complete", "present", "incomplete", "absent"
  std::string cutOperation;  // what the flash shows was cut off, "" when nothing
  std::string fileSystem;    // "consistent", "absent", "damaged"
  std::vector<HealthProblem> problems;
  std::vector<std::string> notes;  // worth knowing, nothing wrong
  std::vector<FixStep> steps;      // what `orvik fix` runs, in order
  // A step needs the firmware set (`--manifest`), and none was given.
  bool needsSet = false;
  // The image the restore step writes.
  std::string restoreImage;
  // The laid-out reservation the reserve step writes.
  uint32_t laidOutKiloBytes = 0;
  // The volume holds files that a reflash would empty (backed up first).
  bool volumeHoldsFiles = false;
  // The player holds another version of the set, and no file of it is newer
  // than the set's: the update brings it to the set (`orvik fix` does that
  // too, since the set it is given is the one the player should hold).
  bool setIsNewer = false;

  bool Healthy() const { return problems.empty(); }
};

PlayerHealth AssessHealth(const HealthInputs& inputs);

// "update", "reflash", ... : the command word of a step.
const char* FixStepCommand(FixStep step);
// What a step does and what it may lose, for the one question fix asks.
std::string FixStepWords(FixStep step);

}  // namespace orvik::tool
