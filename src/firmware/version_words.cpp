// Version words of firmware files.
#include "firmware/version_words.h"

#include <cstring>

#include "firmware/srecord_record.h"
#include "protocol/byte_order.h"

namespace orvik::firmware {
namespace {

bool IsEndRecordType(uint8_t type) { return type == '9'; }

}  // namespace

bool ReadSRecordVersion(std::span<const uint8_t> text, VersionWords& words) {
  VersionWords found;
  for (size_t i = FindRecordStart(text, 0, IsEndRecordType); i < text.size();
       i = FindRecordStart(text, i + 1, IsEndRecordType)) {
    const uint8_t* record = text.data() + i;
    uint8_t count = 0;
    if (FrameRecord(text, i, count) != SRecordError::kNone) return false;
    if (!RecordChecksumMatches(record, count)) return false;
    found = VersionWords{};
    if (count == kVersionRecordCount) {
      const uint8_t* digits = record + kRecordHeaderChars + kAddressChars;
      found.a[0] = HexWordAt(digits);
      found.a[1] = HexWordAt(digits + 4);
      found.b[0] = HexWordAt(digits + 8);
      found.b[1] = HexWordAt(digits + 12);
    }
  }
  words = found;
  return true;
}

VersionWords ReadVersionTrailer(std::span<const uint8_t> data) {
  VersionWords words;
  if (data.size() < kVersionTrailerBytes) return words;
  const uint8_t* trailer = data.data() + data.size() - kVersionTrailerBytes;
  if (std::memcmp(trailer, "Version", 7) != 0) return words;
  words.a[0] = protocol::GetLittleEndian16(trailer + 7);
  words.a[1] = protocol::GetLittleEndian16(trailer + 9);
  words.b[0] = protocol::GetLittleEndian16(trailer + 11);
  words.b[1] = protocol::GetLittleEndian16(trailer + 13);
  return words;
}

}  // namespace orvik::firmware
