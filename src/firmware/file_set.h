// The host's firmware file set record: checks on it and the tag-to-marker
// rule that names the blocks holding each file in the block status table.
#pragma once

#include <cstdint>

#include "orvik/orvik.h"

namespace orvik::firmware {

// The tag whose blocks keep the plain system-block state.
inline constexpr uint8_t kSystemFileTag = 'P';
// Block state of a system block; also the marker of the file tagged 'P'.
inline constexpr uint8_t kSystemBlockMarker = 3;
// Tags from here up have markers (tag + 4, 8 bits) that collide with block
// states: 0xFF good, 0 bad, 1 format-used, 2 CIS, 3 system / tag 'P'.
inline constexpr uint8_t kFirstCollidingTag = 0xFB;

// 3 for the tag 'P', otherwise the tag + 4 taken to 8 bits.
uint8_t MarkerForTag(uint8_t tag);
// 'P' for the marker 3, otherwise the marker - 4 taken to 8 bits.
uint8_t TagForMarker(uint8_t marker);

// True for a record every export may work with: not null, fileCount 1 to
// MAX_FILES, no two equal tags among the first fileCount, and no tag whose
// marker would collide with a block state.  Exports that take the record
// refuse it before touching anything else when this is false.
bool ValidateFileSet(const _BinaryFilesInformation* files);

// True when lowAreaFile (1-based) names one of the first fileCount files.
// Only the full format reads lowAreaFile; it checks this in addition.
bool LowAreaFileValid(const _BinaryFilesInformation& files);

}  // namespace orvik::firmware
