#include "firmware/srecord_check.h"

#include <fmt/format.h>

#include <cctype>

namespace orvik::tool {
namespace {

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Checks one line that starts with 'S' and a type of 0, 1 or 9.
std::optional<std::string> CheckRecord(const std::string& line) {
  const char type = line[1];
  std::vector<uint8_t> bytes;
  size_t at = 2;
  for (; at + 1 < line.size(); at += 2) {
    int high = HexValue(static_cast<uint8_t>(line[at]));
    int low = HexValue(static_cast<uint8_t>(line[at + 1]));
    if (high < 0 || low < 0)
      return fmt::format("character {} is not a hex digit", high < 0 ? at + 1 : at + 2);
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  if (bytes.empty()) return std::string("the record has no count byte");
  const size_t count = bytes[0];
  if (bytes.size() < count + 1)
    return fmt::format("the count byte says {} bytes follow, the line holds {}", count,
                       bytes.size() - 1);
  if (count < 3) return fmt::format("an S{} record needs an address and a checksum", type);
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  const uint8_t wanted = static_cast<uint8_t>(0xFF - (sum & 0xFF));
  const uint8_t stored = bytes[count];
  if (stored != wanted)
    return fmt::format("the checksum is {:02X}, the record's bytes need {:02X}", stored, wanted);
  return std::nullopt;
}

}  // namespace

std::optional<SRecordFlaw> FindSRecordFlaw(const std::vector<uint8_t>& text) {
  uint32_t lineNumber = 0;
  size_t start = 0;
  bool sawRecord = false;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != '\n') ++end;
    ++lineNumber;
    std::string line(text.begin() + static_cast<std::ptrdiff_t>(start),
                     text.begin() + static_cast<std::ptrdiff_t>(end));
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    start = end + 1;
    if (line.size() >= 2 && line[0] == 'S') {
      sawRecord = true;
      if (line[1] == '0' || line[1] == '1' || line[1] == '9') {
        if (auto problem = CheckRecord(line)) return SRecordFlaw{lineNumber, *problem};
      }
    } else if (!line.empty() && !sawRecord) {
      return SRecordFlaw{lineNumber, "this is not an S-record text (records start with \"S\")"};
    }
  }
  return std::nullopt;
}

uint64_t SRecordImageBytes(const std::vector<uint8_t>& text, uint64_t prefixBytes) {
  constexpr uint64_t kLoadHeader = 6, kEndMarker = 6, kChecksumHeader = 9;
  uint64_t bytes = prefixBytes + kEndMarker + kChecksumHeader;
  for (size_t i = 0; i + 3 < text.size(); ++i) {
    if (text[i] != 'S' || text[i + 1] != '1') continue;
    const int high = HexValue(text[i + 2]), low = HexValue(text[i + 3]);
    if (high < 0 || low < 0) continue;
    const int count = high * 16 + low;
    if (count >= 3) bytes += kLoadHeader + static_cast<uint64_t>(count - 3);
  }
  return bytes;
}

}  // namespace orvik::tool
