// The journal's name for the player a command works on, made the same way
// by the commands that write records and by `orvik history` that reads them.
#pragma once

#include <cstdint>

#include "journal/journal.h"
#include "target/session.h"

namespace orvik::tool {

// A simulated player: its folder.  A real player (--device): the device
// object family, with the instance when --instance named one, and the chip
// identifier (OrvikGetChipId(0) of the open player).  The recovery object
// of a player is the same player, so --recovery does not change the key.
JournalTarget JournalTargetOf(const TargetOptions& options, uint32_t chipId);

}  // namespace orvik::tool
