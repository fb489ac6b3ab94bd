// Where the files go when a backup comes first and the owner named no file:
// before the reflash a fix chooses, and before the page's full reflash.
#pragma once

#include <string>

namespace orvik::tool {

// player-backup-YYYYMMDD-HHMMSS.img in the current folder, not yet there.
std::string NewBackupName();

}  // namespace orvik::tool
