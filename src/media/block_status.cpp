// The block status scan.
#include "media/block_status.h"

#include <algorithm>
#include <bit>

#include "firmware/reserved_area.h"
#include "platform/page_buffer.h"
#include "platform/trace.h"
#include "protocol/flash_commands.h"
#include "transport/session.h"

namespace orvik::media {
namespace {

using protocol::DriveMediaState;
using protocol::FlashTypeDescriptor;

struct BlockMarks {
  uint8_t dataStatus;
  uint8_t blockStatus;
  uint8_t address[2];
};

BlockMarks MarksAt(const uint8_t* records, uint32_t block) {
  const uint8_t* record = records + (block % kMarksPerRequest) * protocol::kBlockMarkSize;
  return BlockMarks{record[0], record[1], {record[2], record[3]}};
}

bool IsListedTag(uint8_t tag, const _BinaryFilesInformation& files) {
  uint32_t count = std::min<uint32_t>(files.fileCount, MAX_FILES);
  return std::find(files.fileTags, files.fileTags + count, tag) != files.fileTags + count;
}

uint8_t Classify(const BlockMarks& marks, const _BinaryFilesInformation& files) {
  if (marks.blockStatus == 0xFF) return BLOCK_GOOD;
  if (marks.blockStatus == 0x00) {
    bool systemMark = marks.address[0] == protocol::kSystemMarkFirst &&
                      marks.address[1] == protocol::kSystemMarkSecond;
    bool fileMark = marks.address[0] == protocol::FILE_MARK && IsListedTag(marks.address[1], files);
    if (systemMark || fileMark) return BLOCK_SYSTEM;
  }
  return BLOCK_BAD;
}

// One pass over the flash: the marks of 256 blocks per request, the
// invalidation of the blocks in front of the CIS block, and the progress.
class Scan {
 public:
  // progress: nullptr when the pass reports none.
  Scan(DriveMediaState& state, const FlashTypeDescriptor& type, const protocol::FlashDrive& drive,
       const _BinaryFilesInformation& files, protocol::ProgressTarget* progress,
       os::PageBuffer& marks)
      : state_(state),
        type_(type),
        drive_(drive),
        files_(files),
        progress_(progress),
        step_(100.0 / type.blockCount),
        marks_(marks) {}

  bool Run() {
    uint32_t cis = 0;
    if (!FindCisBlock(&cis)) return false;
    for (uint32_t block = 0; block < cis; ++block) {
      if (!Invalidate(block)) return false;
      Advance();
    }
    state_.blockStatus[cis] = BLOCK_CIS;
    state_.cisBlock = cis;
    Advance();
    return ClassifyBlocksAfter(cis, true);
  }

  // Classifies every block after the CIS block from its marks; the marks of
  // the CIS block's group are in the buffer already when marksLoaded.
  bool ClassifyBlocksAfter(uint32_t cis, bool marksLoaded) {
    for (uint32_t block = cis + 1; block < type_.blockCount; ++block) {
      if ((block % kMarksPerRequest == 0 || !marksLoaded) &&
          !ReadMarks(block - block % kMarksPerRequest))
        return false;
      marksLoaded = true;
      state_.blockStatus[block] = Classify(MarksAt(marks_.data(), block), files_);
      Advance();
    }
    return true;
  }

 private:
  bool ReadMarks(uint32_t firstBlock) {
    // Near the end of the flash the request still asks for 256 records.
    if (protocol::FlashReadBlockMarks(marks_.data(), kMarksPerRequest,
                                      firstBlock * type_.BlockBytes(), type_.pageSize,
                                      type_.pagesPerBlock, type_.dataSize, drive_))
      return true;
    os::TraceFailure("block scan: reading the marks of blocks %u to %u failed: %s", firstBlock,
                     firstBlock + kMarksPerRequest - 1, transport::LastFailureCause());
    return false;
  }

  // Reads marks ahead until a block qualifies.  Nothing is written before
  // the CIS block is known, so marks that make no sense cannot wipe the
  // flash; the marks of the CIS block's group stay in the buffer.
  bool FindCisBlock(uint32_t* cis) {
    for (uint32_t block = 0; block < type_.blockCount; ++block) {
      if (block % kMarksPerRequest == 0 && !ReadMarks(block)) return false;
      BlockMarks marks = MarksAt(marks_.data(), block);
      if (QualifiesAsCisBlock(marks.dataStatus, marks.blockStatus)) {
        *cis = block;
        return true;
      }
    }
    os::TraceFailure("block scan: no block qualifies as the CIS block; nothing was written");
    return false;
  }

  // Erases the block and zero-fills every page with an all-zero redundant
  // area, so that every later scan finds it bad.
  bool Invalidate(uint32_t block) {
    state_.blockStatus[block] = BLOCK_BAD;
    uint32_t address = block * type_.BlockBytes();
    uint32_t status = 0;
    if (!protocol::FlashEraseBlock(address, type_.pagesPerBlock, drive_, &status, nullptr)) {
      os::TraceFailure("block scan: erasing block %u in front of the CIS block failed: %s", block,
                       transport::LastFailureCause());
      return false;
    }
    if (status != 0) {
      os::TraceFailure("block scan: the device could not erase block %u in front of the CIS block",
                       block);
      return false;
    }
    if (zeros_.data() == nullptr && !zeros_.Allocate(type_.BlockBytes())) {
      os::TraceFailure("block scan: no memory for the zero block");
      return false;
    }
    protocol::PageMarking marking;
    marking.zeroSpare = true;
    if (protocol::FlashWritePages(zeros_.data(), type_.pagesPerBlock, address, type_.pageSize,
                                  type_.dataSize, marking, drive_))
      return true;
    os::TraceFailure("block scan: zero-filling block %u in front of the CIS block failed: %s",
                     block, transport::LastFailureCause());
    return false;
  }

  void Advance() {
    if (progress_ != nullptr) progress_->AddClamped(step_);
  }

  DriveMediaState& state_;
  const FlashTypeDescriptor& type_;
  const protocol::FlashDrive& drive_;
  const _BinaryFilesInformation& files_;
  protocol::ProgressTarget* progress_;
  double step_;
  os::PageBuffer& marks_;
  os::PageBuffer zeros_;  // taken at the first invalidation
};

// System blocks at the top of the flash, counted down to the first good one.
uint32_t CountTopSystemBlocks(const uint8_t* table, uint32_t blockCount) {
  uint32_t count = 0;
  for (uint32_t block = blockCount - 1; block >= 1; --block) {
    if (table[block] == BLOCK_GOOD) break;
    if (table[block] == BLOCK_SYSTEM) ++count;
  }
  return count;
}

// The lowest block of the top `reserved` good or system blocks.
uint32_t FindFirstReservedBlock(const uint8_t* table, uint32_t blockCount, uint32_t reserved) {
  uint32_t counted = 0;
  for (uint32_t block = blockCount - 1; reserved != 0 && block >= 1; --block) {
    if (table[block] == BLOCK_GOOD || table[block] == BLOCK_SYSTEM) {
      if (++counted == reserved) return block;
    }
  }
  return blockCount - 1;
}

// The counts the scan ends with: system blocks at the top, and where the
// registry's reservation begins.
void CountSystemArea(DriveMediaState& state, const FlashTypeDescriptor& type) {
  state.systemBlockCount = CountTopSystemBlocks(state.blockStatus.data(), type.blockCount);
  uint32_t reserved = firmware::ReadReservedBlockCount(type.dataSize, type.pagesPerBlock);
  state.firstReservedBlock =
      FindFirstReservedBlock(state.blockStatus.data(), type.blockCount, reserved);
}

}  // namespace

bool QualifiesAsCisBlock(uint8_t dataStatus, uint8_t blockStatus) {
  return blockStatus == 0xFF && std::popcount(static_cast<uint8_t>(~dataStatus)) <= 3;
}

bool ScanBlockStatus(const protocol::FlashDrive& drive, uint32_t flashType,
                     const _BinaryFilesInformation& files, protocol::ProgressTarget& progress) {
  DriveMediaState* state = drive.state;
  if (state == nullptr || drive.number != 0) return false;
  bool reportProgress = progress.Phase() == ORVIK_PHASE_SCAN;
  state->flashType = flashType;
  state->systemBlockCount = 0;
  state->tableFresh = false;
  state->scanComplete = false;
  const FlashTypeDescriptor* type = protocol::FlashTypeFor(flashType);
  if (type == nullptr) return true;

  protocol::ReleaseDriveBuffers(*state);
  os::PageBuffer marks;
  if (!state->pageBuffer.Allocate(type->RawBlockBytes()) ||
      !state->blockStatus.Allocate(type->blockCount) ||
      !marks.Allocate(kMarksPerRequest * protocol::kBlockMarkSize)) {
    protocol::ReleaseDriveBuffers(*state);
    os::TraceFailure("block scan: no memory for the block table, page buffer or marks");
    return false;
  }

  Scan scan(*state, *type, drive, files, reportProgress ? &progress : nullptr, marks);
  if (!scan.Run()) return false;
  CountSystemArea(*state, *type);
  state->tableFresh = true;
  state->scanComplete = true;
  return true;
}

bool RereadBlockMarks(const protocol::FlashDrive& drive, const _BinaryFilesInformation& files) {
  DriveMediaState* state = drive.state;
  const FlashTypeDescriptor* type =
      state == nullptr ? nullptr : protocol::RecordedFlashType(*state);
  if (type == nullptr || state->blockStatus.empty() || state->pageBuffer.empty()) return false;
  os::PageBuffer marks;
  if (!marks.Allocate(kMarksPerRequest * protocol::kBlockMarkSize)) return false;
  Scan scan(*state, *type, drive, files, nullptr, marks);
  if (!scan.ClassifyBlocksAfter(state->cisBlock, false)) return false;
  CountSystemArea(*state, *type);
  state->tableFresh = true;
  return true;
}

}  // namespace orvik::media
