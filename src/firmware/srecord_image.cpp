// S-record image conversion.
#include "firmware/srecord_image.h"

#include <algorithm>
#include <cstring>

namespace orvik::firmware {
namespace {

constexpr uint32_t kWordMask = 0xFFFFFF;
constexpr uint32_t kTopBit = 0x800000;

bool IsParsedType(uint8_t type) { return type == '0' || type == '1' || type == '9'; }

uint32_t ReadWord(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
}

void WriteWord(uint8_t* p, uint32_t word) {
  p[0] = static_cast<uint8_t>(word);
  p[1] = static_cast<uint8_t>(word >> 8);
  p[2] = static_cast<uint8_t>(word >> 16);
}

// The memory space of an S0 record: its last address digit, not cut to 4
// bits (only 1 to 4 have a meaning of their own).
uint8_t MemorySpaceDigit(uint8_t c) { return static_cast<uint8_t>(c <= '9' ? c - 0x30 : c - 0x37); }

// Space code for the load-record header and data bytes per word.  Codes 1
// and 2 are exchanged on the device side; other spaces take the code from
// the low 4 bits of the record's address.
struct SpaceRule {
  uint8_t code;
  uint8_t bytesPerWord;
};

SpaceRule SpaceRuleFor(uint8_t memorySpace, uint16_t address) {
  switch (memorySpace) {
    case 1:
      return {2, 3};
    case 2:
      return {1, 3};
    case 3:
      return {3, 6};
    case 4:
      return {4, 3};
    default:
      return {static_cast<uint8_t>(address & 0x0F), 3};
  }
}

// Converts one framed S1 record into a load record at `out`, which has room
// for it.  Data bytes go straight to the output while the checksum is summed.
SRecordError ConvertLoadRecord(const uint8_t* record, uint8_t count, uint8_t memorySpace,
                               uint8_t* out) {
  const uint16_t address = HexWordAt(record + kRecordHeaderChars);
  const SpaceRule rule = SpaceRuleFor(memorySpace, address);
  const unsigned dataBytes = count - 3u;
  const unsigned wordCount = dataBytes / rule.bytesPerWord;
  out[0] = static_cast<uint8_t>(address);
  out[1] = static_cast<uint8_t>(address >> 8);
  out[2] = static_cast<uint8_t>(rule.code << 4);
  out[3] = static_cast<uint8_t>(wordCount);
  out[4] = static_cast<uint8_t>(wordCount >> 8);
  out[5] = 0;

  unsigned sum = count + (address >> 8) + (address & 0xFFu);
  const uint8_t* digits = record + kRecordHeaderChars + kAddressChars;
  uint8_t* data = out + kLoadRecordHeaderBytes;
  for (unsigned k = 0; k < dataBytes; ++k, digits += 2) {
    uint8_t byte = HexByteAt(digits);
    data[k] = byte;
    sum += byte;
  }
  return ChecksumByteMatches(record, count, static_cast<uint8_t>(sum)) ? SRecordError::kNone
                                                                       : SRecordError::kBadChecksum;
}

}  // namespace

SRecordError ParseSRecords(std::span<const uint8_t> text, std::span<uint8_t> output,
                           size_t& length) {
  length = 0;
  bool haveMemorySpace = false;
  uint8_t memorySpace = 0;
  for (size_t i = FindRecordStart(text, 0, IsParsedType); i < text.size();
       i = FindRecordStart(text, i + 1, IsParsedType)) {
    const uint8_t* record = text.data() + i;
    uint8_t count = 0;
    if (SRecordError error = FrameRecord(text, i, count); error != SRecordError::kNone)
      return error;
    switch (record[1]) {
      case '0':
        if (count < kMinimumAddressCount) return SRecordError::kShortRecord;
        if (!RecordChecksumMatches(record, count)) return SRecordError::kBadChecksum;
        memorySpace = MemorySpaceDigit(record[7]);
        haveMemorySpace = true;
        break;
      case '1': {
        if (count < kMinimumAddressCount) return SRecordError::kShortRecord;
        if (!haveMemorySpace) return SRecordError::kNoMemorySpace;
        const size_t recordBytes = kLoadRecordHeaderBytes + (count - 3u);
        if (output.size() - length < recordBytes) return SRecordError::kOutputFull;
        SRecordError error = ConvertLoadRecord(record, count, memorySpace, output.data() + length);
        if (error != SRecordError::kNone) return error;
        length += recordBytes;
        break;
      }
      default:  // '9': checked, nothing else
        if (!RecordChecksumMatches(record, count)) return SRecordError::kBadChecksum;
        break;
    }
  }
  return SRecordError::kNone;
}

bool SwapWordBytes(std::span<uint8_t> words) {
  if (words.size() % 3 != 0) return false;
  for (size_t k = 0; k < words.size(); k += 3) std::swap(words[k], words[k + 2]);
  return true;
}

size_t ChecksumAndShiftImage(std::span<uint8_t> buffer, size_t plainLength) {
  uint8_t* base = buffer.data();
  const size_t n = plainLength / 3;
  uint32_t sum = IMAGE_HEADER_WORD;
  for (size_t k = 0; k < n; ++k) sum += ReadWord(base + 3 * k);
  sum &= kWordMask;

  // Backwards, so that each output word (9 bytes above its input word) only
  // overwrites input words already consumed.
  uint32_t nextLowBit = 0;
  for (size_t k = n; k-- > 0;) {
    const uint32_t word = ReadWord(base + 3 * k);
    WriteWord(base + 3 * k + kImageHeaderBytes, (word >> 1) | (nextLowBit ? kTopBit : 0));
    nextLowBit = word & 1;
  }
  WriteWord(base + 6, IMAGE_HEADER_WORD >> 1 | (nextLowBit ? kTopBit : 0));
  WriteWord(base + 3, sum >> 1);
  WriteWord(base, sum & 1);
  return plainLength + kImageHeaderBytes;
}

ConversionResult ConvertSRecordImage(std::span<const uint8_t> text, std::span<const uint8_t> prefix,
                                     std::span<uint8_t> output) {
  const size_t capacity = output.size();
  const size_t prefixLength = prefix.size();
  if (prefixLength > capacity) return {SRecordError::kOutputFull, 0};

  size_t recordBytes = 0;
  SRecordError error = ParseSRecords(text, output.subspan(prefixLength), recordBytes);
  if (error != SRecordError::kNone) return {error, 0};

  if (prefixLength != 0) std::memcpy(output.data(), prefix.data(), prefixLength);
  if (!SwapWordBytes(output.first(prefixLength))) return {SRecordError::kPrefixLength, 0};

  const size_t endMarkerAt = prefixLength + recordBytes;
  if (capacity - endMarkerAt < kImageEndMarkerBytes) return {SRecordError::kOutputFull, 0};
  std::memcpy(output.data() + endMarkerAt, kImageEndMarker, kImageEndMarkerBytes);
  const size_t plainLength = endMarkerAt + kImageEndMarkerBytes;

  // Load data whose lengths add up to a part of a word would leave the
  // shift with a torn last word; such a text is malformed.
  if (plainLength % 3 != 0) return {SRecordError::kPartialWord, 0};
  if (capacity - plainLength < kImageHeaderBytes) return {SRecordError::kOutputFull, 0};
  return {SRecordError::kNone, ChecksumAndShiftImage(output, plainLength)};
}

}  // namespace orvik::firmware
