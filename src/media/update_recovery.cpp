// Telling an interrupted update from a changed reservation.
//
// What the flash shows.  The full format lays out the three low system blocks
// right after the CIS block and the reserved area, the top n good blocks; the
// update then rewrites them in a fixed order: the first copy of file 0 into
// the low blocks, then every file from the bottom of the reserved area up,
// then the blocks above the last file.  Each block is erased and written
// before the next is touched, and every write puts the system marks on
// page 0.  So an interruption leaves blank blocks (all 0xFF, data and
// redundant bytes) among the system blocks, and a later update that is
// itself cut off adds at most one more, above the ones it already rewrote.
//
// Inside the area.  A blank block with system blocks both below and above it
// inside the top n good blocks can only be an interrupted update's: a raised
// reservation adds blocks below the laid-out area, never inside it.
//
// At the bottom.  A raised reservation makes the lowest blocks of the range
// the volume's: one or more good blocks under the laid-out system blocks.
// Two or more such blocks are a raised reservation (an update erases one
// block at a time, and a repairing update writes the bottom block first).
// A non-blank one holds volume data.  A single blank one is either the
// update's first erased block of the reserved area or a free volume block
// under a reservation raised by one.  The lowest system block above it then
// decides: in a whole area it is the first block of the area, written by the
// same call as the low blocks with the same file 0 (or, after a layout
// without files, both hold 0xFF), so its data equals the first low block's.
// After an interruption at the bottom it is the second block of the old
// area, while the first low block already holds the new file 0: the data
// differs.  A first low block that holds no data (0xFF) cannot have been
// written by the interrupted update, so nothing can be concluded.
//
// The update itself does not read to settle a lone blank block at the bottom:
// that is also exactly what a reservation raised by one block looks like,
// and a raised reservation is refused with nothing sent at all.  It refuses
// with 9 (kUndecided); the host's assessment reads and compares, and a host
// that finds an interrupted update, or whose user confirms that the
// reservation is the one the player was laid out with, updates again with
// assumeLaidOutReservation: the blank blocks of the range are then taken
// back without the comparison.  Blocks that are not blank are never taken.
#include "media/update_recovery.h"

#include <algorithm>
#include <cstring>

#include "firmware/reserved_area.h"
#include "media/block_status.h"
#include "platform/page_buffer.h"
#include "platform/trace.h"
#include "protocol/flash_commands.h"
#include "transport/session.h"

namespace orvik::media {
namespace {

using protocol::FlashTypeDescriptor;

// The low system block positions: the first three blocks after the CIS block
// that are not bad, as the full format lays them out.
struct LowArea {
  uint32_t blocks[LOW_SYSTEM_BLOCKS] = {};
  uint32_t count = 0;
  bool laidOut = false;  // one of them carries the system marks
};

// A system block as the scan leaves it, or one a version query has given
// its file's marker.
bool HoldsSystemMarks(uint8_t entry) { return entry >= BLOCK_SYSTEM && entry != BLOCK_GOOD; }

LowArea FindLowArea(const SystemArea& area) {
  LowArea low;
  const uint8_t* table = area.state.blockStatus.data();
  for (uint32_t block = area.state.cisBlock + 1;
       block < area.type.blockCount && low.count < LOW_SYSTEM_BLOCKS; ++block) {
    if (table[block] == BLOCK_BAD) continue;
    low.blocks[low.count++] = block;
    if (HoldsSystemMarks(table[block])) low.laidOut = true;
  }
  return low;
}

enum class BlockContent { kBlank, kWritten, kUnreadable };

// Reads a whole block (data and redundant bytes) into the page buffer; with
// a destination, its data bytes are copied there as well.
BlockContent ReadBlock(const SystemArea& area, uint32_t block, uint8_t* data) {
  const FlashTypeDescriptor& type = area.type;
  if (!protocol::FlashReadPages(data, type.pagesPerBlock, block * type.BlockBytes(), type.pageSize,
                                type.dataSize, area.drive)) {
    os::TraceFailure("update check: reading block %u failed: %s", block,
                     transport::LastFailureCause());
    return BlockContent::kUnreadable;
  }
  const uint8_t* raw = area.state.pageBuffer.data();
  bool blank = std::all_of(raw, raw + type.RawBlockBytes(), [](uint8_t b) { return b == 0xFF; });
  return blank ? BlockContent::kBlank : BlockContent::kWritten;
}

// The reserved range as the scan found it: the top n good or system blocks
// from firstReservedBlock up (bad blocks among them are passed over).
struct ReservedRange {
  uint32_t first = 0;
  uint32_t goodOrSystem = 0;
  uint32_t systemCount = 0;
  uint32_t lowestSystem = 0;  // valid when systemCount > 0
  uint32_t bottomHoles = 0;   // good blocks below lowestSystem
  uint32_t innerHoles = 0;    // good blocks above it
};

ReservedRange ExamineRange(const SystemArea& area) {
  ReservedRange range;
  range.first = area.state.firstReservedBlock;
  const uint8_t* table = area.state.blockStatus.data();
  for (uint32_t block = range.first; block < area.type.blockCount; ++block) {
    if (HoldsSystemMarks(table[block])) {
      if (range.systemCount++ == 0) range.lowestSystem = block;
    } else if (table[block] == BLOCK_GOOD) {
      ++(range.systemCount == 0 ? range.bottomHoles : range.innerHoles);
    } else {
      continue;
    }
    ++range.goodOrSystem;
  }
  return range;
}

// True when the first block under the range that is not bad is a system
// block: the laid-out area reaches further down than the reservation.
bool SystemBlockBelow(const SystemArea& area, uint32_t first) {
  const uint8_t* table = area.state.blockStatus.data();
  for (uint32_t block = first; block-- > area.state.cisBlock + 1;) {
    if (table[block] == BLOCK_BAD) continue;
    return HoldsSystemMarks(table[block]);
  }
  return false;
}

// Reads every good block of the range: a blank one is an erased system
// block, a written one under the area is the volume's.
SystemAreaVerdict JudgeHoles(const SystemArea& area, const ReservedRange& range) {
  const uint8_t* table = area.state.blockStatus.data();
  for (uint32_t block = range.first; block < area.type.blockCount; ++block) {
    if (table[block] != BLOCK_GOOD) continue;
    BlockContent content = ReadBlock(area, block, nullptr);
    if (content == BlockContent::kBlank) continue;
    if (content == BlockContent::kWritten && block < range.lowestSystem) {
      os::TraceFailure("update check: block %u under the system area holds data", block);
      return SystemAreaVerdict::kReservationChanged;
    }
    os::TraceFailure("update check: block %u inside the system area is neither blank nor marked",
                     block);
    return SystemAreaVerdict::kUndecided;
  }
  return SystemAreaVerdict::kInterruptedUpdate;
}

// One blank block at the bottom: compares the lowest system block above it
// with the first low block (see the file comment).
SystemAreaVerdict JudgeBottomHole(const SystemArea& area, const ReservedRange& range,
                                  const LowArea& low) {
  if (!HoldsSystemMarks(area.state.blockStatus[low.blocks[0]]))
    return SystemAreaVerdict::kUndecided;
  os::PageBuffer lowest;
  os::PageBuffer firstLow;
  if (!lowest.Allocate(area.type.BlockBytes()) || !firstLow.Allocate(area.type.BlockBytes())) {
    os::TraceFailure("update check: no memory to compare blocks");
    return SystemAreaVerdict::kUndecided;
  }
  if (ReadBlock(area, range.lowestSystem, lowest.data()) == BlockContent::kUnreadable ||
      ReadBlock(area, low.blocks[0], firstLow.data()) == BlockContent::kUnreadable)
    return SystemAreaVerdict::kUndecided;
  if (std::memcmp(lowest.data(), firstLow.data(), firstLow.size()) == 0)
    return SystemAreaVerdict::kReservationChanged;
  bool lowHoldsData = std::any_of(firstLow.bytes().begin(), firstLow.bytes().end(),
                                  [](uint8_t b) { return b != 0xFF; });
  return lowHoldsData ? SystemAreaVerdict::kInterruptedUpdate : SystemAreaVerdict::kUndecided;
}

// How far the judgement of a lone blank block at the bottom goes.
enum class BottomHole {
  kRefuse,   // the update's own check: refuse without reading (see above)
  kCompare,  // the host's assessment: read and compare
  kTake,     // the host confirmed the reservation: take it if it is blank
};

// The verdict on a reserved area whose system blocks do not match the
// reservation; cheap checks on the table first, reads last.
SystemAreaVerdict JudgeReservedArea(const SystemArea& area, uint32_t reserved,
                                    const ReservedRange& range, const LowArea& low,
                                    BottomHole bottom) {
  if (reserved == 0 || range.systemCount == 0 || !low.laidOut)
    return SystemAreaVerdict::kNotLaidOut;
  if (range.goodOrSystem < reserved || area.state.systemBlockCount > reserved ||
      range.bottomHoles > 1 || range.first <= low.blocks[low.count - 1] ||
      SystemBlockBelow(area, range.first))
    return SystemAreaVerdict::kReservationChanged;
  if (range.bottomHoles == 1 && range.innerHoles == 0 && bottom == BottomHole::kRefuse)
    return SystemAreaVerdict::kUndecided;
  SystemAreaVerdict holes = JudgeHoles(area, range);
  if (holes != SystemAreaVerdict::kInterruptedUpdate || range.bottomHoles == 0 ||
      bottom == BottomHole::kTake)
    return holes;
  return JudgeBottomHole(area, range, low);
}

// Blank low blocks, when the low area was laid out at all.
uint32_t FindErasedLowBlocks(const SystemArea& area, const LowArea& low,
                             uint32_t (&erased)[LOW_SYSTEM_BLOCKS]) {
  uint32_t count = 0;
  if (!low.laidOut) return 0;
  for (uint32_t i = 0; i < low.count; ++i) {
    uint32_t block = low.blocks[i];
    if (area.state.blockStatus[block] == BLOCK_GOOD &&
        ReadBlock(area, block, nullptr) == BlockContent::kBlank)
      erased[count++] = block;
  }
  return count;
}

SystemAreaAssessment Assess(const SystemArea& area, const LowArea& low, BottomHole bottom,
                            RepairPlan* plan) {
  SystemAreaAssessment result;
  result.reservedBlocks =
      firmware::ReadReservedBlockCount(area.type.dataSize, area.type.pagesPerBlock);
  result.systemBlocks = area.state.systemBlockCount;
  ReservedRange range = ExamineRange(area);
  if (result.systemBlocks != result.reservedBlocks) {
    result.verdict = JudgeReservedArea(area, result.reservedBlocks, range, low, bottom);
    if (result.verdict == SystemAreaVerdict::kInterruptedUpdate)
      result.erasedSystemBlocks = range.bottomHoles + range.innerHoles;
  }
  uint32_t erasedLow[LOW_SYSTEM_BLOCKS] = {};
  uint32_t lowCount = FindErasedLowBlocks(area, low, erasedLow);
  if (lowCount != 0 && result.verdict == SystemAreaVerdict::kSound)
    result.verdict = SystemAreaVerdict::kInterruptedUpdate;
  if (result.verdict == SystemAreaVerdict::kInterruptedUpdate)
    result.erasedSystemBlocks += lowCount;
  if (plan != nullptr) {
    std::copy(erasedLow, erasedLow + lowCount, plan->reclaimedLow);
    plan->reclaimedLowCount = lowCount;
  }
  return result;
}

}  // namespace

SystemAreaAssessment AssessSystemArea(const protocol::FlashDrive& drive) {
  protocol::DriveMediaState* state = drive.state;
  const FlashTypeDescriptor* type =
      state == nullptr ? nullptr : protocol::RecordedFlashType(*state);
  if (type == nullptr || state->blockStatus.empty() || state->pageBuffer.empty())
    return SystemAreaAssessment{SystemAreaVerdict::kNotLaidOut, 0, 0, 0};
  _BinaryFilesInformation none{};
  SystemArea area{*state, *type, none, drive};
  return Assess(area, FindLowArea(area), BottomHole::kCompare, nullptr);
}

bool PrepareUpdate(const SystemArea& area, bool assumeLaidOutReservation, RepairPlan* plan) {
  LowArea low = FindLowArea(area);
  plan->assessment =
      Assess(area, low, assumeLaidOutReservation ? BottomHole::kTake : BottomHole::kRefuse, plan);
  SystemAreaVerdict verdict = plan->assessment.verdict;
  bool repairable =
      verdict == SystemAreaVerdict::kSound || verdict == SystemAreaVerdict::kInterruptedUpdate;
  if (!repairable) {
    os::TraceFailure(
        "update: %u system blocks at the top of the flash, %u reserved: %s; nothing was written",
        area.state.systemBlockCount, plan->assessment.reservedBlocks,
        verdict == SystemAreaVerdict::kNotLaidOut ? "no system area is laid out"
        : verdict == SystemAreaVerdict::kUndecided
            ? "an erased block at the bottom of the reserved area may be the volume's"
            : "the reservation differs from the laid-out system area");
    plan->reclaimedLowCount = 0;
    return false;
  }
  uint8_t* table = area.state.blockStatus.data();
  if (area.state.systemBlockCount != plan->assessment.reservedBlocks) {
    for (uint32_t block = area.state.firstReservedBlock; block < area.type.blockCount; ++block)
      if (table[block] == BLOCK_GOOD) table[block] = BLOCK_SYSTEM;
    area.state.systemBlockCount = plan->assessment.reservedBlocks;
  }
  for (uint32_t i = 0; i < plan->reclaimedLowCount; ++i)
    table[plan->reclaimedLow[i]] = BLOCK_SYSTEM;
  return true;
}

bool RemarkUnusedLowBlocks(const SystemArea& area, const RepairPlan& plan, uint32_t firstCopyEnd,
                           uint8_t marker) {
  const FlashTypeDescriptor& type = area.type;
  os::PageBuffer erased;
  for (uint32_t i = 0; i < plan.reclaimedLowCount; ++i) {
    uint32_t block = plan.reclaimedLow[i];
    if (block < firstCopyEnd || area.state.blockStatus[block] == BLOCK_BAD) continue;
    if (erased.empty()) {
      if (!erased.Allocate(type.BlockBytes())) {
        os::TraceFailure("update: no memory to mark low block %u", block);
        return false;
      }
      std::memset(erased.data(), 0xFF, erased.size());
    }
    protocol::PageMarking marking = SystemMarking(area.files, marker);
    if (!protocol::FlashWritePages(erased.data(), type.pagesPerBlock, block * type.BlockBytes(),
                                   type.pageSize, type.dataSize, marking, area.drive)) {
      os::TraceFailure("update: marking low block %u failed: %s", block,
                       transport::LastFailureCause());
      return false;
    }
  }
  return true;
}

bool StartupCopyIncomplete(const SystemArea& area) {
  uint32_t erased[LOW_SYSTEM_BLOCKS] = {};
  return FindErasedLowBlocks(area, FindLowArea(area), erased) != 0;
}

}  // namespace orvik::media
