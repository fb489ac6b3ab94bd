// The checksums a manifest gives for its files ("sha256" of each file,
// "prefixSha256" of its prefix), checked once the files are read and before
// anything looks into them.  A signed manifest must give one for every file
// and prefix: its signature covers the files only through them.
#pragma once

#include "firmware_set/manifest.h"

namespace orvik::tool {

// Compares every checksum the manifest gives with the file's bytes and
// fills manifest.trust (checksumsMatched, withoutChecksum).  Throws
// ToolError "checksum" naming the file, the expected and the actual value
// at the first mismatch, and "checksum-missing" when a signed manifest
// leaves a file without one.
void CheckSetChecksums(Manifest& manifest);

}  // namespace orvik::tool
