// Reading single S-records out of a firmware text.
//
// The reader looks at every character position: a record starts wherever an
// "S" is followed by its type digit, even inside another record.  Hex digits
// are read leniently (any character below '9' counts from '0', any other
// from '7', cut to 4 bits), so a spoiled record is caught by its checksum,
// not by the digit reader.  Every read stays inside the text: a record that
// the end of the text cuts off is malformed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orvik::firmware {

// Why a conversion or version read refused a text.
enum class SRecordError : uint8_t {
  kNone = 0,
  kBadChecksum,    // an S0, S1 or S9 record does not match its checksum
  kTruncated,      // the text ends inside a record
  kShortRecord,    // an S0 or S1 record too short to hold its address
  kNoMemorySpace,  // an S1 record before any S0 record
  kOutputFull,     // the image would not fit the output buffer
  kPartialWord,    // the load data is not a whole number of 24-bit words
  kPrefixLength,   // the binary prefix is not a whole number of 24-bit words
};

namespace detail {
constexpr std::array<uint8_t, 256> MakeHexDigitTable() {
  std::array<uint8_t, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    unsigned value = c <= '9' ? c - 0x30u : c - 0x37u;
    table[c] = static_cast<uint8_t>(value & 0x0Fu);
  }
  return table;
}
}  // namespace detail

inline constexpr std::array<uint8_t, 256> kHexDigitValue = detail::MakeHexDigitTable();

// The byte written as two hex digits at p.
inline uint8_t HexByteAt(const uint8_t* p) {
  return static_cast<uint8_t>((kHexDigitValue[p[0]] << 4) | kHexDigitValue[p[1]]);
}

// The 16-bit value written as four hex digits at p, most significant first.
inline uint16_t HexWordAt(const uint8_t* p) {
  return static_cast<uint16_t>((HexByteAt(p) << 8) | HexByteAt(p + 2));
}

inline constexpr size_t kRecordHeaderChars = 4;     // "S", type, two count digits
inline constexpr size_t kAddressChars = 4;          // 16-bit address
inline constexpr uint8_t kMinimumAddressCount = 3;  // two address bytes + checksum

// Characters a record of the given count takes: "S", type, count, then
// count bytes (address, data, checksum) as hex pairs.
inline constexpr size_t RecordChars(uint8_t count) { return kRecordHeaderChars + 2u * count; }

// Finds the next record start of one of the given types at or after `from`;
// returns text.size() when there is none.  A start needs the "S" and its type
// digit inside the text.
size_t FindRecordStart(std::span<const uint8_t> text, size_t from, bool (*wanted)(uint8_t type));

// The count byte of the record starting at `start`, after checking that the
// whole record lies inside the text.
SRecordError FrameRecord(std::span<const uint8_t> text, size_t start, uint8_t& count);

// True when the checksum byte of the framed record at `record` matches: the
// one's complement of the 8-bit sum of its count bytes, starting with the
// count byte itself.
bool RecordChecksumMatches(const uint8_t* record, uint8_t count);

// The sum check above, given the sum of the count bytes already taken.
inline bool ChecksumByteMatches(const uint8_t* record, uint8_t count, uint8_t sum) {
  return HexByteAt(record + 2 + 2u * count) == static_cast<uint8_t>(0xFF - sum);
}

}  // namespace orvik::firmware
