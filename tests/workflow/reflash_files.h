// A small firmware set for whole-reflash runs: an S-record file tagged 'P'
// with a prefix and a raw file tagged 'R' with a "Version" trailer, and the
// record and parallel arrays the exports take.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "orvik/orvik.h"
#include "tests/firmware/srecord_text.h"

namespace orvik::testing {

struct ReflashFiles {
  using Bytes = std::vector<uint8_t>;

  // Version words: A = (a1, a2), B = (b1, b2) of each file.
  static constexpr uint16_t kSrecVersion[4] = {0x0102, 0x0304, 0x0506, 0x0708};
  static constexpr uint16_t kRawVersion[4] = {0x1112, 0x1314, 0x1516, 0x1718};

  ReflashFiles() {
    using namespace firmware::test;
    // S0 of memory space 1, load records of 30 bytes, a versioned S9.
    std::string text = HeaderRecord(1) + "\r\n";
    for (uint32_t line = 0; line < 200; ++line) {
      Bytes words(30);
      for (uint32_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint8_t>(line * 7 + i);
      text += LoadRecord(static_cast<uint16_t>(line * 10), words) + "\r\n";
    }
    Bytes s9 = {0, 0};
    for (uint16_t word : kSrecVersion) {
      s9.push_back(static_cast<uint8_t>(word >> 8));
      s9.push_back(static_cast<uint8_t>(word));
    }
    text += Record('9', s9) + "\r\n";
    srec = ToBytes(text);
    prefix = {0x12, 0x34, 0x56, 0x9A, 0xBC, 0xDE};

    raw.resize(20000);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 13 + 5);
    const char* marker = "Version";
    raw.insert(raw.end(), marker, marker + 7);
    for (uint16_t word : kRawVersion) {
      raw.push_back(static_cast<uint8_t>(word));
      raw.push_back(static_cast<uint8_t>(word >> 8));
    }

    std::memset(&record, 0, sizeof record);
    record.fileCount = 2;
    record.lowAreaFile = 1;
    record.fileTags[0] = 'P';
    record.fileKinds[0] = FILE_KIND_SREC;
    record.fileTags[1] = 'R';
    record.fileKinds[1] = FILE_KIND_RAW;
    data[0] = srec.data();
    data[1] = raw.data();
    lengths[0] = static_cast<ORVIK_ULONG>(srec.size());
    lengths[1] = static_cast<ORVIK_ULONG>(raw.size());
    prefixes[0] = prefix.data();
    prefixes[1] = nullptr;
    prefixLengths[0] = static_cast<ORVIK_ULONG>(prefix.size());
    prefixLengths[1] = 0;
  }
  ReflashFiles(const ReflashFiles&) = delete;
  ReflashFiles& operator=(const ReflashFiles&) = delete;

  Bytes srec, prefix, raw;
  _BinaryFilesInformation record;
  unsigned char* data[2];
  ORVIK_ULONG lengths[2];
  unsigned char* prefixes[2];
  ORVIK_ULONG prefixLengths[2];
};

}  // namespace orvik::testing
