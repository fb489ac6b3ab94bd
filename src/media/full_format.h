// The full format's work on the flash, once its export has checked the
// call and prepared the files (none when it writes no files).
#pragma once

#include "firmware/file_preparation.h"
#include "media/system_area.h"
#include "orvik/orvik.h"
#include "protocol/progress_target.h"

namespace orvik::media {

// Asks the driver for its version (nothing is written when that fails),
// then erases everything after the CIS block that is free or holds a listed
// file (phase 3), lays the system area out anew (phase 4) and, with
// writeFiles, writes both copies of the files (phase 5).
PROGRAM_MEDIA_STATUS FullFormat(const SystemArea& area, const firmware::PreparedFileSet& prepared,
                                bool writeFiles, protocol::ProgressTarget& progress);

}  // namespace orvik::media
