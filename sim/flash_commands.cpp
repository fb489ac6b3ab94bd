// Class 1: the NAND commands (read pages, block marks, write page, write
// pages, erase, read ID).  Addresses count data bytes only: (block x
// pagesPerBlock + page) x 512.
#include <algorithm>
#include <cstring>

#include "sim/commands.h"

namespace orvik::sim {
namespace {

constexpr uint32_t CMD_FLASH_WRITE_PAGE = 0x0100;
constexpr uint32_t CMD_FLASH_WRITE_PAGES = 0x0101;
constexpr uint32_t CMD_FLASH_READ_PAGES = 0x0103;
constexpr uint32_t CMD_FLASH_ERASE_BLOCK = 0x0104;
constexpr uint32_t CMD_FLASH_READ_ID = 0x0106;
constexpr uint32_t CMD_FLASH_READ_BLOCK_MARKS = 0x010C;

constexpr uint32_t kHalfPageBytes = 264;  // 256 data + 8 spare bytes of a small-page chip
constexpr uint32_t kMarksPerBlock = 6;    // spare bytes 4..9 of the block's first page
constexpr uint32_t kMaxMarkRecords = 32768;
constexpr uint8_t kNandStatusReady = 0xC0;  // ready, not write protected
constexpr uint8_t kNandStatusFailed = 0xC1;

uint32_t Packets(uint64_t bytes) { return static_cast<uint32_t>((bytes + 63) / 64); }

uint32_t ExpectedDirection(uint32_t op) {
  switch (op) {
    case CMD_FLASH_READ_PAGES:
    case CMD_FLASH_READ_ID:
    case CMD_FLASH_READ_BLOCK_MARKS:
      return DIR_FROM_DEVICE;
    default:
      return DIR_TO_DEVICE;
  }
}

// Programs part of a page; a weak page then loses one data bit.
void ProgramBytes(PlayerState& state, uint32_t page, uint32_t offset, const uint8_t* data,
                  uint32_t length) {
  state.nand.ProgramPage(page, offset, data, length);
  if (auto bit = state.faults.LostBitAfterProgram(page, state.transferCount)) {
    uint8_t raw[kPageBytes];
    state.nand.ReadPage(page, raw);
    uint8_t changed = static_cast<uint8_t>(raw[*bit / 8] ^ (1u << (*bit % 8)));
    state.nand.SetPageBytes(page, *bit / 8, &changed, 1);
  }
}

class FlashCommand {
 public:
  FlashCommand(PlayerState& state, const Frame& frame) : state_(state), frame_(frame) {}

  CommandOutcome Run() {
    uint32_t op = frame_.Command();
    if (op != CMD_FLASH_WRITE_PAGE && op != CMD_FLASH_WRITE_PAGES && op != CMD_FLASH_READ_PAGES &&
        op != CMD_FLASH_ERASE_BLOCK && op != CMD_FLASH_READ_ID && op != CMD_FLASH_READ_BLOCK_MARKS)
      return CommandOutcome::Violation("unknown flash command " + Hex(frame_.CommandWord()));
    if (frame_.Direction() != 0 && frame_.Direction() != ExpectedDirection(op))
      return CommandOutcome::Violation("flash command " + Hex(frame_.CommandWord()) +
                                       " with wrong direction bits");
    switch (op) {
      case CMD_FLASH_READ_ID:
        return ReadId();
      case CMD_FLASH_READ_PAGES:
        return ReadPages();
      case CMD_FLASH_READ_BLOCK_MARKS:
        return ReadBlockMarks();
      case CMD_FLASH_WRITE_PAGE:
        return WritePage();
      case CMD_FLASH_WRITE_PAGES:
        return WritePages();
      default:
        return EraseBlock();
    }
  }

 private:
  // Checks the frame length and that the drive (the last word, except for
  // read ID, whose only argument is a chip number) is the internal flash;
  // an empty string when both hold.
  std::string CheckShape(const char* name, uint32_t length, bool endsWithDrive = true) {
    if (frame_.Length() != length)
      return std::string(name) + " frame of " + std::to_string(frame_.Length()) + " bytes, not " +
             std::to_string(length);
    if (!endsWithDrive) return {};
    uint32_t drive = frame_.Word(length / 3 - 1);
    if (drive != 0) return std::string(name) + " for drive " + Hex(drive) + ", not the flash";
    return {};
  }

  // The page addressed by bytes 3..8, which must be a whole page (or, with
  // halfPages, a half page) inside the flash.
  bool AddressedPage(uint32_t* page, uint32_t* offset, bool halfPages) {
    uint64_t address = frame_.Address48();
    uint64_t within = address % kPageDataBytes;
    if (within != 0 && !(halfPages && within == kPageDataBytes / 2)) return false;
    if (address / kPageDataBytes >= state_.geometry.PageCount()) return false;
    *page = static_cast<uint32_t>(address / kPageDataBytes);
    *offset = static_cast<uint32_t>(within);
    return true;
  }

  std::string Where(uint32_t page) const {
    return "block " + std::to_string(page / state_.geometry.pagesPerBlock) + " page " +
           std::to_string(page % state_.geometry.pagesPerBlock);
  }

  CommandOutcome ReadId() {
    if (std::string wrong = CheckShape("read ID", 6, false); !wrong.empty())
      return CommandOutcome::Violation(wrong);
    uint32_t chip = frame_.Word(1);
    std::vector<uint8_t> reply(6, 0);
    if (chip == 0) {
      FlashIdCodes codes = state_.IdCodes();
      PutLittleEndian(&reply[3], 3, uint32_t{codes.maker} | uint32_t{codes.device} << 8);
    } else {
      PutLittleEndian(&reply[0], 3, 1);  // no such chip
    }
    return CommandOutcome::Reply("flash read ID chip " + std::to_string(chip), std::move(reply));
  }

  CommandOutcome ReadPages() {
    if (std::string wrong = CheckShape("read pages", 21); !wrong.empty())
      return CommandOutcome::Violation(wrong);
    uint32_t page = 0, offset = 0, count = frame_.Word(4);
    if (!AddressedPage(&page, &offset, false))
      return CommandOutcome::Violation("read pages at " + Hex(frame_.Address48()) +
                                       ": not a page of the flash");
    if (frame_.Word(3) != kPageBytes)
      return CommandOutcome::Violation("read pages with page size " + Hex(frame_.Word(3)));
    if (count == 0 || count > state_.geometry.pagesPerBlock ||
        count > state_.geometry.PageCount() - page)
      return CommandOutcome::Violation("read pages of " + std::to_string(count) + " pages at " +
                                       Where(page));
    if (frame_.Word(5) != Packets(uint64_t{count} * kPageBytes))
      return CommandOutcome::Violation("read pages announces " + std::to_string(frame_.Word(5)) +
                                       " packets for " + std::to_string(count) + " pages");
    std::vector<uint8_t> reply(size_t{count} * kPageBytes);
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t* raw = reply.data() + size_t{i} * kPageBytes;
      state_.nand.ReadPage(page + i, raw);
      if (auto bit = state_.faults.BitFlipOnRead(page + i, state_.transferCount))
        raw[*bit / 8] = static_cast<uint8_t>(raw[*bit / 8] ^ (1u << (*bit % 8)));
    }
    state_.stats.pagesRead += count;
    return CommandOutcome::Reply(
        "flash read pages " + Where(page) + " count " + std::to_string(count), std::move(reply));
  }

  CommandOutcome ReadBlockMarks() {
    if (std::string wrong = CheckShape("read block marks", 24); !wrong.empty())
      return CommandOutcome::Violation(wrong);
    const FlashGeometry& geometry = state_.geometry;
    uint64_t address = frame_.Address48();
    uint32_t count = frame_.Word(4);
    if (address % geometry.BlockDataBytes() != 0 ||
        address / geometry.BlockDataBytes() >= geometry.blockCount)
      return CommandOutcome::Violation("block marks at " + Hex(address) +
                                       ": not a block of the flash");
    if (frame_.Word(3) != kPageBytes || frame_.Word(5) != geometry.BlockDataBytes())
      return CommandOutcome::Violation("block marks with page size " + Hex(frame_.Word(3)) +
                                       " and block stride " + Hex(frame_.Word(5)));
    if (count == 0 || count > kMaxMarkRecords)
      return CommandOutcome::Violation("block marks of " + std::to_string(count) + " blocks");
    if (frame_.Word(6) != Packets(uint64_t{count} * kMarksPerBlock))
      return CommandOutcome::Violation("block marks announce " + std::to_string(frame_.Word(6)) +
                                       " packets for " + std::to_string(count) + " blocks");
    auto first = static_cast<uint32_t>(address / geometry.BlockDataBytes());
    std::vector<uint8_t> reply(size_t{count} * kMarksPerBlock, 0xFF);
    uint8_t raw[kPageBytes];
    for (uint32_t i = 0; i < count && first + i < geometry.blockCount; ++i) {
      state_.nand.ReadPage((first + i) * geometry.pagesPerBlock, raw);
      std::memcpy(reply.data() + size_t{i} * kMarksPerBlock, raw + kPageDataBytes + 4,
                  kMarksPerBlock);
    }
    return CommandOutcome::Reply(
        "flash block marks from block " + std::to_string(first) + " count " + std::to_string(count),
        std::move(reply));
  }

  CommandOutcome WritePage() {
    if (std::string wrong = CheckShape("write page", 15); !wrong.empty())
      return CommandOutcome::Violation(wrong);
    bool halfPages = UsesHalfPages(state_.config.flashType);
    uint32_t page = 0, offset = 0, length = frame_.Word(3);
    if (!AddressedPage(&page, &offset, halfPages))
      return CommandOutcome::Violation("write page at " + Hex(frame_.Address48()) +
                                       ": not a page of the flash");
    bool whole = length == kPageBytes && offset == 0;
    bool half = halfPages && length == kHalfPageBytes;
    if (!whole && !half)
      return CommandOutcome::Violation("write page of " + std::to_string(length) + " bytes at " +
                                       Hex(frame_.Address48()));
    std::string what = "flash write page " + Where(page);
    if (half) what += offset == 0 ? " first half" : " second half";
    return CommandOutcome::Data(what, length,
                                [page, offset, half](PlayerState& s, const uint8_t* data) {
                                  if (half) {
                                    // A 256-byte page of a small chip: its 8 spare bytes are the
                                    // first or the second half of the page's 16.
                                    uint32_t spareAt = kPageDataBytes + (offset == 0 ? 0 : 8);
                                    ProgramBytes(s, page, offset, data, 256);
                                    ProgramBytes(s, page, spareAt, data + 256, 8);
                                  } else {
                                    ProgramBytes(s, page, 0, data, kPageBytes);
                                  }
                                  ++s.stats.pagesProgrammed;
                                  ++s.changeCount;
                                });
  }

  CommandOutcome WritePages() {
    if (std::string wrong = CheckShape("write pages", 21); !wrong.empty())
      return CommandOutcome::Violation(wrong);
    uint32_t page = 0, offset = 0, count = frame_.Word(4);
    if (!AddressedPage(&page, &offset, false))
      return CommandOutcome::Violation("write pages at " + Hex(frame_.Address48()) +
                                       ": not a page of the flash");
    if (frame_.Word(3) != kPageBytes)
      return CommandOutcome::Violation("write pages with page size " + Hex(frame_.Word(3)));
    if (count == 0 || count > state_.geometry.pagesPerBlock ||
        count > state_.geometry.PageCount() - page)
      return CommandOutcome::Violation("write pages of " + std::to_string(count) + " pages at " +
                                       Where(page));
    if (frame_.Word(5) != Packets(uint64_t{count} * kPageBytes))
      return CommandOutcome::Violation("write pages announces " + std::to_string(frame_.Word(5)) +
                                       " packets for " + std::to_string(count) + " pages");
    return CommandOutcome::Data(
        "flash write pages " + Where(page) + " count " + std::to_string(count), count * kPageBytes,
        [page, count](PlayerState& s, const uint8_t* data) {
          for (uint32_t i = 0; i < count; ++i)
            ProgramBytes(s, page + i, 0, data + size_t{i} * kPageBytes, kPageBytes);
          s.stats.pagesProgrammed += count;
          ++s.changeCount;
        });
  }

  CommandOutcome EraseBlock() {
    if (std::string wrong = CheckShape("erase", 15); !wrong.empty())
      return CommandOutcome::Violation(wrong);
    const FlashGeometry& geometry = state_.geometry;
    uint64_t address = frame_.Address48();
    if (address % geometry.BlockDataBytes() != 0 ||
        address / geometry.BlockDataBytes() >= geometry.blockCount)
      return CommandOutcome::Violation("erase at " + Hex(address) + ": not a block of the flash");
    if (frame_.Word(3) != geometry.pagesPerBlock)
      return CommandOutcome::Violation("erase of " + std::to_string(frame_.Word(3)) +
                                       " pages, the block has " +
                                       std::to_string(geometry.pagesPerBlock));
    auto block = static_cast<uint32_t>(address / geometry.BlockDataBytes());
    std::vector<uint8_t> reply(6, 0);
    if (state_.faults.EraseFails(block, state_.transferCount)) {
      PutLittleEndian(&reply[0], 3, 1);
      reply[3] = kNandStatusFailed;
    } else {
      state_.nand.EraseBlock(block);
      ++state_.stats.blocksErased;
      ++state_.changeCount;
      reply[3] = kNandStatusReady;
    }
    return CommandOutcome::Reply("flash erase block " + std::to_string(block), std::move(reply));
  }

  PlayerState& state_;
  const Frame& frame_;
};

}  // namespace

CommandOutcome HandleFlashCommand(PlayerState& state, const Frame& frame) {
  return FlashCommand(state, frame).Run();
}

}  // namespace orvik::sim
