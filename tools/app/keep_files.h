// `orvik reflash --keep-files`: the files on the volume backed up, the full
// reflash, and the backup written back, in one run that asks once.
//
// The reflash lays out a new volume; an image of the old one can be
// written back only onto a volume of the same layout.  So before anything
// is written the volume the reflash will leave is worked out with the
// library's own format rules (host::QuickFormatVolume: the partition and
// boot sector it writes) from the reservation the reflash lays out, and compared with
// today's; a different one (a larger reservation shrinks it) is refused,
// saying what differs and whether the files would fit at all.
#pragma once

#include <string>

#include "app/operation.h"
#include "app/restore_steps.h"
#include "player/reservation_plan.h"

namespace orvik::tool {

struct KeptFiles {
  std::string backupFile;
  RestoreTarget before;  // today's volume, read through the library
};

// Reads the volume and refuses ("no-volume", "files-do-not-fit") when its
// image could not be written back after the reflash; writes nothing.
KeptFiles PlanKeptFiles(OperationContext& context, MediaRunner& media, HostFileSet& files,
                        const ReservationPlan& plan, bool sizeFromRegistry);

// Writes the backup file (before anything on the player changes).
void SaveKeptFiles(OperationContext& context, const KeptFiles& kept);

// After the reflash: the backup written back onto the new volume.
void RestoreKeptFiles(OperationContext& context, MediaRunner& media, HostFileSet& files,
                      const KeptFiles& kept, const std::string& againCommand);

}  // namespace orvik::tool
