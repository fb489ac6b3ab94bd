// The quick format's format stage: the CIS page, then the volume's fixed
// part sector by sector, each page read back and compared.
#include <cstring>
#include <optional>

#include "media/block_status.h"
#include "media/cis_page.h"
#include "media/format_layout.h"
#include "media/quick_format.h"
#include "platform/page_buffer.h"
#include "platform/trace.h"
#include "protocol/flash_commands.h"
#include "transport/session.h"

namespace orvik::media {
namespace {

using protocol::DriveMediaState;
using protocol::FlashTypeDescriptor;

class LogicalFormatWriter {
 public:
  LogicalFormatWriter(DriveMediaState& state, const FlashTypeDescriptor& type,
                      const protocol::FlashDrive& drive, uint32_t partitionSectors,
                      protocol::ProgressTarget& progress)
      : state_(state),
        type_(type),
        layout_(*FormatLayoutFor(type.typeIndex)),
        drive_(drive),
        partitionSectors_(partitionSectors),
        zoneEnd_(FirstZoneEnd(type)),
        step_(100.0 / (layout_.lastFormatSector + 2)),
        progress_(progress) {}

  bool Run() {
    if (!sector_.Allocate(type_.BlockBytes()) || !readBack_.Allocate(type_.pageSize) ||
        !zeros_.Allocate(type_.BlockBytes())) {
      os::TraceFailure("quick format: no memory for the sector buffers");
      return false;
    }
    if (!WriteCisBlock()) return false;
    const uint32_t lastLogicalBlock = layout_.lastFormatSector / type_.pagesPerBlock;
    for (uint32_t logical = 0; logical <= lastLogicalBlock;) {
      std::optional<uint32_t> block = TakeGoodBlock();
      if (!block) {
        os::TraceFailure("quick format: no good block left in the first zone for logical block %u",
                         logical);
        return false;
      }
      bool verified = false;
      if (!WriteLogicalBlock(logical, *block, &verified)) return false;
      if (verified) ++logical;  // else the same logical block again, in the next good block
    }
    return true;
  }

 private:
  uint32_t Address(uint32_t block, uint32_t page) const {
    return (block * type_.pagesPerBlock + page) * type_.dataSize;
  }

  // The first block of the zone that is the CIS block or good becomes the
  // CIS block; its page 0 gets the card information page.
  bool WriteCisBlock() {
    uint8_t* table = state_.blockStatus.data();
    uint32_t cis = 0;
    while (cis < zoneEnd_ && table[cis] != BLOCK_CIS && table[cis] != BLOCK_GOOD) ++cis;
    if (cis == zoneEnd_) {
      os::TraceFailure("quick format: no usable block for the CIS block in the first zone");
      return false;
    }
    state_.cisBlock = cis;
    table[cis] = BLOCK_CIS;
    uint32_t status = 0;
    if (!Erase(cis, &status) || status != 0) return false;
    progress_.AddClamped(1.0);
    BuildCisPage(sector_.data());
    if (!protocol::FlashWritePage(sector_.data(), Address(cis, 0), type_.pageSize, type_.dataSize,
                                  protocol::kNoLogicalBlock, drive_))
      return TraceTransfer("writing the CIS page of", cis);
    progress_.AddClamped(1.0);
    return true;
  }

  // The lowest good block of the first zone, now taken by the format.
  std::optional<uint32_t> TakeGoodBlock() {
    uint8_t* table = state_.blockStatus.data();
    for (uint32_t block = 0; block < zoneEnd_; ++block) {
      if (table[block] != BLOCK_GOOD) continue;
      table[block] = BLOCK_FORMAT_USED;
      return block;
    }
    return std::nullopt;
  }

  // Writes the sectors of one logical block into block; *verified is false
  // when a page read back differently (the block is then invalidated).
  bool WriteLogicalBlock(uint32_t logical, uint32_t block, bool* verified) {
    const uint32_t first = logical * type_.pagesPerBlock;
    for (uint32_t page = 0; page < type_.pagesPerBlock; ++page) {
      const uint32_t e = first + page;
      if (e > layout_.lastFormatSector) break;
      BuildFormatSector(type_.typeIndex, partitionSectors_, e, sector_.data());
      if (!protocol::FlashWritePage(sector_.data(), Address(block, page), type_.pageSize,
                                    type_.dataSize, static_cast<uint16_t>(logical), drive_))
        return TraceTransfer("writing a sector to", block);
      if (!protocol::FlashReadPages(readBack_.data(), 1, Address(block, page), type_.pageSize,
                                    type_.dataSize, drive_))
        return TraceTransfer("reading a sector back from", block);
      const bool same = std::memcmp(readBack_.data(), sector_.data(), kSectorBytes) == 0;
      progress_.AddClamped(step_);
      if (!same) return Invalidate(block);
    }
    *verified = true;
    return true;
  }

  // Erases the block and zero-fills every page with zero redundant areas.
  bool Invalidate(uint32_t block) {
    state_.blockStatus[block] = BLOCK_BAD;
    uint32_t status = 0;
    if (!Erase(block, &status) || status != 0) return false;
    protocol::PageMarking marking;
    marking.zeroSpare = true;
    if (protocol::FlashWritePages(zeros_.data(), type_.pagesPerBlock, Address(block, 0),
                                  type_.pageSize, type_.dataSize, marking, drive_))
      return true;
    return TraceTransfer("zero-filling", block);
  }

  // An erase whose request or status failed is traced here.
  bool Erase(uint32_t block, uint32_t* status) {
    if (!protocol::FlashEraseBlock(Address(block, 0), type_.pagesPerBlock, drive_, status, nullptr))
      return TraceTransfer("erasing", block);
    if (*status != 0)
      os::TraceFailure("quick format: the device could not erase block %u (status 0x%X)", block,
                       *status);
    return true;
  }

  static bool TraceTransfer(const char* step, uint32_t block) {
    os::TraceFailure("quick format: %s block %u failed: %s", step, block,
                     transport::LastFailureCause());
    return false;
  }

  DriveMediaState& state_;
  const FlashTypeDescriptor& type_;
  const FormatLayout& layout_;
  const protocol::FlashDrive& drive_;
  uint32_t partitionSectors_;
  uint32_t zoneEnd_;
  double step_;
  protocol::ProgressTarget& progress_;
  os::PageBuffer sector_;    // the sector being written (its first 512 bytes)
  os::PageBuffer readBack_;  // one raw page
  os::PageBuffer zeros_;     // zero data for invalidating a block
};

}  // namespace

bool WriteLogicalFormat(const protocol::FlashDrive& drive, bool sizeFromRegistry,
                        protocol::ProgressTarget& progress) {
  DriveMediaState* state = drive.state;
  if (state == nullptr) return false;
  // Sized before anything is written: an unusable size fails the stage
  // with the volume untouched.
  std::optional<uint32_t> partitionSectors = PlannedPartitionSectors(*state, sizeFromRegistry);
  if (!partitionSectors) return false;
  LogicalFormatWriter writer(*state, *protocol::RecordedFlashType(*state), drive, *partitionSectors,
                             progress);
  return writer.Run();
}

}  // namespace orvik::media
