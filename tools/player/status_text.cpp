#include "player/status_text.h"

#include <fmt/format.h>

#include "base/shell_quote.h"
#include "orvik/orvik.h"

namespace orvik::tool {
std::string SuggestCommand(const StatusContext& context, const std::string& command) {
  std::string line = "orvik " + command;
  if (!context.targetOptions.empty()) line += " " + context.targetOptions;
  return "`" + line + "`";
}

std::string ManifestOption(const StatusContext& context) {
  return "--manifest " + (context.manifestPath.empty() ? std::string("manifest.json")
                                                       : ShellQuote(context.manifestPath));
}

namespace {

std::string ReflashCommand(const StatusContext& context, bool recovery) {
  return SuggestCommand(
      context, std::string("reflash ") + (recovery ? "--recovery " : "") + ManifestOption(context));
}

std::string BackupCommand(const StatusContext& context) {
  return SuggestCommand(context, "backup --output player-backup.img");
}

// The full reflash as the way out, always with what it costs and the
// backup first.
std::string ReflashWithBackup(const StatusContext& context) {
  return "back the player's files up with " + BackupCommand(context) +
         " and run the full reflash " + ReflashCommand(context, false) +
         " (it empties the file system)";
}

// The reservation the flash was laid out with, from the system blocks the
// scan found (0: unknown).
uint32_t LaidOutKiloBytes(const StatusContext& context) {
  if (context.systemBlocksFound <= 0 || context.blockBytes == 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(context.systemBlocksFound) *
                               context.blockBytes / 1024);
}

std::string Blocks(int64_t count) {
  return fmt::format("{} block{}", count, count == 1 ? "" : "s");
}

std::string Reservation(const StatusContext& context) {
  if (context.reservedKiloBytes == 0) return "no reservation";
  return fmt::format("{} KB ({})", context.reservedKiloBytes, Blocks(context.reservedBlocks));
}

const char* const kUntouched = kPlayerUntouched;

// What an update leaves behind when it fails with this status.
std::string UpdateState(int status, const StatusContext& context) {
  // A player that stops answering after writing began leaves the same
  // state as a failed write.
  const bool writingBegan =
      context.lastPhase == ORVIK_PHASE_FIRMWARE || context.lastPhase == ORVIK_PHASE_SYSTEM_LAYOUT;
  if (status != PROGRAM_MEDIA_WRITE_FAILED && !(status == PROGRAM_MEDIA_NO_DEVICE && writingBegan))
    return kUntouched;
  if (context.lastPhase == ORVIK_PHASE_SYSTEM_LAYOUT)
    return "The new firmware files were written, but clearing the system blocks they no longer "
           "use did not finish. The player should start with the new firmware; the file "
           "system was not touched.";
  return "Writing stopped part-way: the system area holds part of the new firmware and part of "
         "the old, so the player may not start. The file system was not touched.";
}

std::string FullFormatState(int status, const StatusContext& context) {
  if (status == PROGRAM_MEDIA_NO_DEVICE && context.lastPhase >= ORVIK_PHASE_FORMAT_ERASE)
    return "The player stopped answering after the flash was being erased: the files on the "
           "player are gone and it has no complete firmware and no file system.";
  if (status == PROGRAM_MEDIA_FORMAT_FAILED)
    return "The flash after the CIS block was erased (the files on the player are gone) and the "
           "system area is only partly laid out: the player has no firmware and no file system.";
  if (status == PROGRAM_MEDIA_WRITE_FAILED)
    return "The flash was erased and the system area laid out, but the firmware was only partly "
           "written: the player has no working firmware and no file system.";
  return kUntouched;
}

std::string QuickFormatState(int status, const StatusContext& context) {
  if (status != PROGRAM_MEDIA_FORMAT_FAILED) return kUntouched;
  if (context.lastPhase == ORVIK_PHASE_ERASE)
    return "The first zone was partly erased: the old file system is gone and the player shows "
           "no volume. The firmware was not touched.";
  if (context.lastPhase == ORVIK_PHASE_LOGICAL_FORMAT && context.lastPercent >= 100.0)
    return "The empty file system was written, but the player did not accept the format status, "
           "so it may still report the flash as unformatted. The firmware was not touched.";
  if (context.lastPhase == ORVIK_PHASE_LOGICAL_FORMAT)
    return "The file system was only partly written: the player shows no usable volume. The "
           "firmware was not touched.";
  return "The format stopped before it changed the flash: the player is as it was.";
}

std::string FixCommand(const StatusContext& context, bool withSet) {
  return SuggestCommand(context, withSet ? "fix " + ManifestOption(context) : std::string("fix"));
}

// The state a failed operation that changes the flash leaves, and the one
// command that repairs it: `orvik fix`, which finishes what was cut off.
void AdviseAfterChange(MediaOperation operation, int status, const StatusContext& context,
                       Problem& problem) {
  switch (operation) {
    case MediaOperation::kUpdate:
      problem.playerState = UpdateState(status, context);
      if (problem.playerState != kUntouched)
        problem.action = FixCommand(context, true) +
                         " finishes the update; it keeps the files on the player, and works also "
                         "when the player no longer starts (it then appears only as its "
                         "recovery device).";
      break;
    case MediaOperation::kFullFormat:
      problem.playerState = FullFormatState(status, context);
      if (problem.playerState != kUntouched)
        problem.action =
            context.manifestPath.empty()
                ? FixCommand(context, false) +
                      " with the player's firmware set (--manifest and its manifest.json) lays "
                      "the flash out again and writes the firmware and a file system."
                : FixCommand(context, true) +
                      " lays the flash out again and writes the firmware and a file system.";
      break;
    case MediaOperation::kQuickFormat:
      problem.playerState = QuickFormatState(status, context);
      if (problem.playerState != kUntouched)
        problem.action = FixCommand(context, false) + " writes the file system again.";
      break;
    case MediaOperation::kEraseData:
      problem.playerState = kUntouched;
      break;
    default:
      break;
  }
}

// The three sentences of a problem.
void SetWords(Problem& problem, std::string message, std::string cause, std::string action) {
  problem.message = std::move(message);
  problem.cause = std::move(cause);
  problem.action = std::move(action);
}

// "Run `COMMAND` again", in plain words when the command line is not known.
std::string RunAgain(const StatusContext& context) {
  return context.commandLine.empty() ? std::string("Run the command again")
                                     : "Run `" + context.commandLine + "` again";
}

void ExplainNoDevice(MediaOperation operation, const StatusContext& context, Problem& problem) {
  SetWords(problem,
           operation == MediaOperation::kScan
               ? "The block status scan failed: the player stopped answering (status 3)."
               : "The player did not answer (status 3).",
           "The player was unplugged or lost power, or its driver stopped responding.",
           "Reconnect the player and " +
               (context.commandLine.empty() ? std::string("run the command again")
                                            : "run `" + context.commandLine + "` again") +
               ".");
}

void ExplainFormatFailed(MediaOperation operation, const StatusContext& context, Problem& problem) {
  if (operation == MediaOperation::kFullFormat) {
    problem.message = "Laying out the system area failed (status 4).";
    problem.cause = "A system block could not be written, or the player stopped answering.";
  } else {
    problem.message = "The format failed (status 4).";
    problem.cause =
        "A block of the first zone could not be erased or written and verified, "
        "no good block was left for the file system, the player stopped "
        "answering, or it refused the format status.";
  }
  problem.action = RunAgain(context) +
                   "; if it fails at the same place again, the flash is wearing "
                   "out (see " +
                   SuggestCommand(context, "blocks") + " for bad blocks).";
}

void ExplainWriteFailed(MediaOperation operation, const StatusContext& context, Problem& problem) {
  if (operation == MediaOperation::kStoredVersions)
    SetWords(problem, "The stored version of a firmware file was not found (status 6).",
             "The player's reserved area holds no block of one of the manifest's "
             "files: it was never programmed with this set, or programming was cut "
             "off.",
             "Update the player with " +
                 SuggestCommand(context, "update " + ManifestOption(context)) + ".");
  else
    SetWords(problem, "Writing the firmware to the flash failed (status 6).",
             "A block did not take the data or did not read back the same and no "
             "spare system block was left, or the player stopped answering.",
             RunAgain(context) + ".");
}

void ExplainSystemMismatch(const StatusContext& context, Problem& problem) {
  problem.message =
      "The player's system area does not match the configured reservation "
      "(status 9).";
  problem.cause =
      (context.systemBlocksFound >= 0
           ? fmt::format("The flash has {} in its system area, ", Blocks(context.systemBlocksFound))
           : std::string("The number of system blocks on the flash differs from ")) +
      "the reservation is " + Reservation(context) +
      ": the player was laid out with another reservation, or has no system area yet.";
  const uint32_t laidOut = LaidOutKiloBytes(context);
  if (laidOut > 0)
    problem.action = fmt::format(
        "Restore the reservation the player was laid out with: {}, then run the command "
        "again; or, to lay the system area out for the new value, {}.",
        SuggestCommand(context, fmt::format("reserve {}", laidOut)), ReflashWithBackup(context));
  else
    problem.action = "The player has no system area: " + ReflashWithBackup(context) +
                     ", which lays one out and writes the firmware.";
}

void ExplainNoRoom(const StatusContext& context, Problem& problem) {
  if (context.reservedKiloBytes == 0) {
    SetWords(
        problem, "No reservation is configured for the firmware (status 10).",
        "TotalKiloBytesReserved is not set" +
            (context.registryPath.empty() ? std::string(".") : " in " + context.registryPath + "."),
        "Give totalKiloBytesReserved in the manifest, or set the value the player was laid "
        "out with (orvik reserve and the kilobytes).");
    return;
  }
  problem.message = "The firmware files do not fit into the reserved area (status 10).";
  problem.cause = (context.blocksNeeded >= 0 ? "The files need " + Blocks(context.blocksNeeded)
                                             : std::string("The files need more room")) +
                  "; the reservation is " + Reservation(context) +
                  " and must hold more blocks than the files need.";
  const uint32_t wanted = KiloBytesForBlocks(context.blocksNeeded, context.blockBytes);
  problem.action = wanted > 0
                       ? fmt::format(
                             "Raise totalKiloBytesReserved in the manifest to at least {} KB, "
                             "or back the player's files up with {} and run {}, which lays the "
                             "system area out for it (and empties the file system).",
                             wanted, BackupCommand(context),
                             SuggestCommand(context, "reflash " + ManifestOption(context) +
                                                         fmt::format(" --reserve {}", wanted)))
                       : "Raise totalKiloBytesReserved in the manifest and run the full reflash " +
                             ReflashCommand(context, false) + ".";
}

void ExplainNoBuffer(Problem& problem) {
  SetWords(problem, "A write buffer for a firmware file could not be allocated (status 1).",
           "The computer is short of memory: each file needs a buffer of whole flash "
           "blocks, three times its size for S-record files.",
           "Close other programs and run the command again.");
}

void ExplainBadFile(Problem& problem) {
  SetWords(problem, "A firmware file is malformed (status 2).",
           "An S-record line has a wrong checksum or is cut short, an S9 version record "
           "is damaged, or a prefix is not a whole number of 3-byte words.",
           "Rebuild or download the file named in the details again, then run the "
           "command again.");
}

void ExplainNotFlash(const StatusContext& context, Problem& problem) {
  SetWords(problem, "The player's flash is not one the library can work on (status 8).",
           "The flash identification gave no known flash type: the flash did not "
           "answer, or the chip is not supported.",
           "Check " + SuggestCommand(context, "info") + "; reconnect the player and try again.");
}

// The operations after whose failure the player may not be as it was.
bool ChangesFlash(MediaOperation operation) {
  return operation == MediaOperation::kUpdate || operation == MediaOperation::kFullFormat ||
         operation == MediaOperation::kQuickFormat || operation == MediaOperation::kEraseData;
}

}  // namespace

const char* OperationExport(MediaOperation operation) {
  switch (operation) {
    case MediaOperation::kFileVersions:
      return "OrvikGetFileVersion";
    case MediaOperation::kStoredVersions:
      return "OrvikGetFirmwareVersion";
    case MediaOperation::kScan:
      return "OrvikBuildBlockStatus";
    case MediaOperation::kUpdate:
      return "OrvikProgramPelkMedia";
    case MediaOperation::kFullFormat:
      return "OrvikFatFormatEx";
    case MediaOperation::kQuickFormat:
      return "OrvikQuickFormatPelk";
    case MediaOperation::kEraseData:
      return "OrvikFatEraseDataArea";
  }
  return "?";
}

uint32_t KiloBytesForBlocks(int64_t blocks, uint32_t blockBytes) {
  if (blocks < 0) return 0;
  return static_cast<uint32_t>((static_cast<uint64_t>(blocks) + 1) * blockBytes / 1024);
}

Problem ExplainStatus(MediaOperation operation, int status, const StatusContext& context) {
  Problem problem;
  problem.code = "status-" + std::to_string(status);
  problem.operation = OperationExport(operation);
  problem.status = status;
  switch (status) {
    case PROGRAM_MEDIA_NO_BUFFER:
      ExplainNoBuffer(problem);
      break;
    case PROGRAM_MEDIA_BAD_FILE:
      ExplainBadFile(problem);
      break;
    case PROGRAM_MEDIA_NO_DEVICE:
      ExplainNoDevice(operation, context, problem);
      break;
    case PROGRAM_MEDIA_FORMAT_FAILED:
      ExplainFormatFailed(operation, context, problem);
      break;
    case PROGRAM_MEDIA_WRITE_FAILED:
      ExplainWriteFailed(operation, context, problem);
      break;
    case PROGRAM_MEDIA_NOT_FLASH:
      ExplainNotFlash(context, problem);
      break;
    case PROGRAM_MEDIA_SYSTEM_MISMATCH:
      ExplainSystemMismatch(context, problem);
      break;
    case PROGRAM_MEDIA_NO_ROOM:
      ExplainNoRoom(context, problem);
      break;
    default:
      SetWords(problem, fmt::format("{} returned an unknown status {}.", problem.operation, status),
               "The library and the tool do not match.",
               "Rebuild the tool and the library from the same sources.");
      break;
  }
  if (ChangesFlash(operation)) AdviseAfterChange(operation, status, context, problem);
  return problem;
}

}  // namespace orvik::tool
