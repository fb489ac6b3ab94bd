// Helpers for firmware tests: building S-record texts with correct
// checksums, and undoing the image shift to look at the plain words.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvik::firmware::test {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// "S<type>" + count + the bytes (address and data) + checksum, no line end.
inline std::string Record(char type, const Bytes& addressAndData) {
  static const char* kDigits = "0123456789ABCDEF";
  const unsigned count = static_cast<unsigned>(addressAndData.size()) + 1;
  unsigned sum = count;
  std::string out = "S";
  out += type;
  auto put = [&](unsigned byte) {
    out += kDigits[(byte >> 4) & 0xF];
    out += kDigits[byte & 0xF];
  };
  put(count);
  for (uint8_t b : addressAndData) {
    put(b);
    sum += b;
  }
  put(0xFF - (sum & 0xFF));
  return out;
}

inline std::string LoadRecord(uint16_t address, const Bytes& data) {
  Bytes bytes = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  return Record('1', bytes);
}

// An S0 record whose address is 000<space>.
inline std::string HeaderRecord(uint8_t space) { return Record('0', {0x00, space}); }

inline uint32_t WordAt(std::span<const uint8_t> bytes, size_t word) {
  return uint32_t{bytes[3 * word]} | (uint32_t{bytes[3 * word + 1]} << 8) |
         (uint32_t{bytes[3 * word + 2]} << 16);
}

// Undoes the one-bit shift of a converted image: the plain image's bytes,
// and whether the checksum word and header word agree with them.
struct PlainImage {
  Bytes bytes;
  bool checksumMatches = false;
  bool headerMatches = false;
};

inline PlainImage UnshiftImage(std::span<const uint8_t> image) {
  PlainImage plain;
  const size_t words = image.size() / 3;
  if (words < 3) return plain;
  const uint32_t checksum = WordAt(image, 0) | (WordAt(image, 1) << 1);
  uint32_t sum = 512;
  for (size_t k = 0; k + 3 < words; ++k) {
    const uint32_t word = ((WordAt(image, k + 3) << 1) & 0xFFFFFE) | (WordAt(image, k + 2) >> 23);
    sum += word;
    plain.bytes.push_back(static_cast<uint8_t>(word));
    plain.bytes.push_back(static_cast<uint8_t>(word >> 8));
    plain.bytes.push_back(static_cast<uint8_t>(word >> 16));
  }
  plain.checksumMatches = (sum & 0xFFFFFF) == checksum;
  plain.headerMatches = (WordAt(image, 2) & 0x7FFFFF) == 256 && WordAt(image, 0) <= 1;
  return plain;
}

}  // namespace orvik::firmware::test
