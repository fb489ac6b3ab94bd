// The flash page and block commands.
#include "protocol/flash_commands.h"

#include <algorithm>
#include <cstring>

#include "firmware/file_set.h"
#include "protocol/byte_order.h"
#include "protocol/command_frame.h"
#include "protocol/ecc.h"
#include "protocol/media_state.h"
#include "transport/exchange_guard.h"
#include "transport/session.h"

namespace orvik::protocol {
namespace {

constexpr uint32_t kHalfPage = 256;
constexpr uint32_t kHalfPageLength = 264;  // 256 data bytes and 8 redundant bytes
constexpr uint32_t kPacket = 64;

uint32_t Packets(uint32_t bytes) { return (bytes + kPacket - 1) / kPacket; }

// A frame whose words 1 and 2 carry the 48-bit flash address (the upper 16
// bits are always 0).
CommandFrame AddressedFrame(size_t words, uint32_t operation, uint32_t direction,
                            uint32_t address) {
  CommandFrame frame(words);
  frame.SetWord(0, FlashCommandWord(operation, direction));
  frame.SetWord(1, address & 0xFFFFFF);
  frame.SetWord(2, address >> 24);
  return frame;
}

// The drive's page buffer when it can hold pageCount pages of pageSize
// bytes, else nullptr (no scan yet, another drive, or too many pages).
uint8_t* PageBufferFor(uint8_t drive, uint32_t pageCount, uint32_t pageSize) {
  DriveMediaState* state = MediaStateFor(drive);
  if (state == nullptr || state->pageBuffer == nullptr) return nullptr;
  const FlashTypeDescriptor* type = RecordedFlashType(*state);
  if (type == nullptr || pageCount == 0 || pageCount > type->pagesPerBlock ||
      pageSize > type->pageSize || pageSize < kPageSize)
    return nullptr;
  return state->pageBuffer;
}

bool IsSmallPageType(uint8_t drive) {
  DriveMediaState* state = MediaStateFor(drive);
  return state != nullptr && state->flashType <= 2;
}

// The redundant area of a data page: status bytes 0xFF, both ECCs, both
// block-address fields.
void FillDataSpare(const uint8_t* data, uint8_t* spare, uint16_t logicalBlock) {
  std::memset(spare, 0xFF, 6);
  ComputeEcc256(data, &spare[kSpareEccLow]);
  ComputeEcc256(data + kHalfPage, &spare[kSpareEccHigh]);
  uint16_t field = logicalBlock == kNoLogicalBlock ? 0 : EncodeBlockAddress(logicalBlock);
  PutLittleEndian16(&spare[kSpareAddress1], field);
  PutLittleEndian16(&spare[kSpareAddress2], field);
}

// The redundant area of a page written in system mode.  Bytes 8-15 carry
// nothing and are left 0xFF (erased), so the write changes no other bit.
void FillSystemSpare(uint8_t* spare, uint32_t pageIndex, uint8_t marker,
                     const _BinaryFilesInformation* files) {
  std::memset(spare, 0xFF, kSpareSize);
  spare[kSpareDataStatus] = 0x00;
  spare[kSpareBlockStatus] = 0x00;
  if (pageIndex == 0) {
    spare[kSpareAddress1] = SYSTEM_MARK_FIRST;
    spare[kSpareAddress1 + 1] = SYSTEM_MARK_SECOND;
  } else if (pageIndex == 1) {
    spare[kSpareAddress1] = FILE_MARK;
    uint8_t tag = firmware::TagForMarker(marker);
    bool listed = false;
    if (files != nullptr) {
      uint32_t count = std::min<uint32_t>(files->fileCount, MAX_FILES);
      listed = std::find(files->fileTags, files->fileTags + count, tag) != files->fileTags + count;
    }
    spare[kSpareAddress1 + 1] = listed ? tag : 0xFF;
  }
}

// The two half pages of a 512-byte page on flash types 0 to 2 (256-byte
// device pages with 8 redundant bytes each): the first carries bytes 0-3
// 0xFF, the status bytes and the first address field; the second the ECC of
// its own half, the second address field and the ECC of the first half.
bool WriteHalfPages(const uint8_t* data, uint32_t address, uint16_t logicalBlock, uint8_t drive,
                    uint8_t* buffer) {
  uint16_t field = EncodeBlockAddress(logicalBlock);
  for (uint32_t half = 0; half < 2; ++half) {
    CommandFrame frame =
        AddressedFrame(5, kCmdFlashWritePage, kDirToDevice, address + half * kHalfPage);
    frame.SetWord(3, kHalfPageLength);
    frame.SetWord(4, drive);
    if (!SendFrame(frame.Bytes(), frame.Length())) return false;
    std::memcpy(buffer, data + half * kHalfPage, kHalfPage);
    uint8_t* spare = buffer + kHalfPage;
    if (half == 0) {
      std::memset(spare, 0xFF, 6);
      PutLittleEndian16(&spare[6], field);
    } else {
      ComputeEcc256(data + kHalfPage, &spare[0]);
      PutLittleEndian16(&spare[3], field);
      ComputeEcc256(data, &spare[5]);
    }
    if (!transport::WriteToDevice(buffer, kHalfPageLength)) return false;
  }
  return true;
}

}  // namespace

uint32_t BlockMarksReplyLength(uint32_t blockCount) {
  return Packets(blockCount * kBlockMarkSize) * kPacket;
}

bool FlashReadPages(uint8_t* destination, uint32_t pageCount, uint32_t address, uint32_t pageSize,
                    uint32_t dataSize, uint8_t drive) {
  pageSize &= 0xFFFF;
  dataSize &= 0xFFFF;
  uint8_t* buffer = PageBufferFor(drive, pageCount, pageSize);
  if (buffer == nullptr || dataSize > pageSize) return false;
  uint32_t readLength = Packets(pageCount * pageSize) * kPacket;
  CommandFrame frame = AddressedFrame(7, kCmdFlashReadPages, kDirFromDevice, address);
  frame.SetWord(3, pageSize);
  frame.SetWord(4, pageCount);
  frame.SetWord(5, readLength / kPacket);
  frame.SetWord(6, drive);
  if (!ExchangeFrame(frame, buffer, readLength)) return false;
  if (destination != nullptr) {
    for (uint32_t i = 0; i < pageCount; ++i)
      std::memcpy(destination + i * dataSize, buffer + i * pageSize, dataSize);
  }
  return true;
}

bool FlashReadBlockMarks(uint8_t* destination, uint32_t blockCount, uint32_t address,
                         uint32_t pageSize, uint32_t pagesPerBlock, uint32_t dataSize,
                         uint8_t drive) {
  if (destination == nullptr) return false;
  uint32_t replyLength = BlockMarksReplyLength(blockCount);
  CommandFrame frame = AddressedFrame(8, kCmdFlashReadBlockMarks, kDirFromDevice, address);
  frame.SetWord(3, pageSize);
  frame.SetWord(4, blockCount);
  frame.SetWord(5, dataSize * pagesPerBlock);
  frame.SetWord(6, replyLength / kPacket);
  frame.SetWord(7, drive);
  return ExchangeFrame(frame, destination, replyLength);
}

bool FlashWritePage(const uint8_t* data, uint32_t address, uint32_t pageSize, uint32_t dataSize,
                    uint16_t logicalBlock, uint8_t drive) {
  uint8_t* buffer = PageBufferFor(drive, 1, pageSize);
  if (buffer == nullptr || data == nullptr || dataSize != kDataSize) return false;
  transport::ExchangeGuard exchange;  // the frame and its page
  if (IsSmallPageType(drive)) return WriteHalfPages(data, address, logicalBlock, drive, buffer);
  CommandFrame frame = AddressedFrame(5, kCmdFlashWritePage, kDirToDevice, address);
  frame.SetWord(3, pageSize);
  frame.SetWord(4, drive);
  if (!SendFrame(frame.Bytes(), frame.Length())) return false;
  std::memcpy(buffer, data, dataSize);
  FillDataSpare(buffer, buffer + dataSize, logicalBlock);
  return transport::WriteToDevice(buffer, pageSize);
}

bool FlashWritePages(const uint8_t* source, uint32_t pageCount, uint32_t address, uint32_t pageSize,
                     uint32_t dataSize, const PageMarking& marking, uint8_t drive) {
  uint8_t* buffer = PageBufferFor(drive, pageCount, pageSize);
  if (buffer == nullptr || source == nullptr || dataSize != kDataSize) return false;
  for (uint32_t i = 0; i < pageCount; ++i) {
    uint8_t* page = buffer + i * pageSize;
    uint8_t* spare = page + dataSize;
    std::memcpy(page, source + i * dataSize, dataSize);
    if (marking.systemMode) {
      FillSystemSpare(spare, i, marking.marker, marking.files);
    } else if (marking.zeroSpare) {
      std::memset(spare, 0x00, kSpareSize);
    } else {
      FillDataSpare(page, spare, marking.logicalBlock);
    }
  }
  uint32_t total = pageCount * pageSize;
  CommandFrame frame = AddressedFrame(7, kCmdFlashWritePages, kDirToDevice, address);
  frame.SetWord(3, pageSize);
  frame.SetWord(4, pageCount);
  frame.SetWord(5, Packets(total));
  frame.SetWord(6, drive);
  transport::ExchangeGuard exchange;  // the frame and its pages
  if (!SendFrame(frame.Bytes(), frame.Length())) return false;
  return transport::WriteToDevice(buffer, total);
}

bool FlashWriteTagPage(uint32_t address, uint32_t pageSize, uint32_t dataSize, uint16_t tag,
                       uint8_t drive) {
  if (IsSmallPageType(drive)) return true;
  uint8_t* buffer = PageBufferFor(drive, 1, pageSize);
  if (buffer == nullptr || dataSize != kDataSize) return false;
  CommandFrame frame = AddressedFrame(5, kCmdFlashWritePage, kDirToDevice, address);
  frame.SetWord(3, pageSize);
  frame.SetWord(4, drive);
  transport::ExchangeGuard exchange;  // the frame and its page
  if (!SendFrame(frame.Bytes(), frame.Length())) return false;
  std::memset(buffer, 0xFF, pageSize);  // data and the bytes that carry nothing
  buffer[dataSize + kSpareDataStatus] = 0x00;
  buffer[dataSize + kSpareBlockStatus] = 0x00;
  PutLittleEndian16(&buffer[dataSize + kSpareAddress1], tag);
  return transport::WriteToDevice(buffer, pageSize);
}

bool FlashEraseBlock(uint32_t address, uint32_t pagesPerBlock, uint8_t drive, uint32_t* status,
                     uint8_t* statusByte) {
  CommandFrame frame = AddressedFrame(5, kCmdFlashEraseBlock, kDirToDevice, address);
  frame.SetWord(3, pagesPerBlock);
  frame.SetWord(4, drive);
  uint8_t reply[6] = {};
  if (!ExchangeFrame(frame, reply, sizeof reply)) return false;
  if (status != nullptr) *status = GetWord24(reply);
  if (statusByte != nullptr) *statusByte = reply[3];
  return true;
}

}  // namespace orvik::protocol
