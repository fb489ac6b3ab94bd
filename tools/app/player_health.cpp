#include "app/player_health.h"

#include <fmt/format.h>

#include <algorithm>

namespace orvik::tool {
namespace {

using Kind = FatVolumeHealth::Kind;
using Verdict = host::SystemAreaVerdict;

std::string Plural(uint32_t count, const char* one, const char* many) {
  return fmt::format("{} {}", count, count == 1 ? one : many);
}

// The files and copies a comparison with the set found missing or
// different, in words: "file P's startup copy, file D".
std::string DifferingFiles(const std::vector<LayoutDifference>& differences) {
  std::vector<std::string> named;
  for (const LayoutDifference& difference : differences) {
    std::string what = !difference.file ? std::string("unused system blocks not cleared")
                       : difference.region == Region::kLow
                           ? "file " + difference.tag + "'s startup copy"
                           : "file " + difference.tag;
    if (std::find(named.begin(), named.end(), what) == named.end()) named.push_back(what);
  }
  std::string text;
  for (size_t i = 0; i < named.size(); ++i)
    text += (i == 0 ? "" : i + 1 == named.size() ? " and " : ", ") + named[i];
  return text;
}

// The player holds every file of the set in the set's own version: only
// then does a byte that differs from the set mean damage.
bool VersionsMatch(const std::vector<StoredVersion>& versions) {
  return !versions.empty() &&
         std::all_of(versions.begin(), versions.end(),
                     [](const StoredVersion& file) { return file.stored == file.set; });
}

std::string TagList(const std::vector<std::string>& tags) {
  std::string text;
  for (const std::string& tag : tags) text += (text.empty() ? "" : ", ") + tag;
  return text;
}

// How the stored words compare with the set's: -1 older, 0 equal, 1 newer.
int Compare(const VersionWords& stored, const VersionWords& set) {
  const auto a = std::tie(stored.a1, stored.a2, stored.b1, stored.b2);
  const auto b = std::tie(set.a1, set.a2, set.b1, set.b2);
  return a < b ? -1 : a == b ? 0 : 1;
}

}  // namespace

const char* FixStepCommand(FixStep step) {
  switch (step) {
    case FixStep::kReserve:
      return "reserve";
    case FixStep::kUpdate:
    case FixStep::kUpdateRepair:
    case FixStep::kUpdateForce:
      return "update";
    case FixStep::kReflash:
      return "reflash";
    case FixStep::kQuickFormat:
      return "quick-format";
    case FixStep::kRestore:
      return "restore";
    case FixStep::kCardFormat:
      return "card format";
  }
  return "";
}

std::string FixStepWords(FixStep step) {
  switch (step) {
    case FixStep::kReserve:
      return "set the reservation to the one the player was laid out with (nothing on the player "
             "changes)";
    case FixStep::kUpdate:
      return "update the firmware to the set, finishing an update that was cut off (the files on "
             "the player stay)";
    case FixStep::kUpdateRepair:
      return "finish the interrupted update, taking the configured reservation as the one the "
             "player was laid out with (the files on the player stay)";
    case FixStep::kUpdateForce:
      return "write the firmware again (the files on the player stay)";
    case FixStep::kReflash:
      return "lay the flash out anew and write the firmware and an empty file system (lost: "
             "every file on the player's volume)";
    case FixStep::kQuickFormat:
      return "write an empty file system (lost: whatever the damaged file system still holds)";
    case FixStep::kRestore:
      return "write the image of the restore that did not finish onto the volume again (the "
             "firmware stays)";
    case FixStep::kCardFormat:
      return "write an empty file system on the card (lost: whatever the card's damaged file "
             "system still holds)";
  }
  return "";
}

namespace {

// What the families of problems below each look at.
struct HealthFacts {
  bool volumeSound = false;
  bool startupWhole = false;
  bool systemPresent = false;
  bool versionsMatch = false;
  bool setDiffers = false;
  // No update or reflash with a set whose startup file overruns the low
  // blocks gives a player that starts: nothing to offer but another set.
  bool setCannotStart = false;
};

HealthFacts FactsOf(const HealthInputs& in) {
  HealthFacts facts;
  facts.volumeSound = in.volume.kind == Kind::kConsistent;
  facts.startupWhole = in.startup.state == StartupCopy::State::kWhole;
  facts.systemPresent = in.systemBlocks > 0 || in.lowBlocksMarked;
  facts.versionsMatch = VersionsMatch(in.versions);
  facts.setDiffers =
      in.haveSet && facts.versionsMatch && (!in.differences.empty() || in.layoutOverflows);
  facts.setCannotStart = in.haveSet && in.startupCopyTooLong;
  return facts;
}

void AddProblem(PlayerHealth& health, std::string code, std::string text, std::string fix) {
  health.problems.push_back({std::move(code), std::move(text), std::move(fix)});
}

std::string SetDoesNotFit(const HealthInputs& in, bool startupWhole) {
  const std::string file = in.versions.empty() ? "0" : in.versions.front().tag;
  const uint64_t kiloBytes = uint64_t{host::LowSystemBlockCount()} * in.blockBytes / 1024;
  return fmt::format(
      "The firmware set does not fit this player's flash: its file {}, the one the player starts "
      "from, is longer than the startup area (the {} low system blocks, {} KB){}",
      file, host::LowSystemBlockCount(), kiloBytes,
      startupWhole ? ". An update or reflash with it would leave a player that cannot start."
                   : ", so the startup copy cannot be whole and the player cannot start from it.");
}

std::optional<FixStep> FirmwareAbsent(PlayerHealth& health, std::string text) {
  health.firmware = "absent";
  AddProblem(health, "firmware-absent", std::move(text),
             "The full reflash lays the flash out and writes the firmware and a file system.");
  return FixStep::kReflash;
}

// The full format erases everything after the CIS block, then lays the
// system area out and writes the files: cut off, it leaves no volume and
// firmware that is not whole.
bool ReflashWasCut(const HealthInputs& in, const HealthFacts& facts) {
  return !facts.volumeSound && in.volume.kind == Kind::kAbsent &&
         (!facts.startupWhole || facts.setDiffers ||
          (in.area != Verdict::kSound && in.area != Verdict::kReservationChanged));
}

std::optional<FixStep> ReflashInterrupted(const HealthFacts& facts, PlayerHealth& health) {
  health.firmware = "incomplete";
  health.cutOperation = "full format or reflash";
  AddProblem(health, "reflash-interrupted",
             "A full format or full reflash was cut off: the file system is gone and the "
             "firmware is incomplete" +
                 (facts.startupWhole ? std::string(".") : ": the player cannot start from it."),
             "The full reflash lays the flash out again and writes the firmware and a file "
             "system.");
  return FixStep::kReflash;
}

std::optional<FixStep> UpdateInterrupted(const HealthInputs& in, const HealthFacts& facts,
                                         PlayerHealth& health) {
  health.firmware = "incomplete";
  health.cutOperation = "update";
  AddProblem(health, "update-interrupted",
             fmt::format("An update was cut off: {} erased and the firmware is incomplete{}",
                         Plural(in.erasedSystemBlocks, "system block is", "system blocks are"),
                         facts.startupWhole ? "." : ", and the player cannot start from it."),
             in.area == Verdict::kUndecided
                 ? "Finishing the update writes the firmware again, taking the configured "
                   "reservation as the laid-out one; the files on the player stay."
                 : "Finishing the update writes the firmware again; the files on the player "
                   "stay.");
  return in.area == Verdict::kUndecided ? FixStep::kUpdateRepair : FixStep::kUpdate;
}

void AssessReservation(const HealthInputs& in, PlayerHealth& health) {
  if (in.area != Verdict::kReservationChanged) return;
  AddProblem(health, "reservation-differs",
             fmt::format("The reservation configured on this computer ({} KB) is not the one the "
                         "player was laid out with ({} KB): updates are refused.",
                         in.configuredKiloBytes.value_or(0), health.laidOutKiloBytes),
             fmt::format("Setting it to {} KB again lets the player be updated; nothing on the "
                         "player changes.",
                         health.laidOutKiloBytes));
  health.steps.push_back(FixStep::kReserve);
}

// The firmware of a system area laid out as this tool lays it out: the
// startup copy, the files against the set, their version words.
std::optional<FixStep> AssessFirmwareFiles(const HealthInputs& in, const HealthFacts& facts,
                                           PlayerHealth& health) {
  const FixStep update = facts.versionsMatch ? FixStep::kUpdateForce : FixStep::kUpdate;
  if (facts.startupWhole && !facts.setDiffers && in.copiesWithoutVersions.empty()) {
    health.firmware = !in.haveSet ? "present" : facts.versionsMatch ? "complete" : "other version";
    return std::nullopt;
  }
  health.firmware = "incomplete";
  if (facts.volumeSound) health.cutOperation = "update";
  if (!facts.startupWhole) {
    AddProblem(health, "startup-copy-incomplete",
               "The startup copy of the firmware (the copy the player starts from, in the low "
               "system blocks) is not whole: " +
                   in.startup.why + ". The player cannot start from it.",
               "The update writes it again; the files on the player stay.");
    return update;
  }
  if (facts.setDiffers) {
    AddProblem(
        health, "firmware-incomplete",
        "The firmware on the player is not the set as a whole: " +
            (in.layoutOverflows ? std::string("the set does not fit the reserved area")
                                : DifferingFiles(in.differences) + " differ or are missing") +
            ".",
        "The update writes the set again; the files on the player stay.");
    return update;
  }
  AddProblem(health, "firmware-incomplete",
             "The copy of file " + TagList(in.copiesWithoutVersions) +
                 " in the reserved area lacks its version words: an update was cut off before "
                 "it finished.",
             "The update writes the firmware again; the files on the player stay.");
  return FixStep::kUpdate;
}

// The firmware and the system area it lies in: sets health.firmware and
// returns the step that puts the firmware right, if one does.
std::optional<FixStep> AssessFirmware(const HealthInputs& in, const HealthFacts& facts,
                                      PlayerHealth& health) {
  if (facts.setCannotStart) {
    health.firmware = facts.startupWhole ? "present" : "incomplete";
    AddProblem(health, "startup-area-too-small", SetDoesNotFit(in, facts.startupWhole),
               "Use the firmware set made for this player's flash: no command of this tool makes "
               "this one fit.");
    return std::nullopt;
  }
  if (!facts.systemPresent && in.startup.state == StartupCopy::State::kAbsent)
    return FirmwareAbsent(
        health,
        "The player holds no firmware: its system area was never laid out, or it was erased.");
  if (ReflashWasCut(in, facts)) return ReflashInterrupted(facts, health);
  if (in.area == Verdict::kInterruptedUpdate || in.area == Verdict::kUndecided)
    return UpdateInterrupted(in, facts, health);
  if (in.area == Verdict::kNotLaidOut)
    return FirmwareAbsent(health,
                          "The player's system area is not one this tool lays out: the firmware "
                          "cannot be updated in place.");
  AssessReservation(in, health);
  return AssessFirmwareFiles(in, facts, health);
}

// A player that starts only as its recovery device needs its firmware
// written again, even where the flash shows nothing else wrong with it.
void AssessStart(const HealthInputs& in, const HealthFacts& facts, std::optional<FixStep>& firmware,
                 PlayerHealth& health) {
  if (in.startsNormally || facts.setCannotStart) return;
  AddProblem(health, "starts-in-recovery",
             "The player does not start its firmware: it appears only as its recovery device.",
             "Writing the firmware again through the recovery device makes it start; the files "
             "on the player stay.");
  if (!firmware) firmware = FixStep::kUpdateForce;
}

// A restore the journal shows unfinished. Returns whether the restore step
// is planned (the image is still there).
bool AssessRestore(const HealthInputs& in, const HealthFacts& facts,
                   std::optional<FixStep> firmware, PlayerHealth& health) {
  const bool restore = !in.pendingRestoreImage.empty() && in.pendingImageExists;
  if (!restore && !in.pendingRestoreImage.empty() && facts.volumeSound) {
    // Nothing left to put right: the volume was written anew since.
    health.notes.push_back("A restore of " + in.pendingRestoreImage +
                           " did not finish, and the image is gone; the volume is sound now.");
  } else if (!in.pendingRestoreImage.empty()) {
    health.cutOperation = "restore";
    AddProblem(health, "restore-interrupted",
               "A restore of " + in.pendingRestoreImage +
                   " onto the player did not finish: the volume holds part of it at most" +
                   (restore ? std::string(".")
                            : ", and the image is gone, so its files cannot be written back."),
               restore ? "Writing the image again finishes the restore; the firmware stays."
                       : "An empty file system is written; the firmware stays.");
  }
  if (!restore) return false;
  // The restore needs a volume to write onto: a reflash writes one.
  if (in.volume.kind == Kind::kAbsent && firmware != FixStep::kReflash)
    health.steps.push_back(FixStep::kQuickFormat);
  health.steps.push_back(FixStep::kRestore);
  health.restoreImage = in.pendingRestoreImage;
  return true;
}

// The player's volume, when no restore or reflash writes it anyway.
void AssessVolume(const HealthInputs& in, const HealthFacts& facts, std::optional<FixStep> firmware,
                  PlayerHealth& health) {
  if (facts.volumeSound || firmware == FixStep::kReflash) return;
  if (in.volume.kind == Kind::kAbsent)
    AddProblem(health, "no-file-system",
               "The player has no file system: nothing can be stored on it.",
               "An empty file system is written; the firmware stays.");
  else
    AddProblem(health, "file-system-damaged",
               "The player's file system is damaged: " + in.volume.why +
                   ". A format or a restore was cut off, or the flash lost data.",
               "An empty file system is written after the files that can still be read are "
               "backed up; the firmware stays.");
  if (in.volume.kind == Kind::kDamaged && health.cutOperation.empty())
    health.cutOperation = "quick format or restore";
  health.steps.push_back(FixStep::kQuickFormat);
}

// The player holds another version of the set: which files the update
// would change, and whether it would bring any of them back to an older one.
void NoteOtherVersions(const HealthInputs& in, PlayerHealth& health) {
  health.setIsNewer = std::none_of(
      in.versions.begin(), in.versions.end(),
      [](const StoredVersion& file) { return file.stored && Compare(*file.stored, file.set) > 0; });
  for (const StoredVersion& file : in.versions) {
    if (!file.copyPresent) {
      health.notes.push_back(fmt::format(
          "File {} of the set is not on the player: `orvik update` installs it.", file.tag));
      continue;
    }
    if (!file.stored) continue;
    const int order = Compare(*file.stored, file.set);
    if (order < 0)
      health.notes.push_back(fmt::format(
          "File {} of the set is newer ({}) than the player's ({}): `orvik update` installs it.",
          file.tag, file.set.Text(), file.stored->Text()));
    else if (order > 0)
      health.notes.push_back(fmt::format("The player's file {} ({}) is newer than the set's ({}).",
                                         file.tag, file.stored->Text(), file.set.Text()));
  }
}

void AssessCard(const HealthInputs& in, PlayerHealth& health) {
  if (!in.card) {
    health.notes.push_back("There is no card in the slot.");
  } else if (in.card->kind == Kind::kAbsent) {
    health.notes.push_back("The card has no file system yet (`orvik card format` writes one).");
  } else if (in.card->kind == Kind::kDamaged) {
    AddProblem(health, "card-file-system-damaged",
               "The card's file system is damaged: " + in.card->why + ".",
               "An empty file system is written on the card.");
    health.steps.push_back(FixStep::kCardFormat);
  }
}

}  // namespace

PlayerHealth AssessHealth(const HealthInputs& in) {
  PlayerHealth health;
  health.starts = in.startsNormally ? "normally" : "recovery";
  health.fileSystem = FatVolumeKindName(in.volume.kind);
  health.volumeHoldsFiles = in.volume.kind == Kind::kConsistent && in.volume.files > 0;
  health.laidOutKiloBytes = static_cast<uint32_t>(uint64_t{in.systemBlocks} * in.blockBytes / 1024);
  const HealthFacts facts = FactsOf(in);

  std::optional<FixStep> firmware = AssessFirmware(in, facts, health);
  AssessStart(in, facts, firmware, health);
  if (firmware) {
    health.steps.push_back(*firmware);
    health.needsSet = !in.haveSet;
  }
  if (!AssessRestore(in, facts, firmware, health)) AssessVolume(in, facts, firmware, health);

  if (health.firmware == "other version") NoteOtherVersions(in, health);
  if (!in.configuredKiloBytes && facts.systemPresent)
    health.notes.push_back(
        "No reservation is configured on this computer: the next update sets the set's value.");
  if (in.retiredBlocks > 0)
    health.notes.push_back(fmt::format(
        "{} of the flash {} retired by the library after failing (grown bad blocks); the rest "
        "of the flash is used as before.",
        Plural(in.retiredBlocks, "block", "blocks"), in.retiredBlocks == 1 ? "was" : "were"));
  AssessCard(in, health);
  return health;
}

}  // namespace orvik::tool
