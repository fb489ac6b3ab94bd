// Reading single S-records.
#include "firmware/srecord_record.h"

#include <cstring>

namespace orvik::firmware {

size_t FindRecordStart(std::span<const uint8_t> text, size_t from, bool (*wanted)(uint8_t type)) {
  const size_t length = text.size();
  // A start needs two characters: texts of 0 or 1 byte hold no record.
  if (length < 2) return length;
  const uint8_t* base = text.data();
  size_t i = from;
  while (i + 1 < length) {
    const void* found = std::memchr(base + i, 'S', length - 1 - i);
    if (found == nullptr) return length;
    i = static_cast<size_t>(static_cast<const uint8_t*>(found) - base);
    if (wanted(base[i + 1])) return i;
    ++i;
  }
  return length;
}

SRecordError FrameRecord(std::span<const uint8_t> text, size_t start, uint8_t& count) {
  const size_t available = text.size() - start;
  if (available < kRecordHeaderChars) return SRecordError::kTruncated;
  count = HexByteAt(text.data() + start + 2);
  if (available < RecordChars(count)) return SRecordError::kTruncated;
  return SRecordError::kNone;
}

bool RecordChecksumMatches(const uint8_t* record, uint8_t count) {
  uint8_t sum = 0;
  const uint8_t* byte = record + 2;
  for (unsigned k = 0; k < count; ++k, byte += 2) sum = static_cast<uint8_t>(sum + HexByteAt(byte));
  return ChecksumByteMatches(record, count, sum);
}

}  // namespace orvik::firmware
