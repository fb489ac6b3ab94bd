// The firmware update's work on the flash, once its export has checked the
// call, prepared the files and found that they fit.
#pragma once

#include "firmware/file_preparation.h"
#include "media/system_area.h"
#include "orvik/orvik.h"
#include "protocol/progress_target.h"

namespace orvik::media {

// Asks the driver for its version (nothing is written when that fails),
// reads the block marks again when the table is no longer as the last scan
// left it, checks the system area (PrepareUpdate: assumeLaidOutReservation
// as there), then writes the startup copy of file 0 and every file's second
// copy (phase 5) and clears the system blocks left over (phase 4).
PROGRAM_MEDIA_STATUS UpdateFirmware(const SystemArea& area,
                                    const firmware::PreparedFileSet& prepared,
                                    bool assumeLaidOutReservation,
                                    protocol::ProgressTarget& progress);

}  // namespace orvik::media
