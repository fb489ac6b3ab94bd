// The version query's work on the flash: which system blocks hold which
// file, and the version words stored with each.
#pragma once

#include <cstdint>

#include "orvik/orvik.h"
#include "protocol/flash_commands.h"
#include "protocol/progress_target.h"

namespace orvik::media {

// Asks the driver for its version, scans the flash (drive 0, flashType; the
// progress as the scan reports it), gives every system block that carries
// a listed file's marks that file's marker, and stores each file's four
// words in files.deviceVersionA/B.  The codes are OrvikGetFirmwareVersion's.
PROGRAM_MEDIA_STATUS ReadFirmwareVersions(const protocol::FlashDrive& drive, uint32_t flashType,
                                          _BinaryFilesInformation& files,
                                          protocol::ProgressTarget& progress);

}  // namespace orvik::media
