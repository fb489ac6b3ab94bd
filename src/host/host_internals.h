// What the library answers for the orvik host tool beyond orvik/orvik.h.
//
// The tool is linked with the library itself (orvik_core) and shows a user
// what the public header keeps to itself: the geometry behind a flash type,
// the block table the last scan left, the raw pages of a block and the tag
// its system marks carry, why an update was refused, and what the firmware
// files on a disk hold before they go to a player.  This header is the
// whole of that view: tools/ includes nothing else from src/, and this
// header includes nothing of the library but the public header, so the
// library's internal names stay its own (tests/scripts/include_layers.sh).
//
// Everything here is a plain value or a function answered by the library's
// own code (so the tool cannot drift from it); none of it is an export.
// Only the volume writes and the update with options change a player.
//
// Keep it narrow: a function goes here when the tool would otherwise have
// to copy the library's knowledge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orvik/orvik.h"

namespace orvik::host {

// --- Flash geometry: the 36 types and how a chip maps to one.

struct FlashType {
  uint32_t typeIndex = 0;
  uint32_t pageSize = 0;  // bytes per page with the redundant area
  uint32_t dataSize = 0;  // data bytes per page
  uint32_t pagesPerBlock = 0;
  uint32_t blockCount = 0;
  uint32_t logicalBlockCount = 0;  // blocks the volume addresses
  uint32_t firstZoneBlocks = 0;    // blocks of the first zone (the CIS and the volume's start)

  uint32_t BlockBytes() const { return pagesPerBlock * dataSize; }
};

// The geometry of a type index; nothing for 36 (unknown) and above.
std::optional<FlashType> FlashTypeOf(uint32_t typeIndex);
// The type index a flash identification (maker and device code) maps to;
// FLASH_TYPE_UNKNOWN when none.
uint32_t FlashTypeForChip(uint8_t maker, uint8_t device);
// Data bytes of the largest flash the library knows.
uint64_t LargestFlashBytes();

// --- The block table the last scan (or version query) left for drive 0.

enum class BlockUse : uint8_t {
  kBad,     // bad, or invalidated in front of the CIS block
  kVolume,  // written by the format for the volume
  kCis,     // the CIS block
  kSystem,  // a system block the scan did not give to a listed file
  kFile,    // a system block of a listed file (the version query's marker)
  kFree,    // erased and good
};

struct TableEntry {
  BlockUse use = BlockUse::kBad;
  uint8_t tag = 0;  // the file's tag (kFile only)
};

struct BlockTable {
  uint32_t cisBlock = 0;
  uint32_t systemBlockCount = 0;    // system blocks counted at the top of the flash
  uint32_t firstReservedBlock = 0;  // where the reserved area begins
  std::vector<TableEntry> blocks;   // one per block; empty before any scan
};

// A copy of drive 0's table; all zero and empty before the library has one
// (no scan yet, or its buffers were released).
BlockTable ScannedBlockTable();

// --- Raw pages and the marks of system blocks.

// Reads `count` raw pages (data and redundant bytes) of a block of drive 0
// into the drive's page buffer and returns them there; empty when the read
// fails or no scan has given the drive a page buffer.  Valid until the next
// page transfer.
std::span<const uint8_t> ReadRawPages(const FlashType& type, uint32_t block, uint32_t page,
                                      uint32_t count);

// What the first two pages of a block say of it as a system block: the
// reader the library's version query recognises a file's blocks with.
struct SystemBlockTag {
  bool systemStatus = false;  // page 0's data- and block-status bytes are a system page's
  bool systemMark = false;    // page 0 carries the system mark ("QV")
  bool fileMark = false;      // page 1 carries the file mark ('M') ...
  uint8_t tag = 0;            // ... and this tag after it

  // Marked as a system block of a file (the version query's test).
  bool Marked() const { return systemMark && fileMark; }
};

// rawPages: pages 0 and 1 of a block, raw (data and redundant bytes, of
// every flash type's page size); all false when shorter.
SystemBlockTag ReadSystemBlockTag(std::span<const uint8_t> rawPages);

// --- Writing the volume back (a restore): the host picks the blocks, the
// library writes them as the quick format writes its sectors.  Both take
// the global lock and work on drive 0's scanned type; the host's block
// table is its own (the library's is not changed).

enum class EraseResult {
  kErased,
  kInvalidated,  // could not be erased; zero-filled, bad from now on
  kFailed,       // neither erased nor invalidated
};
enum class VolumeBlockResult {
  kWritten,      // every page written and read back the same
  kInvalidated,  // the block did not take the data (or could not be erased): it is bad now
  kFailed,       // a transfer failed, or no scan recorded the drive's type
};

// Erases one block, invalidating it on the flash when it cannot be erased.
EraseResult EraseVolumeBlock(uint32_t block);
// Writes sectorCount (1 to pagesPerBlock) sectors of 512 bytes to pages 0
// onward of block, each carrying logicalField in its block-address fields.
VolumeBlockResult WriteVolumeBlock(uint32_t block, uint16_t logicalField, const uint8_t* sectors,
                                   uint32_t sectorCount);

// The volume a quick format writes on the type: its master boot record and
// boot sector (512 bytes each) for the partition the format sizes from
// reservedBlocks (the registry's reservation in blocks, with
// sizeFromRegistry) or systemBlocks (those the scan finds at the top of
// the flash); nothing when no sound volume fits.  Lets the host tell
// before a reflash whether an image of today's volume fits the new one.
struct FormattedVolume {
  std::vector<uint8_t> masterBootRecord;
  std::vector<uint8_t> bootSector;
};
std::optional<FormattedVolume> QuickFormatVolume(const FlashType& type, bool sizeFromRegistry,
                                                 uint32_t reservedBlocks, uint32_t systemBlocks);

// --- The firmware update: why it refuses, and the update that finishes
// an interrupted one.

enum class SystemAreaVerdict {
  kSound,               // whole and matching the reservation
  kInterruptedUpdate,   // blocks an interrupted update left erased: the next update repairs them
  kReservationChanged,  // the reservation differs from the laid-out area: refused
  kNotLaidOut,          // no system area this library laid out: refused
  kUndecided,           // an erased block at the bottom of the reserved area the flash cannot
                        // place: refused unless the host confirms the reservation
};

struct SystemAreaAssessment {
  SystemAreaVerdict verdict = SystemAreaVerdict::kSound;
  uint32_t reservedBlocks = 0;      // the registry's reservation, in blocks
  uint32_t systemBlocks = 0;        // system blocks found from the top down
  uint32_t erasedSystemBlocks = 0;  // erased blocks the update would rewrite
};

// Judges drive 0's system area from the last scan's table and, where the
// table cannot tell, from reads of the blocks in question.  Writes nothing.
SystemAreaAssessment AssessSystemArea();

// OrvikProgramPelkMedia taking the registry's reservation as the one the
// player was laid out with (the host found an interrupted update, or its
// user confirms it): a blank block at the bottom of the reserved area is
// then the update's to rewrite.  The export's arguments and codes.
int ProgramMediaAssumingLaidOutReservation(ORVIK_ULONG* flashTypes, unsigned char drive,
                                           unsigned char** fileData, ORVIK_ULONG* fileLengths,
                                           unsigned char** prefixData, ORVIK_ULONG* prefixLengths,
                                           _BinaryFilesInformation* files, void* event);

// --- Firmware files as the programming exports read them.

struct VersionWords {
  uint16_t a[2] = {0, 0};  // words 1 and 2
  uint16_t b[2] = {0, 0};  // words 3 and 4
};

enum class SRecordFlaw : uint8_t {
  kNone,
  kBadChecksum,    // an S0, S1 or S9 record does not match its checksum
  kTruncated,      // the text ends inside a record
  kShortRecord,    // an S0 or S1 record too short to hold its address
  kNoMemorySpace,  // an S1 record before any S0 record
  kOutputFull,     // the image outgrows the room the programming gives it
  kPartialWord,    // the load data is not a whole number of 24-bit words
  kPrefixLength,   // the binary prefix is not a whole number of 24-bit words
};

struct SRecordConversion {
  SRecordFlaw flaw = SRecordFlaw::kNone;
  size_t imageLength = 0;  // the image's bytes when converted
  bool ok() const { return flaw == SRecordFlaw::kNone; }
};

// Converts S-record text behind its binary prefix as the programming does,
// in the room the programming gives it.
SRecordConversion ConvertSRecordText(std::span<const uint8_t> text,
                                     std::span<const uint8_t> prefix);

// Offset of the first record at or after `from` whose type character
// ('0' to '9') `wanted` accepts; text.size() when there is none.
size_t FindSRecord(std::span<const uint8_t> text, size_t from, bool (*wanted)(uint8_t type));

// The version words of S-record text: those of its last end record (S9).
struct SRecordVersion {
  enum class Finding {
    kRead,          // words holds them
    kNoEndRecord,   // the text has no end record
    kNotVersioned,  // the last end record does not frame, or its count is not versionedCount
    kBadChecksum,   // the last end record does not match its checksum
  };
  Finding finding = Finding::kNoEndRecord;
  size_t endRecordAt = 0;      // offset of the last end record
  uint8_t count = 0;           // its count byte
  uint8_t versionedCount = 0;  // the count of an end record that carries version words
  VersionWords words;
};
SRecordVersion ReadSRecordVersion(std::span<const uint8_t> text);

// A raw firmware file: its "Version" trailer (the text and four words) and
// the bytes the programming writes for it (510 of the file to a page).
struct RawFileVersion {
  bool hasTrailer = false;
  size_t trailerAt = 0;  // offset where the trailer is (or would be)
  VersionWords words;    // with hasTrailer
  uint64_t lengthToWrite = 0;
};
RawFileVersion ReadRawFileVersion(std::span<const uint8_t> data);

// Bytes a file of lengthToWrite bytes counts in the fit check on the type:
// whole blocks.
uint64_t BlockRoundedFileSize(uint64_t lengthToWrite, const FlashType& type);

// A file as the programming prepares it for the flash.
struct PreparedImage {
  std::vector<uint8_t> image;  // lengthToWrite bytes of page data (empty: nothing to write)
  VersionWords version;        // the words stored with it
};

// Prepares the set (the programming export's arrays and record) for the
// flash type with the library's own preparation.  Returns the
// PROGRAM_MEDIA_STATUS the programming would (PROGRAM_MEDIA_DONE: every
// file made, images holds one per file).
int PrepareFileImages(const FlashType& type, unsigned char* const* fileData,
                      const ORVIK_ULONG* fileLengths, unsigned char* const* prefixData,
                      const ORVIK_ULONG* prefixLengths, const _BinaryFilesInformation& files,
                      std::vector<PreparedImage>& images);

// The blocks of the system area that are not the reserved area's: the
// startup copy's, after the CIS block.
uint32_t LowSystemBlockCount();

// --- The player itself.

// Its description items (tag, value), asked once more through the exported
// transfers (the library keeps only the DCC version); nothing when the
// exchange fails.
std::optional<std::vector<std::pair<uint32_t, uint32_t>>> ReadDeviceDescription();

// The name the player's device objects share before their number: the
// normal ones or, with recovery, those of a player that does not start.
const char* DeviceObjectPrefix(bool recovery);

// --- The registry reservation: where it lives and its export files.

struct ReservationRegistry {
  const char* key;        // the whole key, from HKEY_LOCAL_MACHINE
  const char* subKey;     // the key below HKEY_LOCAL_MACHINE
  const char* valueName;  // the DWORD value under it, in KB
};
ReservationRegistry ReservationRegistryNames();

// The reservation in the text of a registry export file; nothing when the
// file does not set it.
std::optional<uint32_t> ReservationInExport(std::string_view exportText);
// An export file that sets the reservation to kiloBytes.
std::string ReservationExport(uint32_t kiloBytes);
// Where the library reads the export file on POSIX: below XDG_CONFIG_HOME,
// else HOME; "" when neither is set.
std::string ReservationFilePath(const char* xdgConfigHome, const char* home);

}  // namespace orvik::host
