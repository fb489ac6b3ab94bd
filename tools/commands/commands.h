// The orvik subcommands.  Each returns its exit code (kExitDone or
// kExitNothingToDo), fills the context's result for --json, and throws
// ToolError when it fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/context.h"
#include "sim/program/fault_options.h"

namespace orvik::tool {

// --- the player ------------------------------------------------------------
int RunInfo(CommandContext& context, uint8_t cardDrive);
struct BlocksOptions {
  std::string manifest;  // optional: recognise each file's blocks by its tag
  uint32_t perRow = 64;
  bool grid = true;
};
int RunBlocks(CommandContext& context, const BlocksOptions& options);
int RunVersions(CommandContext& context, const std::string& manifest);
// The FAT volume saved as a plain image (refuses an existing file).
int RunBackup(CommandContext& context, const std::string& output);
// The system area compared byte for byte with the set as prepared.
int RunVerify(CommandContext& context, const std::string& manifest);

// --- firmware and formats --------------------------------------------------
struct UpdateOptions {
  std::string manifest;
  bool force = false;                      // write even when every stored version matches
  std::vector<std::string> allowRemoving;  // tags the set may drop from the player
  bool repair = false;                     // take the configured reservation as the laid-out one
};
int RunUpdate(CommandContext& context, const UpdateOptions& options);
struct ReflashOptions {
  std::string manifest;
  bool eraseData = false;                    // also erase the data area at the end
  bool sizeFromRegistry = false;             // size the volume from the reservation
  std::optional<uint32_t> reserveKiloBytes;  // --reserve: instead of the manifest's
};
int RunReflash(CommandContext& context, const ReflashOptions& options);
int RunQuickFormat(CommandContext& context, bool sizeFromRegistry);
struct FullFormatOptions {
  std::string manifest;                      // empty: lay out without firmware
  std::optional<uint32_t> reserveKiloBytes;  // --reserve: instead of the manifest's
};
int RunFullFormat(CommandContext& context, const FullFormatOptions& options);
int RunEraseData(CommandContext& context);

// --- the card ---------------------------------------------------------------
struct CardOptions {
  uint8_t drive = 0;              // the device-side drive number of the card
  uint32_t block = 0;             // first block
  bool blockGiven = false;        // erase: --block was given
  std::optional<uint32_t> count;  // blocks (read, erase)
  std::string file;               // read: output, write: input
  bool all = false;               // erase: the whole card
  bool fileSystem = false;        // erase: the file-system area only
  bool pad = false;               // write: pad a short last block with zeros
};
int RunCardInfo(CommandContext& context, const CardOptions& options);
int RunCardRead(CommandContext& context, const CardOptions& options);
int RunCardWrite(CommandContext& context, const CardOptions& options);
int RunCardErase(CommandContext& context, const CardOptions& options);
int RunCardFormat(CommandContext& context, const CardOptions& options);

// --- the reservation ---------------------------------------------------------
struct ReserveOptions {
  std::optional<uint32_t> kiloBytes;
  std::string manifest;  // take the manifest's value
  bool clear = false;
};
int RunReserve(CommandContext& context, const ReserveOptions& options);

// --- simulated players --------------------------------------------------------
struct SimCreateOptions {
  uint32_t flashType = 7;
  std::string badBlocks;  // "5,900"
  std::optional<uint32_t> badBlockCount;
  std::optional<long long> cardMiB;  // nullopt: the default 32 MiB
  bool noCard = false;
  bool recovery = false;
  int instance = 0;
  uint64_t seed = 1;
  bool force = false;
  sim::program::FaultOptions faults;
};
int RunSimCreate(CommandContext& context, const SimCreateOptions& options);
int RunSimServe(CommandContext& context, const std::string& deviceDir, bool save);
int RunSimMode(CommandContext& context, bool recovery);
int RunSimFaults(CommandContext& context, bool clear, const sim::program::FaultOptions& faults);
int RunSimInspect(CommandContext& context, uint32_t perRow);
int RunSimExportFat(CommandContext& context, const std::string& imagePath);
int RunSimEcc(CommandContext& context);
int RunSimFiles(CommandContext& context, const std::string& extractDir);

}  // namespace orvik::tool
