// The flash page and block commands.
#include "protocol/flash_commands.h"

#include <cstring>

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
CommandFrame AddressedFrame(size_t words, uint32_t operation, uint32_t direction, uint32_t address,
                            CommandForm form) {
  CommandFrame frame(words);
  frame.SetWord(0, FlashCommandWord(operation, direction, form));
  frame.SetWord(1, address & 0xFFFFFF);
  frame.SetWord(2, address >> 24);
  return frame;
}

// The drive's page buffer when it can hold pageCount pages of pageSize
// bytes, else nullptr (no scan yet, another drive, or too many pages).
uint8_t* PageBufferFor(const FlashDrive& drive, uint32_t pageCount, uint32_t pageSize) {
  DriveMediaState* state = drive.state;
  if (state == nullptr || state->pageBuffer.empty()) return nullptr;
  const FlashTypeDescriptor* type = RecordedFlashType(*state);
  if (type == nullptr || pageCount == 0 || pageCount > type->pagesPerBlock ||
      pageSize > type->pageSize || pageSize < kPageSize)
    return nullptr;
  return state->pageBuffer.data();
}

bool IsSmallPageType(const FlashDrive& drive) {
  return drive.state != nullptr && drive.state->flashType <= 2;
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
void FillSystemSpare(uint8_t* spare, uint32_t pageIndex, uint8_t fileTag) {
  std::memset(spare, 0xFF, kSpareSize);
  spare[kSpareDataStatus] = 0x00;
  spare[kSpareBlockStatus] = 0x00;
  if (pageIndex == 0) {
    spare[kSpareAddress1] = kSystemMarkFirst;
    spare[kSpareAddress1 + 1] = kSystemMarkSecond;
  } else if (pageIndex == 1) {
    spare[kSpareAddress1] = FILE_MARK;
    spare[kSpareAddress1 + 1] = fileTag;
  }
}

// The two half pages of a 512-byte page on flash types 0 to 2 (256-byte
// device pages with 8 redundant bytes each): the first carries bytes 0-3
// 0xFF, the status bytes and the first address field; the second the ECC of
// its own half, the second address field and the ECC of the first half.
bool WriteHalfPages(const uint8_t* data, uint32_t address, uint16_t logicalBlock,
                    const FlashDrive& drive, uint8_t* buffer) {
  uint16_t field = EncodeBlockAddress(logicalBlock);
  for (uint32_t half = 0; half < 2; ++half) {
    CommandFrame frame = AddressedFrame(5, CMD_FLASH_WRITE_PAGE, DIR_TO_DEVICE,
                                        address + half * kHalfPage, drive.form);
    frame.SetWord(3, kHalfPageLength);
    frame.SetWord(4, drive.number);
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

uint16_t SpareAddressWord(const uint8_t* rawPages, const FlashTypeDescriptor& type, uint32_t page) {
  const uint8_t* spare = rawPages + size_t{page} * type.pageSize + type.dataSize;
  return GetLittleEndian16(&spare[kSpareAddress1]);
}

uint32_t BlockMarksReplyLength(uint32_t blockCount) {
  return Packets(blockCount * kBlockMarkSize) * kPacket;
}

bool FlashReadPages(uint8_t* destination, uint32_t pageCount, uint32_t address, uint32_t pageSize,
                    uint32_t dataSize, const FlashDrive& drive) {
  pageSize &= 0xFFFF;
  dataSize &= 0xFFFF;
  uint8_t* buffer = PageBufferFor(drive, pageCount, pageSize);
  if (buffer == nullptr || dataSize > pageSize) return false;
  uint32_t readLength = Packets(pageCount * pageSize) * kPacket;
  CommandFrame frame =
      AddressedFrame(7, CMD_FLASH_READ_PAGES, DIR_FROM_DEVICE, address, drive.form);
  frame.SetWord(3, pageSize);
  frame.SetWord(4, pageCount);
  frame.SetWord(5, readLength / kPacket);
  frame.SetWord(6, drive.number);
  if (!ExchangeFrame(frame, buffer, readLength)) return false;
  if (destination != nullptr) {
    for (uint32_t i = 0; i < pageCount; ++i)
      std::memcpy(destination + i * dataSize, buffer + i * pageSize, dataSize);
  }
  return true;
}

bool FlashReadBlockMarks(uint8_t* destination, uint32_t blockCount, uint32_t address,
                         uint32_t pageSize, uint32_t pagesPerBlock, uint32_t dataSize,
                         const FlashDrive& drive) {
  if (destination == nullptr) return false;
  uint32_t replyLength = BlockMarksReplyLength(blockCount);
  CommandFrame frame =
      AddressedFrame(8, CMD_FLASH_READ_BLOCK_MARKS, DIR_FROM_DEVICE, address, drive.form);
  frame.SetWord(3, pageSize);
  frame.SetWord(4, blockCount);
  frame.SetWord(5, dataSize * pagesPerBlock);
  frame.SetWord(6, replyLength / kPacket);
  frame.SetWord(7, drive.number);
  return ExchangeFrame(frame, destination, replyLength);
}

bool FlashWritePage(const uint8_t* data, uint32_t address, uint32_t pageSize, uint32_t dataSize,
                    uint16_t logicalBlock, const FlashDrive& drive) {
  uint8_t* buffer = PageBufferFor(drive, 1, pageSize);
  if (buffer == nullptr || data == nullptr || dataSize != kDataSize) return false;
  transport::ExchangeGuard exchange;  // the frame and its page
  if (IsSmallPageType(drive)) return WriteHalfPages(data, address, logicalBlock, drive, buffer);
  CommandFrame frame = AddressedFrame(5, CMD_FLASH_WRITE_PAGE, DIR_TO_DEVICE, address, drive.form);
  frame.SetWord(3, pageSize);
  frame.SetWord(4, drive.number);
  if (!SendFrame(frame.Bytes(), frame.Length())) return false;
  std::memcpy(buffer, data, dataSize);
  FillDataSpare(buffer, buffer + dataSize, logicalBlock);
  return transport::WriteToDevice(buffer, pageSize);
}

bool FlashWritePages(const uint8_t* source, uint32_t pageCount, uint32_t address, uint32_t pageSize,
                     uint32_t dataSize, const PageMarking& marking, const FlashDrive& drive) {
  uint8_t* buffer = PageBufferFor(drive, pageCount, pageSize);
  if (buffer == nullptr || source == nullptr || dataSize != kDataSize) return false;
  for (uint32_t i = 0; i < pageCount; ++i) {
    uint8_t* page = buffer + i * pageSize;
    uint8_t* spare = page + dataSize;
    std::memcpy(page, source + i * dataSize, dataSize);
    if (marking.systemMode) {
      FillSystemSpare(spare, i, marking.fileTag);
    } else if (marking.zeroSpare) {
      std::memset(spare, 0x00, kSpareSize);
    } else {
      FillDataSpare(page, spare, marking.logicalBlock);
    }
  }
  uint32_t total = pageCount * pageSize;
  CommandFrame frame = AddressedFrame(7, CMD_FLASH_WRITE_PAGES, DIR_TO_DEVICE, address, drive.form);
  frame.SetWord(3, pageSize);
  frame.SetWord(4, pageCount);
  frame.SetWord(5, Packets(total));
  frame.SetWord(6, drive.number);
  transport::ExchangeGuard exchange;  // the frame and its pages
  if (!SendFrame(frame.Bytes(), frame.Length())) return false;
  return transport::WriteToDevice(buffer, total);
}

bool FlashWriteTagPage(uint32_t address, uint32_t pageSize, uint32_t dataSize, uint16_t tag,
                       const FlashDrive& drive) {
  if (IsSmallPageType(drive)) return true;
  uint8_t* buffer = PageBufferFor(drive, 1, pageSize);
  if (buffer == nullptr || dataSize != kDataSize) return false;
  CommandFrame frame = AddressedFrame(5, CMD_FLASH_WRITE_PAGE, DIR_TO_DEVICE, address, drive.form);
  frame.SetWord(3, pageSize);
  frame.SetWord(4, drive.number);
  transport::ExchangeGuard exchange;  // the frame and its page
  if (!SendFrame(frame.Bytes(), frame.Length())) return false;
  std::memset(buffer, 0xFF, pageSize);  // data and the bytes that carry nothing
  buffer[dataSize + kSpareDataStatus] = 0x00;
  buffer[dataSize + kSpareBlockStatus] = 0x00;
  PutLittleEndian16(&buffer[dataSize + kSpareAddress1], tag);
  return transport::WriteToDevice(buffer, pageSize);
}

bool FlashEraseBlock(uint32_t address, uint32_t pagesPerBlock, const FlashDrive& drive,
                     uint32_t* status, uint8_t* statusByte) {
  CommandFrame frame = AddressedFrame(5, CMD_FLASH_ERASE_BLOCK, DIR_TO_DEVICE, address, drive.form);
  frame.SetWord(3, pagesPerBlock);
  frame.SetWord(4, drive.number);
  uint8_t reply[6] = {};
  if (!ExchangeFrame(frame, reply, sizeof reply)) return false;
  if (status != nullptr) *status = GetWord24(reply);
  if (statusByte != nullptr) *statusByte = reply[3];
  return true;
}

}  // namespace orvik::protocol
