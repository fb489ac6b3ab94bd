// The four version words of a firmware file: pair A (words 1 and 2) and
// pair B (words 3 and 4).  S-record files carry them in an S9 record of
// count 0x0B, raw files in a "Version" trailer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvik::firmware {

struct VersionWords {
  uint16_t a[2] = {0, 0};  // words 1 and 2
  uint16_t b[2] = {0, 0};  // words 3 and 4
  friend bool operator==(const VersionWords&, const VersionWords&) = default;
};

// The S9 record that carries a version has this count: address, four words,
// checksum.
inline constexpr uint8_t kVersionRecordCount = 0x0B;
// "Version" followed by four 16-bit little-endian words.
inline constexpr size_t kVersionTrailerBytes = 15;

// The last S9 record of the text decides: count 0x0B gives its four words
// (read from the hex digits after the address), any other count four zeros;
// a text without S9 records gives zeros.  False when an S9 record does not
// match its checksum or the text ends inside one; `words` is then unchanged.
bool ReadSRecordVersion(std::span<const uint8_t> text, VersionWords& words);

// The words of a "Version" trailer in the last 15 bytes, or zeros when the
// data does not end with one.  The trailer stays part of the file's data.
VersionWords ReadVersionTrailer(std::span<const uint8_t> data);

}  // namespace orvik::firmware
