// The firmware system area of the flash and the steps that write it, shared
// by the firmware update and the full format.
//
// System blocks live in two regions: the three low system blocks after the
// CIS block (the first copy of file 0) and the reserved area at the top of
// the flash (every file, file 0 again first).  Every block is written in
// system mode: "QV" on page 0, 'M' and the file's tag on page 1, the data
// unchanged, and the file's version words added later to pages 2 to 5 of
// its first block in the reserved area.
#pragma once

#include <cstdint>

#include "firmware/file_preparation.h"
#include "orvik/orvik.h"
#include "protocol/flash_commands.h"
#include "protocol/flash_types.h"
#include "protocol/media_state.h"
#include "protocol/progress_target.h"

namespace orvik::media {

inline constexpr uint32_t LOW_SYSTEM_BLOCKS = 3;
inline constexpr uint32_t SECOND_COPY_START_BLOCK = 100;

// What the writing steps work on: drive 0, its scanned table and geometry.
// state is *drive.state.
struct SystemArea {
  protocol::DriveMediaState& state;
  const protocol::FlashTypeDescriptor& type;
  const _BinaryFilesInformation& files;
  protocol::FlashDrive drive;
};

// The system-mode marking of a block of the file whose marker is given:
// page 1 carries the file's tag when the host listed it, 0xFF otherwise.
protocol::PageMarking SystemMarking(const _BinaryFilesInformation& files, uint8_t marker);

// The checks of CheckProgrammingCall that need neither the table nor the
// lock (8 and 2 below), so that such refusals never wait for the lock.
// state is the drive's (nullptr: a drive without state).
PROGRAM_MEDIA_STATUS CheckProgrammingArguments(const protocol::DriveMediaState* state,
                                               const ORVIK_ULONG* flashTypes, uint8_t drive,
                                               const _BinaryFilesInformation* files);

// Checks shared by both exports before anything is taken or sent, under the
// global lock (a scan or a release replaces the table).  Returns
// PROGRAM_MEDIA_DONE when the call may go on:
//  - 8: not drive 0 / not the internal flash, a null array, a type above 35,
//    or a type other than the one the last scan recorded (the writer reads
//    whole blocks of the scanned geometry from buffers sized for the
//    caller's);
//  - 3: no block status table (no scan since load or since the drive's
//    buffers were released);
//  - 2: a record refused by the file set checks.
PROGRAM_MEDIA_STATUS CheckProgrammingCall(const protocol::DriveMediaState* state,
                                          const ORVIK_ULONG* flashTypes, uint8_t drive,
                                          const _BinaryFilesInformation* files);

// True when the reservation, in blocks of the scanned type, equals the
// number of system blocks the scan counted at the top of the flash.
bool SystemAreaMatchesReserve(const SystemArea& area);

// Phase-5 progress: blocks written so far out of the blocks planned for the
// whole call, so the percentage only grows and reaches 100 with the last.
class FirmwareProgress {
 public:
  FirmwareProgress(uint64_t plannedBlocks, protocol::ProgressTarget& target)
      : planned_(plannedBlocks), target_(target) {}
  void BlockWritten();

 private:
  uint64_t planned_;
  protocol::ProgressTarget& target_;
  uint64_t written_ = 0;
};

// Blocks a prepared file occupies on the flash.
uint64_t FileBlocks(const firmware::PreparedFile& file, const protocol::FlashTypeDescriptor& type);

// Writes a prepared file block by block into the BLOCK_SYSTEM blocks from
// *cursor on: erase, system-mode write, read-back and compare; a block that
// does not read back as written is retired (erased, its first two pages
// zeroed with zero redundant areas, marked bad) and the data goes to the
// next system block.  Written blocks take the file's marker.  On success
// *cursor is the block after the last one used.
bool WriteSystemFile(const SystemArea& area, const firmware::PreparedFile& file, uint8_t marker,
                     uint32_t* cursor, FirmwareProgress& progress);

// Stores the version words in pages 2 to 5 of the first block of the
// reserved area that carries the marker.
bool WriteFileVersionWords(const SystemArea& area, uint8_t marker,
                           const firmware::VersionWords& words);

// Phase-5 progress over both copies: the first copy of file 0 and every file.
FirmwareProgress PlanFirmwareProgress(const SystemArea& area,
                                      const firmware::PreparedFileSet& prepared,
                                      protocol::ProgressTarget& target);

// The first copy of file 0 from the lowest system block up (normally the low
// system blocks), with its version words.  On success *cursor is the block
// after the last one written.
bool WriteStartupCopy(const SystemArea& area, const firmware::PreparedFileSet& prepared,
                      uint32_t* cursor, FirmwareProgress& progress);

// Every file with content from block 100 up (normally the reserved area) —
// or from *cursor, where the first copy ran further — each followed by its
// version words.  On success *cursor is the block after the last written.
bool WriteReservedCopies(const SystemArea& area, const firmware::PreparedFileSet& prepared,
                         uint32_t* cursor, FirmwareProgress& progress);

// Both of the above, for the full format.
bool WriteFirmwareCopies(const SystemArea& area, const firmware::PreparedFileSet& prepared,
                         uint32_t* cursor, protocol::ProgressTarget& progress);

// Erases the blocks from start to the end of the flash that are not bad and
// writes them full of 0xFF with the system marks of marker.  The clearing
// never reaches below the reserved area (nor the CIS block): the blocks
// below it hold the user's volume.  Phase-4 progress, ending at 100.
bool ClearUnusedSystemBlocks(const SystemArea& area, uint32_t start, uint8_t marker,
                             protocol::ProgressTarget& progress);

}  // namespace orvik::media
