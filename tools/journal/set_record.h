// The firmware set as a journal record names it: the manifest's checksum
// and each file's, computed from the bytes that were read (whether or not
// the manifest gives them), so that a record says exactly what was written.
#pragma once

#include "firmware_set/manifest.h"
#include "journal/journal.h"

namespace orvik::tool {

// For a manifest read by LoadManifest (its files' bytes in memory).
JournalSet JournalSetOf(const Manifest& manifest);

}  // namespace orvik::tool
