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

PlayerHealth AssessHealth(const HealthInputs& in) {
  PlayerHealth health;
  health.starts = in.startsNormally ? "normally" : "recovery";
  health.fileSystem = FatVolumeKindName(in.volume.kind);
  health.volumeHoldsFiles = in.volume.kind == Kind::kConsistent && in.volume.files > 0;
  health.laidOutKiloBytes = static_cast<uint32_t>(uint64_t{in.systemBlocks} * in.blockBytes / 1024);
  auto problem = [&](std::string code, std::string text, std::string fix) {
    health.problems.push_back({std::move(code), std::move(text), std::move(fix)});
  };

  const bool volumeSound = in.volume.kind == Kind::kConsistent;
  const bool startupWhole = in.startup.state == StartupCopy::State::kWhole;
  const bool systemPresent = in.systemBlocks > 0 || in.lowBlocksMarked;
  const bool versionsMatch = VersionsMatch(in.versions);
  const bool setDiffers =
      in.haveSet && versionsMatch && (!in.differences.empty() || in.layoutOverflows);
  std::optional<FixStep> firmware;
  // No update or reflash with a set whose startup file overruns the low
  // blocks gives a player that starts: nothing to offer but another set.
  const bool setCannotStart = in.haveSet && in.startupCopyTooLong;

  if (setCannotStart) {
    health.firmware = startupWhole ? "present" : "incomplete";
    problem("startup-area-too-small", SetDoesNotFit(in, startupWhole),
            "Use the firmware set made for this player's flash: no command of this tool makes "
            "this one fit.");
  } else if (!systemPresent && in.startup.state == StartupCopy::State::kAbsent) {
    health.firmware = "absent";
    problem("firmware-absent",
            "The player holds no firmware: its system area was never laid out, or it was erased.",
            "The full reflash lays the flash out and writes the firmware and a file system.");
    firmware = FixStep::kReflash;
  } else if (!volumeSound && in.volume.kind == Kind::kAbsent &&
             (!startupWhole || setDiffers ||
              (in.area != Verdict::kSound && in.area != Verdict::kReservationChanged))) {
    // The full format erases everything after the CIS block, then lays the
    // system area out and writes the files: cut off, it leaves no volume and
    // firmware that is not whole.
    health.firmware = "incomplete";
    health.cutOperation = "full format or reflash";
    problem("reflash-interrupted",
            "A full format or full reflash was cut off: the file system is gone and the firmware "
            "is incomplete" +
                (startupWhole ? std::string(".") : ": the player cannot start from it."),
            "The full reflash lays the flash out again and writes the firmware and a file "
            "system.");
    firmware = FixStep::kReflash;
  } else if (in.area == Verdict::kInterruptedUpdate || in.area == Verdict::kUndecided) {
    health.firmware = "incomplete";
    health.cutOperation = "update";
    problem("update-interrupted",
            fmt::format("An update was cut off: {} erased and the firmware is incomplete{}",
                        Plural(in.erasedSystemBlocks, "system block is", "system blocks are"),
                        startupWhole ? "." : ", and the player cannot start from it."),
            in.area == Verdict::kUndecided
                ? "Finishing the update writes the firmware again, taking the configured "
                  "reservation as the laid-out one; the files on the player stay."
                : "Finishing the update writes the firmware again; the files on the player "
                  "stay.");
    firmware = in.area == Verdict::kUndecided ? FixStep::kUpdateRepair : FixStep::kUpdate;
  } else if (in.area == Verdict::kNotLaidOut) {
    health.firmware = "absent";
    problem("firmware-absent",
            "The player's system area is not one this tool lays out: the firmware cannot be "
            "updated in place.",
            "The full reflash lays the flash out and writes the firmware and a file system.");
    firmware = FixStep::kReflash;
  } else {
    if (in.area == Verdict::kReservationChanged) {
      problem("reservation-differs",
              fmt::format("The reservation configured on this computer ({} KB) is not the one the "
                          "player was laid out with ({} KB): updates are refused.",
                          in.configuredKiloBytes.value_or(0), health.laidOutKiloBytes),
              fmt::format("Setting it to {} KB again lets the player be updated; nothing on the "
                          "player changes.",
                          health.laidOutKiloBytes));
      health.steps.push_back(FixStep::kReserve);
    }
    const FixStep update = versionsMatch ? FixStep::kUpdateForce : FixStep::kUpdate;
    if (!startupWhole) {
      health.firmware = "incomplete";
      if (volumeSound) health.cutOperation = "update";
      problem("startup-copy-incomplete",
              "The startup copy of the firmware (the copy the player starts from, in the low "
              "system blocks) is not whole: " +
                  in.startup.why + ". The player cannot start from it.",
              "The update writes it again; the files on the player stay.");
      firmware = update;
    } else if (setDiffers) {
      health.firmware = "incomplete";
      if (volumeSound) health.cutOperation = "update";
      problem("firmware-incomplete",
              "The firmware on the player is not the set as a whole: " +
                  (in.layoutOverflows ? std::string("the set does not fit the reserved area")
                                      : DifferingFiles(in.differences) + " differ or are missing") +
                  ".",
              "The update writes the set again; the files on the player stay.");
      firmware = update;
    } else if (!in.copiesWithoutVersions.empty()) {
      health.firmware = "incomplete";
      if (volumeSound) health.cutOperation = "update";
      problem("firmware-incomplete",
              "The copy of file " + TagList(in.copiesWithoutVersions) +
                  " in the reserved area lacks its version words: an update was cut off before "
                  "it finished.",
              "The update writes the firmware again; the files on the player stay.");
      firmware = FixStep::kUpdate;
    } else {
      health.firmware = !in.haveSet ? "present" : versionsMatch ? "complete" : "other version";
    }
  }

  if (!in.startsNormally && !setCannotStart) {
    problem("starts-in-recovery",
            "The player does not start its firmware: it appears only as its recovery device.",
            "Writing the firmware again through the recovery device makes it start; the files on "
            "the player stay.");
    if (!firmware) firmware = FixStep::kUpdateForce;
  }
  if (firmware) {
    health.steps.push_back(*firmware);
    health.needsSet = !in.haveSet;
  }

  const bool restore = !in.pendingRestoreImage.empty() && in.pendingImageExists;
  if (!restore && !in.pendingRestoreImage.empty() && volumeSound) {
    // Nothing left to put right: the volume was written anew since.
    health.notes.push_back("A restore of " + in.pendingRestoreImage +
                           " did not finish, and the image is gone; the volume is sound now.");
  } else if (!in.pendingRestoreImage.empty()) {
    health.cutOperation = "restore";
    problem("restore-interrupted",
            "A restore of " + in.pendingRestoreImage +
                " onto the player did not finish: the volume holds part of it at most" +
                (restore ? std::string(".")
                         : ", and the image is gone, so its files cannot be written back."),
            restore ? "Writing the image again finishes the restore; the firmware stays."
                    : "An empty file system is written; the firmware stays.");
  }
  if (restore) {
    // The restore needs a volume to write onto: a reflash writes one.
    if (in.volume.kind == Kind::kAbsent && firmware != FixStep::kReflash)
      health.steps.push_back(FixStep::kQuickFormat);
    health.steps.push_back(FixStep::kRestore);
    health.restoreImage = in.pendingRestoreImage;
  } else if (!volumeSound && firmware != FixStep::kReflash) {
    if (in.volume.kind == Kind::kAbsent)
      problem("no-file-system", "The player has no file system: nothing can be stored on it.",
              "An empty file system is written; the firmware stays.");
    else
      problem("file-system-damaged",
              "The player's file system is damaged: " + in.volume.why +
                  ". A format or a restore was cut off, or the flash lost data.",
              "An empty file system is written after the files that can still be read are "
              "backed up; the firmware stays.");
    if (in.volume.kind == Kind::kDamaged && health.cutOperation.empty())
      health.cutOperation = "quick format or restore";
    health.steps.push_back(FixStep::kQuickFormat);
  }

  if (health.firmware == "other version") {
    health.setIsNewer =
        std::none_of(in.versions.begin(), in.versions.end(), [](const StoredVersion& file) {
          return file.stored && Compare(*file.stored, file.set) > 0;
        });
  }
  if (health.firmware == "other version")
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
        health.notes.push_back(
            fmt::format("The player's file {} ({}) is newer than the set's ({}).", file.tag,
                        file.stored->Text(), file.set.Text()));
    }
  if (!in.configuredKiloBytes && systemPresent)
    health.notes.push_back(
        "No reservation is configured on this computer: the next update sets the set's value.");
  if (in.retiredBlocks > 0)
    health.notes.push_back(fmt::format(
        "{} of the flash {} retired by the library after failing (grown bad blocks); the rest "
        "of the flash is used as before.",
        Plural(in.retiredBlocks, "block", "blocks"), in.retiredBlocks == 1 ? "was" : "were"));
  if (!in.card) {
    health.notes.push_back("There is no card in the slot.");
  } else if (in.card->kind == Kind::kAbsent) {
    health.notes.push_back("The card has no file system yet (`orvik card format` writes one).");
  } else if (in.card->kind == Kind::kDamaged) {
    problem("card-file-system-damaged", "The card's file system is damaged: " + in.card->why + ".",
            "An empty file system is written on the card.");
    health.steps.push_back(FixStep::kCardFormat);
  }
  return health;
}

}  // namespace orvik::tool
