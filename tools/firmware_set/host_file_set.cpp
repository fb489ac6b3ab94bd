#include "firmware_set/host_file_set.h"

#include <cstring>

namespace orvik::tool {

HostFileSet::HostFileSet(Manifest& manifest) {
  std::memset(&record_, 0, sizeof record_);
  record_.fileCount = static_cast<ORVIK_ULONG>(manifest.files.size());
  record_.lowAreaFile = manifest.lowAreaFile;
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    ManifestFile& file = manifest.files[i];
    record_.fileTags[i] = file.tag;
    record_.fileKinds[i] = file.kind;
    data_.push_back(file.content.empty() ? nullptr : file.content.data());
    lengths_.push_back(static_cast<ORVIK_ULONG>(file.content.size()));
    prefixData_.push_back(file.prefix.empty() ? nullptr : file.prefix.data());
    prefixLengths_.push_back(static_cast<ORVIK_ULONG>(file.prefix.size()));
  }
}

HostFileSet::HostFileSet() {
  std::memset(&record_, 0, sizeof record_);
  record_.fileCount = 1;
  record_.lowAreaFile = 1;
  record_.fileTags[0] = 'P';
  record_.fileKinds[0] = FILE_KIND_SREC;
  data_.push_back(nullptr);
  lengths_.push_back(0);
  prefixData_.push_back(nullptr);
  prefixLengths_.push_back(0);
}

}  // namespace orvik::tool
