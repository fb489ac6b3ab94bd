// Putting a backup image back on the player's volume, as the page's
// restore and the reflash that keeps the files run it.
//
// The operation that does this (RunRestore) is not in this build yet: until
// it is, this step fails with a plain problem that names the image the
// files are safe in, and the page shows it like any other failure.  When
// RunRestore arrives, this function calls it and nothing else changes.
#pragma once

#include <string>

#include "app/operation.h"

namespace orvik::tool::web {

int RestoreBackup(OperationContext& context, const std::string& image);

}  // namespace orvik::tool::web
