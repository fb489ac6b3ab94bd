// Recognising what an interrupted firmware update leaves on the flash, so
// that the next update repairs it instead of refusing the player for good.
//
// The update rewrites the system area one block at a time: erase, write,
// read back.  Cut off between an erase and its write (a power cut, a failed
// transfer), a block is left erased and unmarked.  The scan then counts
// fewer system blocks at the top of the flash than the reservation asks
// for, and the update's check would refuse every later update; an erased
// block among the three low system blocks would split the startup copy of
// file 0 over the low blocks and a later block.
//
// A reservation raised since the layout gives the same count, but there the
// reserved area reaches below the laid-out blocks into the volume's blocks,
// which the update must never write.  How the two are told apart from what
// is on the flash is argued in update_recovery.cpp.  The recognition lives
// in the update's check, not in the scan: the scan reports the flash as it
// is (the version query, the full format and the block map rely on that),
// and only the update knows that an erased block inside its area is one it
// may write.
#pragma once

#include <cstdint>

#include "media/system_area.h"

namespace orvik::media {

enum class SystemAreaVerdict {
  kSound,               // the system area is whole and matches the reservation
  kInterruptedUpdate,   // blocks an interrupted update left erased: the next update repairs them
  kReservationChanged,  // the reservation differs from the laid-out area (the volume's blocks
                        // below it, or system blocks beyond it): refused
  kNotLaidOut,          // no system area this library laid out: refused
  kUndecided,  // an erased block at the bottom of the reserved area that the flash cannot place:
               // refused, unless the host confirms that the reservation is the laid-out one
};

struct SystemAreaAssessment {
  SystemAreaVerdict verdict = SystemAreaVerdict::kSound;
  uint32_t reservedBlocks = 0;      // the registry's reservation, in blocks
  uint32_t systemBlocks = 0;        // system blocks found from the top down to the first good one
  uint32_t erasedSystemBlocks = 0;  // erased blocks the update would rewrite (reserved and low)
};

// Judges drive 0's system area from the table of the last scan (or version
// query) and, only where the table cannot tell, from reads of the blocks in
// question.  Writes nothing and changes no table entry; on a sound flash it
// sends nothing.  A host uses it to advise after a refusal with 9.
SystemAreaAssessment AssessSystemArea(const protocol::FlashDrive& drive);

// What the update's check found and took back for the update.
struct RepairPlan {
  SystemAreaAssessment assessment;
  uint32_t reclaimedLow[LOW_SYSTEM_BLOCKS] = {};  // low blocks found erased
  uint32_t reclaimedLowCount = 0;
};

// The update's check: true when the update may go on.  Erased blocks of the
// reserved area that an interrupted update left behind, and erased blocks
// among the low system blocks, become BLOCK_SYSTEM in the table again, and
// systemBlockCount matches the reservation.  A lone erased block at the
// bottom of the reserved area is refused without a read (kUndecided), unless
// assumeLaidOutReservation: then it is taken when it is blank.  False
// (status 9) leaves the table as it was.
bool PrepareUpdate(const SystemArea& area, bool assumeLaidOutReservation, RepairPlan* plan);

// After the first copy of file 0, which ended before block firstCopyEnd: low
// blocks taken back by PrepareUpdate that the copy did not reach are marked
// as system blocks again (0xFF data, the system marks of marker), so that no
// erased block stays among them.
bool RemarkUnusedLowBlocks(const SystemArea& area, const RepairPlan& plan, uint32_t firstCopyEnd,
                           uint8_t marker);

// True when the startup copy of file 0 is not whole: the low system blocks
// were laid out (one of them carries the system marks) but one of them is
// erased.  Reads only when a low block is not a system block.
bool StartupCopyIncomplete(const SystemArea& area);

}  // namespace orvik::media
