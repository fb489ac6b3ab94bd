// Firmware file preparation.
#include "firmware/file_preparation.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "api/reservation.h"
#include "firmware/file_set.h"
#include "firmware/file_sizes.h"
#include "firmware/srecord_image.h"

namespace orvik::firmware {
namespace {

bool IsSRecordFile(const _BinaryFilesInformation& files, uint32_t file) {
  return files.fileKinds[file] == FILE_KIND_SREC;
}

// The host arrays hold everything that will be read: checked before any
// file is touched.
bool HostArraysUsable(const HostFileArrays& arrays, const _BinaryFilesInformation& files) {
  if (arrays.fileData == nullptr || arrays.fileLengths == nullptr) return false;
  for (uint32_t j = 0; j < files.fileCount; ++j) {
    const ORVIK_ULONG length = arrays.fileLengths[j];
    if (length == 0) continue;
    if (arrays.fileData[j] == nullptr) return false;
    if (!IsSRecordFile(files, j)) continue;
    if (arrays.prefixLengths == nullptr) return false;
    if (arrays.prefixLengths[j] != 0 &&
        (arrays.prefixData == nullptr || arrays.prefixData[j] == nullptr))
      return false;
  }
  return true;
}

uint64_t PrefixLength(const HostFileArrays& arrays, const _BinaryFilesInformation& files,
                      uint32_t file) {
  return IsSRecordFile(files, file) && arrays.fileLengths[file] != 0 ? arrays.prefixLengths[file]
                                                                     : 0;
}

// Sizes known before any file is read.
struct SizePlan {
  uint64_t bufferBytes[MAX_FILES] = {};
  bool bufferCapped[MAX_FILES] = {};  // an S-record buffer cut down to the usable area
  uint64_t smallestCountedBytes = 0;
  uint64_t usableBlocks = 0;  // what the files can occupy at most
};

SizePlan PlanSizes(const protocol::FlashTypeDescriptor& type, const HostFileArrays& arrays,
                   const _BinaryFilesInformation& files) {
  SizePlan plan;
  const uint64_t reserved = api::ReadReservedBlockCount(type.dataSize, type.pagesPerBlock);
  plan.usableBlocks = std::min<uint64_t>(reserved, type.blockCount);
  const uint64_t usableBytes = plan.usableBlocks * type.BlockBytes();
  for (uint32_t j = 0; j < files.fileCount; ++j) {
    const uint64_t length = arrays.fileLengths[j];
    if (length == 0) continue;
    if (IsSRecordFile(files, j)) {
      const uint64_t prefix = PrefixLength(arrays, files, j);
      // Three times the rounded text: room for the image and its working
      // space, but never more than the largest image that could be written.
      const uint64_t natural = 3 * BlockRoundedFileSize(length + prefix, type);
      plan.bufferBytes[j] = std::min(natural, usableBytes);
      plan.bufferCapped[j] = natural > usableBytes;
      plan.smallestCountedBytes +=
          BlockRoundedFileSize(prefix + kImageHeaderBytes + kImageEndMarkerBytes, type);
    } else {
      // The length to write of a raw file is PaddedFileSize(length) exactly.
      plan.bufferBytes[j] = BlockRoundedFileSize(length, type);
      plan.smallestCountedBytes += BlockRoundedFileSize(PaddedFileSize(length), type);
    }
  }
  return plan;
}

PrepareStatus PrepareSRecordFile(const HostFileArrays& arrays, uint32_t j, const SizePlan& plan,
                                 PreparedFile& file) {
  if (!file.buffer.Allocate(plan.bufferBytes[j])) return PrepareStatus::kNoBuffer;
  const std::span<const uint8_t> text(arrays.fileData[j], arrays.fileLengths[j]);
  const uint32_t prefixLength = arrays.prefixLengths[j];
  const std::span<const uint8_t> prefix(prefixLength != 0 ? arrays.prefixData[j] : nullptr,
                                        prefixLength);
  const ConversionResult image = ConvertSRecordImage(text, prefix, file.buffer.bytes());
  if (!image.ok()) {
    return image.error == SRecordError::kOutputFull && plan.bufferCapped[j]
               ? PrepareStatus::kNoRoom
               : PrepareStatus::kBadFile;
  }
  if (!ReadSRecordVersion(text, file.version)) return PrepareStatus::kBadFile;
  file.lengthToWrite = image.imageLength;
  return PrepareStatus::kDone;
}

PrepareStatus PrepareRawFile(const HostFileArrays& arrays, uint32_t j, const SizePlan& plan,
                             PreparedFile& file) {
  if (!file.buffer.Allocate(plan.bufferBytes[j])) return PrepareStatus::kNoBuffer;
  const std::span<const uint8_t> data(arrays.fileData[j], arrays.fileLengths[j]);
  file.version = ReadVersionTrailer(data);
  uint8_t* page = file.buffer.data();
  for (size_t offset = 0; offset < data.size(); offset += kRawBytesPerPage) {
    const size_t piece = std::min<size_t>(kRawBytesPerPage, data.size() - offset);
    std::memcpy(page, data.data() + offset, piece);
    page += kPageDataBytes;
  }
  file.lengthToWrite = PaddedFileSize(data.size());
  return PrepareStatus::kDone;
}

}  // namespace

uint64_t PreparedFileSet::CountedBytes(const protocol::FlashTypeDescriptor& type) const {
  uint64_t total = 0;
  for (uint32_t j = 0; j < count_; ++j)
    total += BlockRoundedFileSize(files_[j].lengthToWrite, type);
  return total;
}

void PreparedFileSet::Reset(uint32_t count) {
  for (PreparedFile& file : files_) file = PreparedFile{};
  count_ = std::min<uint32_t>(count, MAX_FILES);
}

PrepareStatus PrepareFiles(const protocol::FlashTypeDescriptor& type, const HostFileArrays& arrays,
                           const _BinaryFilesInformation& files, PreparedFileSet& prepared) {
  prepared.Reset();
  if (!ValidateFileSet(&files)) return PrepareStatus::kBadFile;
  for (uint32_t j = 0; j < files.fileCount; ++j) {
    if (files.fileKinds[j] != FILE_KIND_RAW && files.fileKinds[j] != FILE_KIND_SREC)
      return PrepareStatus::kBadFile;
  }
  if (!HostArraysUsable(arrays, files)) return PrepareStatus::kBadFile;

  const SizePlan plan = PlanSizes(type, arrays, files);
  if (plan.smallestCountedBytes / type.BlockBytes() >= plan.usableBlocks)
    return PrepareStatus::kNoRoom;

  prepared.Reset(files.fileCount);
  for (bool srecordPass : {true, false}) {
    for (uint32_t j = 0; j < files.fileCount; ++j) {
      if (IsSRecordFile(files, j) != srecordPass || arrays.fileLengths[j] == 0) continue;
      const PrepareStatus status = srecordPass ? PrepareSRecordFile(arrays, j, plan, prepared[j])
                                               : PrepareRawFile(arrays, j, plan, prepared[j]);
      if (status != PrepareStatus::kDone) return status;
    }
  }
  return PrepareStatus::kDone;
}

bool PreparedFilesFit(const protocol::FlashTypeDescriptor& type, const PreparedFileSet& prepared) {
  return FilesFitReservedArea(type, prepared.CountedBytes(type));
}

}  // namespace orvik::firmware
