// The check of every firmware file of a set before the player is opened,
// with the library's own S-record conversion and version readers (the tool
// has no parser of its own that could disagree with them).
//
// A file is refused, naming its line (S-record text) or offset (raw file)
// and the reason, when
//  - its records do not convert (checksum, cut-off record, no memory space,
//    load data that is not whole 24-bit words, overlapping records);
//  - it holds data records the player does not load (S2, S3);
//  - its last end record (S9) is missing or carries no version words;
//  - a raw file does not end with its "Version" trailer.
// What passes is what the library will write: each file's length to write
// and version words, from which the blocks the set needs are counted.
#pragma once

#include <cstdint>
#include <string>

#include "firmware_set/manifest.h"
#include "host/host_internals.h"

namespace orvik::tool {

// Checks every file of the manifest and fills each file's lengthToWrite and
// version.  Throws ToolError "firmware-file" for the first flawed file.
void CheckFirmwareFiles(Manifest& manifest);

// Blocks the library's fit check counts for the checked set on this flash
// type (the 510-to-512 rule applied, each file rounded to whole blocks).
uint64_t BlocksNeeded(const Manifest& manifest, const host::FlashType& type);

}  // namespace orvik::tool
