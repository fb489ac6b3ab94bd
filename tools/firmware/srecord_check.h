// Finds where an S-record firmware file is malformed, so that a status 2 of
// the library can be explained with a file and a line.  It checks what the
// library's conversion checks: every S0, S1 and S9 record must be complete
// hex with a matching checksum, and an S1 record must hold an address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvik::tool {

struct SRecordFlaw {
  uint32_t line = 0;    // 1-based
  std::string problem;  // "checksum is 3A, the record's bytes need 3B"
};

// The first flaw of the text, or nullopt when the records are sound.
std::optional<SRecordFlaw> FindSRecordFlaw(const std::vector<uint8_t>& text);

// The length of the image the library converts the text into behind a
// prefix of prefixBytes: the prefix, a 6-byte header and the data of every
// S1 record, the 6-byte end marker, and the 9-byte checksum header.
uint64_t SRecordImageBytes(const std::vector<uint8_t>& text, uint64_t prefixBytes);

}  // namespace orvik::tool
