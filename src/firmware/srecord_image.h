// Conversion of an S-record firmware text (with its optional binary prefix)
// into the player's on-flash image format.
//
// The plain image is the prefix (24-bit words, byte order turned from most
// significant first to little-endian), one load record per S1 record, and the
// end marker FF FF FF 00 00 00.  The converted image puts the checksum word S
// and the header word 512 in front and shifts the whole word stream right by
// one bit; the bit shifted out of S becomes an extra word 0.  It is 9 bytes
// longer than the plain image.
//
// The conversion works in the caller's zero-filled buffer and allocates
// nothing.  It never writes past the buffer: a text whose records (which may
// start inside other records) would produce more than the buffer holds is
// refused as malformed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "firmware/srecord_record.h"

namespace orvik::firmware {

inline constexpr size_t kLoadRecordHeaderBytes = 6;
inline constexpr size_t kImageEndMarkerBytes = 6;
inline constexpr uint8_t kImageEndMarker[kImageEndMarkerBytes] = {0xFF, 0xFF, 0xFF, 0, 0, 0};
inline constexpr size_t kImageHeaderBytes = 9;  // words 0, 1 and 2 of the image
inline constexpr uint32_t IMAGE_HEADER_WORD = 512;
// Buffer room the conversion needs beyond prefix and text for a text whose
// records do not overlap: end marker, header and one spare byte.
inline constexpr size_t kConversionSlackBytes = 16;

struct ConversionResult {
  SRecordError error = SRecordError::kNone;
  size_t imageLength = 0;  // 3n + 9 bytes on success
  bool ok() const { return error == SRecordError::kNone; }
};

// Converts text and prefix into `output` (zero-filled; its size is the
// capacity).  prefix.size() + text.size() + kConversionSlackBytes bytes are
// enough unless records overlap.  On failure the buffer holds whatever was
// written so far.
ConversionResult ConvertSRecordImage(std::span<const uint8_t> text, std::span<const uint8_t> prefix,
                                     std::span<uint8_t> output);

// Writes one load record per S1 record of the text into `output`, checking
// the S0, S1 and S9 records on the way; `length` receives the bytes written.
//
// Rules for what the format leaves open:
//  - An S1 record before any S0 record is malformed (kNoMemorySpace): without
//    a memory space the player would load its words into an arbitrary space.
//  - An S0 record with a count below 3 is malformed like such an S1 record:
//    the memory-space digit lies in its address field.
//  - A record the text ends inside, an S9 record among them, is malformed.
SRecordError ParseSRecords(std::span<const uint8_t> text, std::span<uint8_t> output,
                           size_t& length);

// Exchanges the first and third byte of every 3-byte group (most significant
// byte first becomes little-endian).  False, and nothing changed, when the
// length is not a multiple of 3.
bool SwapWordBytes(std::span<uint8_t> words);

// Turns the plain image in buffer[0, plainLength) into the converted image in
// place and returns its length, plainLength + 9.  Requires plainLength to be
// a whole number of 24-bit words and the buffer to hold plainLength + 9 bytes.
size_t ChecksumAndShiftImage(std::span<uint8_t> buffer, size_t plainLength);

}  // namespace orvik::firmware
