// The system area a firmware set needs on a player, block by block, and
// the comparison of a player's flash with it.
//
// What the update and the full format leave on the flash, worked out from
// the block table of a fresh scan and the files as the library prepares
// them: the startup copy (file 0's first copy) in the three low system
// blocks after the CIS block, each file's copy in the reserved area at the
// top of the flash in the set's order (each from a fresh block, bad blocks
// passed over), its version words on pages 2 to 5 of its first block there,
// and every other block of both regions erased and carrying the system
// marks.  Every system block carries "QV" on page 0 and 'M' with its file's
// tag on page 1; the data of a file's pages is its image, the pages after
// its last one erased (a one-page last block has a second, zero page).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware_set/host_file_set.h"
#include "firmware_set/version_table.h"
#include "host/host_internals.h"
#include "sim/player.h"

namespace orvik::tool {

enum class Region { kLow, kReserved };

struct ExpectedBlock {
  uint32_t block = 0;
  Region region = Region::kReserved;
  // The file whose image the block holds (its index in the set), or none:
  // the block is unused and holds erased data under the system marks.
  std::optional<uint32_t> file;
  uint8_t tag = 0;           // the file's tag (file blocks only)
  uint32_t indexInFile = 0;  // which block of the file's image
  // Version words expected on pages 2 to 5 (a file's first reserved block,
  // on flash types that store them).
  std::optional<VersionWords> version;
};

struct ExpectedLayout {
  std::vector<ExpectedBlock> blocks;  // the low blocks, then the reserved area
  // The set does not fit the blocks the scan found (nothing more is
  // expected after the last block that fits).
  bool overflows = false;
  // File 0's image is longer than the three low blocks: the startup copy
  // cannot be whole there.
  bool startupCopyTooLong = false;
};

// The prepared image of each file of the set (empty for a file with nothing
// to write) and its version words.
struct SetImage {
  uint8_t tag = 0;
  std::vector<uint8_t> image;  // lengthToWrite bytes of page data
  VersionWords version;
};

// The set's files as the library prepares them for the flash type (the
// library's own preparation, so the images are what it writes).  Returns
// the preparation's status (PROGRAM_MEDIA_DONE when every file was made).
int PrepareSetImages(const host::FlashType& type, HostFileSet& files,
                     std::vector<SetImage>& images);

// blockTable: the scan's table (one entry per block).
ExpectedLayout ExpectLayout(const host::FlashType& type,
                            const std::vector<host::TableEntry>& blockTable, uint32_t cisBlock,
                            uint32_t firstReservedBlock, const std::vector<SetImage>& files);

// The low system blocks: the first three blocks after the CIS block that
// are not bad.
std::vector<uint32_t> LowSystemBlocks(const std::vector<host::TableEntry>& blockTable,
                                      uint32_t cisBlock);

struct LayoutDifference {
  uint32_t block = 0;
  Region region = Region::kReserved;
  std::optional<uint32_t> file;  // the file the block should hold, if any
  std::string tag;               // its tag in words ("" for an unused block)
  // "erased" (the block holds nothing), "marks" (not marked as a system
  // block of that file), "data" (a page differs), "version" (the version
  // words differ).
  std::string kind;
  uint32_t page = 0;    // data: first differing page
  uint32_t offset = 0;  // data: first differing byte in its data
};

// Compares the flash (a copy holding at least every page of the expected
// blocks) with the layout, one difference per block at most.
std::vector<LayoutDifference> CompareWithLayout(const sim::Player& flash,
                                                const host::FlashType& type,
                                                const ExpectedLayout& layout,
                                                const std::vector<SetImage>& files);

}  // namespace orvik::tool
