// The operations of the tool, each with the options it takes.
//
// Every operation works on the target of its context, reports what it does
// through the context's events, fills the context's result, and returns an
// exit code (kExitDone, kExitNothingToDo, ...) or throws ToolError with the
// structured failure: code, message, cause, the player's state and the next
// step.  None prints anything: the terminal face (text and --json) and the
// web face present what they report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/bus_timing_options.h"
#include "app/fault_options.h"
#include "app/operation.h"

namespace orvik::tool {

// --- the player: info, blocks, backup, verify --------------------------------
int RunInfo(OperationContext& context, uint8_t cardDrive);

struct BlocksOptions {
  std::string manifest;  // optional: recognise each file's blocks by its tag
  uint32_t perRow = 64;
  bool noGrid = false;  // only the counts
};
int RunBlocks(OperationContext& context, const BlocksOptions& options);

// A host file a command writes (base/host_file.h), and whether one already
// there is replaced (--force).
struct OutputFile {
  std::string path;
  bool force = false;
};

int RunBackup(OperationContext& context, const OutputFile& output);

struct RestoreOptions {
  std::string input;  // the volume image to write back
};
// Writes a volume image back onto the player's flash (app/restore_steps.h):
// refused, with nothing written, unless it fits the player's volume; asks
// first.  The result holds image, partitionStart, partitionSectors,
// blocksWritten, blocksCleared, blocksUnchanged, blocksRetired and dryRun.
int RunRestore(OperationContext& context, const RestoreOptions& options);

// One verdict on the player and its next step (reads only); with a set, the
// firmware is compared with it byte for byte.  Exit kExitDone when healthy,
// kExitProblemsFound, or kExitCouldNotCheck.
int RunCheck(OperationContext& context, const std::string& manifestPath);

struct FixOptions {
  std::string manifest;   // the player's firmware set (needed to write firmware)
  bool noBackup = false;  // no backup before a step that empties the volume
};
// The least destructive remedy for what the check finds, then the check
// again.
int RunFix(OperationContext& context, const FixOptions& options);
int RunVerify(OperationContext& context, const std::string& manifestPath);

// --- firmware: versions, update, reflash ---------------------------------------
int RunVersions(OperationContext& context, const std::string& manifestPath);

struct UpdateOptions {
  std::string manifest;
  bool force = false;                      // write even when every stored version matches
  std::vector<std::string> allowRemoving;  // tags the set may drop from the player
  bool repair = false;                     // take the configured reservation as the laid-out one
  bool allowDowngrade = false;             // install a set older than the player's firmware
};
int RunUpdate(OperationContext& context, const UpdateOptions& options);

struct ReflashOptions {
  std::string manifest;
  bool eraseData = false;                    // also erase the data area at the end
  bool sizeFromRegistry = false;             // size the volume from the reservation
  std::optional<uint32_t> reserveKiloBytes;  // --reserve: instead of the manifest's
  bool keepFiles = false;                    // back the volume up first and restore it afterwards
};
int RunReflash(OperationContext& context, const ReflashOptions& options);

// --- the formats ----------------------------------------------------------------
int RunQuickFormat(OperationContext& context, bool sizeFromRegistry);

struct FullFormatOptions {
  std::string manifest;                      // empty: lay out without firmware
  std::optional<uint32_t> reserveKiloBytes;  // --reserve: instead of the manifest's
};
int RunFullFormat(OperationContext& context, const FullFormatOptions& options);
int RunEraseData(OperationContext& context);

// --- the reservation ------------------------------------------------------------
// The largest reservation a command takes (the library counts bytes in 32 bits).
inline constexpr uint32_t kLargestKiloBytes = 0x3FFFFF;

struct ReserveOptions {
  std::optional<uint32_t> kiloBytes;
  std::string manifest;  // take the manifest's value
  bool clear = false;
};
int RunReserve(OperationContext& context, const ReserveOptions& options);

// --- the card -------------------------------------------------------------------
struct CardOptions {
  uint8_t drive = 0;              // the device-side drive number of the card
  uint32_t block = 0;             // first block
  bool blockGiven = false;        // erase: whether a first block was given
  std::optional<uint32_t> count;  // blocks (read, erase)
  std::string file;               // read: output, write: input
  bool all = false;               // erase: the whole card
  bool fileSystem = false;        // erase: the file-system area only
  bool pad = false;               // write: pad a short last block with zeros
  bool force = false;             // read: replace a file already there
};
int RunCardInfo(OperationContext& context, const CardOptions& options);
int RunCardRead(OperationContext& context, const CardOptions& options);
int RunCardWrite(OperationContext& context, const CardOptions& options);
int RunCardErase(OperationContext& context, const CardOptions& options);
int RunCardFormat(OperationContext& context, const CardOptions& options);

// --- trust and history ---------------------------------------------------------
int RunKeygen(OperationContext& context, const std::string& name);
int RunHash(OperationContext& context, const std::string& manifestPath);
struct SignOptions {
  std::string manifest;
  std::string key;  // the secret key file
};
int RunSign(OperationContext& context, const SignOptions& options);
// Checks a set as the commands that use it do, without a player.
int RunVerifySet(OperationContext& context, const std::string& manifestPath);
// What the tool did to the target's player (or every player), newest first.
int RunHistory(OperationContext& context, bool all);

// --- simulated players ----------------------------------------------------------
struct SimCreateOptions {
  uint32_t flashType = 7;
  std::string makerCode, deviceCode;  // read-ID codes; empty: the type's own
  std::string badBlocks;              // "5,900"
  std::optional<uint32_t> badBlockCount;
  std::optional<long long> cardMiB;     // nullopt: the default 32 MiB
  std::optional<long long> cardBlocks;  // the card size in 512-byte blocks instead
  bool noCard = false;
  bool recovery = false;
  bool unprogrammed = false;  // no startup copy: the startup check decides from the first plug-in
  int instance = 0;
  uint64_t seed = 1;
  std::string dccVersion, infoTag0, infoTag2;  // the device description; empty: defaults
  bool force = false;
  FaultOptions faults;
  BusTimingOptions bus;
};
inline constexpr long long kLargestCardMiB = 2048;
inline constexpr long long kLargestCardBlocks = kLargestCardMiB * 2048;
int RunSimCreate(OperationContext& context, const SimCreateOptions& options);

int RunSimFaults(OperationContext& context, bool clear, const FaultOptions& faults,
                 const BusTimingOptions& bus);
int RunSimMode(OperationContext& context, bool recovery);
int RunSimInfo(OperationContext& context);
// Unplugs the player and plugs it in anew (a served one through its server).
int RunSimReplug(OperationContext& context);

// Serves the player until SIGINT/SIGTERM; saves it unless save is false.
int RunSimServe(OperationContext& context, const std::string& deviceDir, bool save);

int RunSimInspect(OperationContext& context, uint32_t perRow);
int RunSimExportFat(OperationContext& context, const OutputFile& image);
int RunSimEcc(OperationContext& context);
// extract.path: the folder to write each copy's image into (empty: none).
int RunSimFiles(OperationContext& context, const OutputFile& extract);

}  // namespace orvik::tool
