// A manifest's files as the library takes them: the _BinaryFilesInformation
// record and the four parallel arrays, pointing into the manifest's bytes.
// The manifest must outlive the set.
#pragma once

#include <vector>

#include "firmware_set/manifest.h"
#include "orvik/orvik.h"

namespace orvik::tool {

class HostFileSet {
 public:
  explicit HostFileSet(Manifest& manifest);
  // A set with one placeholder file tagged 'P' and no content, for the
  // operations that need a record but no files (scans, a format without
  // firmware): the 'P' tag keeps every system block a plain system block.
  HostFileSet();

  _BinaryFilesInformation& Record() { return record_; }
  unsigned char** Data() { return data_.data(); }
  ORVIK_ULONG* Lengths() { return lengths_.data(); }
  unsigned char** PrefixData() { return prefixData_.data(); }
  ORVIK_ULONG* PrefixLengths() { return prefixLengths_.data(); }
  uint32_t Count() const { return record_.fileCount; }

 private:
  _BinaryFilesInformation record_;
  std::vector<unsigned char*> data_;
  std::vector<ORVIK_ULONG> lengths_;
  std::vector<unsigned char*> prefixData_;
  std::vector<ORVIK_ULONG> prefixLengths_;
};

}  // namespace orvik::tool
