// PROGRAM_MEDIA_STATUS codes explained in words: what happened, the likely
// cause and what to do, for the operation that returned them; and, after a
// failed update or format, what state the player is left in.
#pragma once

#include <cstdint>
#include <string>

#include "base/status_names.h"
#include "base/tool_error.h"

namespace orvik::tool {

enum class MediaOperation {
  kFileVersions,    // OrvikGetFileVersion
  kStoredVersions,  // OrvikGetFirmwareVersion
  kScan,            // OrvikBuildBlockStatus
  kUpdate,          // OrvikProgramPelkMedia
  kFullFormat,      // OrvikFatFormatEx
  kQuickFormat,     // OrvikQuickFormatPelk
  kEraseData,       // OrvikFatEraseDataArea
};

const char* OperationExport(MediaOperation operation);

// What the tool knows around a failure, to make the words concrete.
struct StatusContext {
  std::string registryPath;        // where the reservation is configured
  uint32_t reservedKiloBytes = 0;  // 0: none configured
  uint32_t reservedBlocks = 0;
  uint32_t blockBytes = 0;         // of the player's flash type
  int64_t systemBlocksFound = -1;  // from the last scan, -1 unknown
  int64_t blocksNeeded = -1;       // what the firmware files need, -1 unknown
  std::string manifestPath;        // for suggested commands
  uint32_t lastPhase = 0;          // the last progress phase seen
  double lastPercent = 0.0;
  bool recovery = false;      // the command ran through the recovery object
  std::string targetOptions;  // e.g. "--player DIR", appended to suggested commands
  std::string commandLine;    // the command as it was given, to run again (quoted)
};

// `orvik COMMAND` with the target's options, as advice prints it.
std::string SuggestCommand(const StatusContext& context, const std::string& command);

// --manifest PATH (manifest.json when none was given), quoted for a shell.
std::string ManifestOption(const StatusContext& context);

// The problem for a failed status (status != 0), with cause, action and, for
// the update and the formats, the state the player is left in.
Problem ExplainStatus(MediaOperation operation, int status, const StatusContext& context);

// The reservation in kilobytes that makes room for blocksNeeded blocks (one
// block more than the files need: equality does not fit).
uint32_t KiloBytesForBlocks(int64_t blocks, uint32_t blockBytes);

}  // namespace orvik::tool
