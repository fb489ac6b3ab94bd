// The flash page and block commands: read pages, read block marks, write a
// page, write consecutive pages, write a tag page, erase a block.
//
// The host builds every redundant area itself; the player stores and returns
// pages as raw bytes.  All page data passes through the drive's page buffer,
// which the block status scan allocates: page transfers fail, sending
// nothing, while it is missing, and never move more pages than it holds.
#pragma once

#include <cstdint>

#include "protocol/command_frame.h"
#include "protocol/media_state.h"

namespace orvik::protocol {

inline constexpr uint32_t CMD_FLASH_WRITE_PAGE = 0x00;
inline constexpr uint32_t CMD_FLASH_WRITE_PAGES = 0x01;
inline constexpr uint32_t CMD_FLASH_READ_PAGES = 0x03;
inline constexpr uint32_t CMD_FLASH_ERASE_BLOCK = 0x04;
inline constexpr uint32_t CMD_FLASH_READ_BLOCK_MARKS = 0x0C;

// Redundant-area bytes of a page.
inline constexpr uint32_t kSpareDataStatus = 4;
inline constexpr uint32_t kSpareBlockStatus = 5;
inline constexpr uint32_t kSpareAddress1 = 6;
inline constexpr uint32_t kSpareEccHigh = 8;  // ECC of data bytes 256-511
inline constexpr uint32_t kSpareAddress2 = 11;
inline constexpr uint32_t kSpareEccLow = 13;  // ECC of data bytes 0-255

// The marks of system blocks in redundant bytes 6-7: "QV" on page 0, 'M'
// and the file's tag on page 1.
inline constexpr uint8_t kSystemMarkFirst = 0x51;   // 'Q'
inline constexpr uint8_t kSystemMarkSecond = 0x56;  // 'V'
inline constexpr uint16_t SYSTEM_MARK = 0x5651;     // as a little-endian word
inline constexpr uint8_t FILE_MARK = 0x4D;          // 'M'

// Logical block number of pages that carry none (the CIS page).
inline constexpr uint16_t kNoLogicalBlock = 0xFFFF;
inline constexpr uint32_t kBlockMarkSize = 6;

// What a flash command needs to know of its drive, handed down by the
// export that runs it: the drive byte of the frames, the library's state of
// the drive (its page buffer and scanned type; nullptr for a drive without
// state: page transfers then fail sending nothing) and the command form.
struct FlashDrive {
  uint8_t number = 0;
  DriveMediaState* state = nullptr;
  CommandForm form = CommandForm::kPlain;
};

// The word in redundant bytes 6-7 (the first block-address field, which
// system pages use for their marks and version words) of page `page` of a
// run of raw pages of the type.
uint16_t SpareAddressWord(const uint8_t* rawPages, const FlashTypeDescriptor& type, uint32_t page);

// Bytes the reply of a block-marks read occupies: whole 64-byte packets.
uint32_t BlockMarksReplyLength(uint32_t blockCount);

// Reads pageCount raw pages into the page buffer; with a destination, copies
// the data part of each page there, packed.
bool FlashReadPages(uint8_t* destination, uint32_t pageCount, uint32_t address, uint32_t pageSize,
                    uint32_t dataSize, const FlashDrive& drive);

// Reads a 6-byte mark record per block into destination, which must hold
// BlockMarksReplyLength(blockCount) bytes.
bool FlashReadBlockMarks(uint8_t* destination, uint32_t blockCount, uint32_t address,
                         uint32_t pageSize, uint32_t pagesPerBlock, uint32_t dataSize,
                         const FlashDrive& drive);

// Writes one 512-byte data page with its redundant area: ECC and the
// block-address field of logicalBlock (kNoLogicalBlock: field 0x0000).
// Flash types 0 to 2 take it as two 264-byte half pages.
bool FlashWritePage(const uint8_t* data, uint32_t address, uint32_t pageSize, uint32_t dataSize,
                    uint16_t logicalBlock, const FlashDrive& drive);

// How FlashWritePages fills the redundant areas.
struct PageMarking {
  bool systemMode = false;  // system marks; fileTag is the tag byte of page 1
  uint8_t fileTag = 0xFF;   // 0xFF: a file the host did not list
  bool zeroSpare = false;   // all-zero redundant areas: the block reads as bad
  uint16_t logicalBlock = kNoLogicalBlock;
};

// Writes pageCount consecutive pages from source (dataSize bytes each) in
// one exchange.
bool FlashWritePages(const uint8_t* source, uint32_t pageCount, uint32_t address, uint32_t pageSize,
                     uint32_t dataSize, const PageMarking& marking, const FlashDrive& drive);

// Writes one page of 0xFF data whose redundant bytes 6-7 carry tag; flash
// types 0 to 2 have no room for it: nothing is sent and the result is true.
bool FlashWriteTagPage(uint32_t address, uint32_t pageSize, uint32_t dataSize, uint16_t tag,
                       const FlashDrive& drive);

// Erases one block; true when both transfers succeeded, whatever the
// device's status word (0 erased) and status byte say.
bool FlashEraseBlock(uint32_t address, uint32_t pagesPerBlock, const FlashDrive& drive,
                     uint32_t* status, uint8_t* statusByte);

}  // namespace orvik::protocol
