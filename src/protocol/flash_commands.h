// The flash page and block commands: read pages, read block marks, write a
// page, write consecutive pages, write a tag page, erase a block.
//
// The host builds every redundant area itself; the player stores and returns
// pages as raw bytes.  All page data passes through the drive's page buffer,
// which the block status scan allocates: page transfers fail, sending
// nothing, while it is missing, and never move more pages than it holds.
#pragma once

#include <cstdint>

#include "orvik/orvik.h"

namespace orvik::protocol {

inline constexpr uint32_t kCmdFlashWritePage = 0x00;
inline constexpr uint32_t kCmdFlashWritePages = 0x01;
inline constexpr uint32_t kCmdFlashReadPages = 0x03;
inline constexpr uint32_t kCmdFlashEraseBlock = 0x04;
inline constexpr uint32_t kCmdFlashReadBlockMarks = 0x0C;

// Redundant-area bytes of a page.
inline constexpr uint32_t kSpareDataStatus = 4;
inline constexpr uint32_t kSpareBlockStatus = 5;
inline constexpr uint32_t kSpareAddress1 = 6;
inline constexpr uint32_t kSpareEccHigh = 8;  // ECC of data bytes 256-511
inline constexpr uint32_t kSpareAddress2 = 11;
inline constexpr uint32_t kSpareEccLow = 13;  // ECC of data bytes 0-255

// The marks of system blocks in redundant bytes 6-7: "QV" on page 0, 'M'
// and the file's tag on page 1.
inline constexpr uint8_t SYSTEM_MARK_FIRST = 0x51;   // 'Q'
inline constexpr uint8_t SYSTEM_MARK_SECOND = 0x56;  // 'V'
inline constexpr uint16_t SYSTEM_MARK = 0x5651;      // as a little-endian word
inline constexpr uint8_t FILE_MARK = 0x4D;           // 'M'

// Logical block number of pages that carry none (the CIS page).
inline constexpr uint16_t kNoLogicalBlock = 0xFFFF;
inline constexpr uint32_t kBlockMarkSize = 6;

// Bytes the reply of a block-marks read occupies: whole 64-byte packets.
uint32_t BlockMarksReplyLength(uint32_t blockCount);

// Reads pageCount raw pages into the page buffer; with a destination, copies
// the data part of each page there, packed.
bool FlashReadPages(uint8_t* destination, uint32_t pageCount, uint32_t address, uint32_t pageSize,
                    uint32_t dataSize, uint8_t drive);

// Reads a 6-byte mark record per block into destination, which must hold
// BlockMarksReplyLength(blockCount) bytes.
bool FlashReadBlockMarks(uint8_t* destination, uint32_t blockCount, uint32_t address,
                         uint32_t pageSize, uint32_t pagesPerBlock, uint32_t dataSize,
                         uint8_t drive);

// Writes one 512-byte data page with its redundant area: ECC and the
// block-address field of logicalBlock (kNoLogicalBlock: field 0x0000).
// Flash types 0 to 2 take it as two 264-byte half pages.
bool FlashWritePage(const uint8_t* data, uint32_t address, uint32_t pageSize, uint32_t dataSize,
                    uint16_t logicalBlock, uint8_t drive);

// How FlashWritePages fills the redundant areas.
struct PageMarking {
  bool systemMode = false;  // system marks; marker names the file of page 1
  uint8_t marker = 0;
  bool zeroSpare = false;  // all-zero redundant areas: the block reads as bad
  uint16_t logicalBlock = kNoLogicalBlock;
  const _BinaryFilesInformation* files = nullptr;
};

// Writes pageCount consecutive pages from source (dataSize bytes each) in
// one exchange.
bool FlashWritePages(const uint8_t* source, uint32_t pageCount, uint32_t address, uint32_t pageSize,
                     uint32_t dataSize, const PageMarking& marking, uint8_t drive);

// Writes one page of 0xFF data whose redundant bytes 6-7 carry tag; flash
// types 0 to 2 have no room for it: nothing is sent and the result is true.
bool FlashWriteTagPage(uint32_t address, uint32_t pageSize, uint32_t dataSize, uint16_t tag,
                       uint8_t drive);

// Erases one block; true when both transfers succeeded, whatever the
// device's status word (0 erased) and status byte say.
bool FlashEraseBlock(uint32_t address, uint32_t pagesPerBlock, uint8_t drive, uint32_t* status,
                     uint8_t* statusByte);

}  // namespace orvik::protocol
