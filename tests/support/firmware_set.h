// A host's firmware file set for tests: the record and the parallel file
// arrays the programming exports take, with files built on the spot.
#pragma once

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "firmware/srecord_text.h"
#include "orvik/orvik.h"

namespace orvik::testing {

using Bytes = std::vector<uint8_t>;

struct Versions {
  uint16_t a1 = 0, a2 = 0, b1 = 0, b2 = 0;
};

// Random bytes from a seed.
inline Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

// An S-record text: an S0 record of memory space 1, load records of 30 data
// bytes from address 0 (each record's address counts its 3-byte words), and
// a versioned S9 record.
inline Bytes SRecordFile(size_t dataBytes, uint32_t seed, Versions version) {
  using namespace firmware::test;
  Bytes data = RandomBytes(dataBytes - dataBytes % 3, seed);
  std::string text = HeaderRecord(1) + "\r\n";
  for (size_t at = 0; at < data.size(); at += 30) {
    Bytes chunk(data.begin() + static_cast<std::ptrdiff_t>(at),
                data.begin() + static_cast<std::ptrdiff_t>(std::min(at + 30, data.size())));
    text += LoadRecord(static_cast<uint16_t>(at / 3), chunk) + "\r\n";
  }
  auto hi = [](uint16_t w) { return static_cast<uint8_t>(w >> 8); };
  auto lo = [](uint16_t w) { return static_cast<uint8_t>(w); };
  text += Record('9', {0, 0, hi(version.a1), lo(version.a1), hi(version.a2), lo(version.a2),
                       hi(version.b1), lo(version.b1), hi(version.b2), lo(version.b2)}) +
          "\r\n";
  return ToBytes(text);
}

// A raw binary that ends with a "Version" trailer.
inline Bytes RawFile(size_t bytes, uint32_t seed, Versions version) {
  Bytes file = RandomBytes(bytes - 15, seed);
  const char* marker = "Version";
  file.insert(file.end(), marker, marker + 7);
  for (uint16_t word : {version.a1, version.a2, version.b1, version.b2}) {
    file.push_back(static_cast<uint8_t>(word));
    file.push_back(static_cast<uint8_t>(word >> 8));
  }
  return file;
}

class FirmwareSet {
 public:
  FirmwareSet() {
    std::memset(&files_, 0, sizeof files_);
    files_.lowAreaFile = 1;
  }

  void Add(char tag, uint32_t kind, Bytes content, Bytes prefix = {}) {
    files_.fileTags[files_.fileCount] = static_cast<uint8_t>(tag);
    files_.fileKinds[files_.fileCount] = kind;
    ++files_.fileCount;
    contents_.push_back(std::move(content));
    prefixes_.push_back(std::move(prefix));
  }

  _BinaryFilesInformation& Record() { return files_; }
  const Bytes& Content(size_t file) const { return contents_[file]; }

  PROGRAM_MEDIA_STATUS FullFormat(ORVIK_ULONG flashType, int writeFiles, void* event = nullptr) {
    Refresh();
    ORVIK_ULONG types[1] = {flashType};
    return OrvikFatFormatEx(types, 0, writeFiles, data_.data(), lengths_.data(),
                            prefixData_.data(), prefixLengths_.data(), &files_, event);
  }

  PROGRAM_MEDIA_STATUS Program(ORVIK_ULONG flashType, void* event = nullptr) {
    Refresh();
    ORVIK_ULONG types[1] = {flashType};
    return OrvikProgramPelkMedia(types, 0, data_.data(), lengths_.data(), prefixData_.data(),
                                 prefixLengths_.data(), &files_, event);
  }

  PROGRAM_MEDIA_STATUS FileVersions() {
    Refresh();
    return OrvikGetFileVersion(data_.data(), lengths_.data(), &files_);
  }

  PROGRAM_MEDIA_STATUS Scan(ORVIK_ULONG flashType) {
    ORVIK_ULONG types[1] = {flashType};
    return OrvikBuildBlockStatus(types, 0, 0, &files_, nullptr);
  }

  PROGRAM_MEDIA_STATUS FirmwareVersions(ORVIK_ULONG flashType) {
    ORVIK_ULONG types[1] = {flashType};
    return OrvikGetFirmwareVersion(types, 0, &files_);
  }

  // The file arrays as the exports take them.
  unsigned char** Data() { return Refresh(), data_.data(); }
  ORVIK_ULONG* Lengths() { return Refresh(), lengths_.data(); }
  unsigned char** PrefixData() { return Refresh(), prefixData_.data(); }
  ORVIK_ULONG* PrefixLengths() { return Refresh(), prefixLengths_.data(); }

 private:
  void Refresh() {
    data_.clear();
    lengths_.clear();
    prefixData_.clear();
    prefixLengths_.clear();
    for (size_t i = 0; i < contents_.size(); ++i) {
      data_.push_back(contents_[i].empty() ? nullptr : contents_[i].data());
      lengths_.push_back(static_cast<ORVIK_ULONG>(contents_[i].size()));
      prefixData_.push_back(prefixes_[i].empty() ? nullptr : prefixes_[i].data());
      prefixLengths_.push_back(static_cast<ORVIK_ULONG>(prefixes_[i].size()));
    }
  }

  _BinaryFilesInformation files_;
  std::vector<Bytes> contents_;
  std::vector<Bytes> prefixes_;
  std::vector<unsigned char*> data_;
  std::vector<ORVIK_ULONG> lengths_;
  std::vector<unsigned char*> prefixData_;
  std::vector<ORVIK_ULONG> prefixLengths_;
};

}  // namespace orvik::testing
