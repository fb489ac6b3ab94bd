// Firmware file preparation.
#include "firmware/file_preparation.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "firmware/file_set.h"
#include "firmware/file_sizes.h"
#include "firmware/reserved_area.h"
#include "firmware/srecord_image.h"
#include "platform/trace.h"

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
  const uint64_t reserved = firmware::ReadReservedBlockCount(type.dataSize, type.pagesPerBlock);
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

const char* DescribeError(SRecordError error) {
  switch (error) {
    case SRecordError::kBadChecksum:
      return "a record does not match its checksum";
    case SRecordError::kTruncated:
      return "the text ends inside a record";
    case SRecordError::kShortRecord:
      return "a record is too short for its address";
    case SRecordError::kNoMemorySpace:
      return "a load record comes before any S0 record";
    case SRecordError::kOutputFull:
      return "the image is larger than its buffer";
    case SRecordError::kPartialWord:
      return "the load data is not a whole number of 3-byte words";
    case SRecordError::kPrefixLength:
      return "the prefix is not a whole number of 3-byte words";
    case SRecordError::kNone:
      break;
  }
  return "no error";
}

PrepareStatus NoBuffer(uint32_t j, uint64_t bytes) {
  os::TraceFailure("file preparation: no memory for the %llu-byte buffer of file %u",
                   static_cast<unsigned long long>(bytes), j);
  return PrepareStatus::kNoBuffer;
}

PrepareStatus PrepareSRecordFile(const HostFileArrays& arrays, uint32_t j, const SizePlan& plan,
                                 PreparedFile& file) {
  if (!file.buffer.Allocate(plan.bufferBytes[j])) return NoBuffer(j, plan.bufferBytes[j]);
  const std::span<const uint8_t> text(arrays.fileData[j], arrays.fileLengths[j]);
  const uint32_t prefixLength = arrays.prefixLengths[j];
  const std::span<const uint8_t> prefix(prefixLength != 0 ? arrays.prefixData[j] : nullptr,
                                        prefixLength);
  const ConversionResult image = ConvertSRecordImage(text, prefix, file.buffer.bytes());
  if (!image.ok()) {
    bool tooLarge = image.error == SRecordError::kOutputFull && plan.bufferCapped[j];
    os::TraceFailure(
        "file preparation: S-record file %u: %s", j,
        tooLarge ? "its image is larger than the reserved area" : DescribeError(image.error));
    return tooLarge ? PrepareStatus::kNoRoom : PrepareStatus::kBadFile;
  }
  if (!ReadSRecordVersion(text, file.version)) {
    os::TraceFailure("file preparation: S-record file %u: its S9 record's checksum is wrong", j);
    return PrepareStatus::kBadFile;
  }
  file.lengthToWrite = image.imageLength;
  return PrepareStatus::kDone;
}

PrepareStatus PrepareRawFile(const HostFileArrays& arrays, uint32_t j, const SizePlan& plan,
                             PreparedFile& file) {
  if (!file.buffer.Allocate(plan.bufferBytes[j])) return NoBuffer(j, plan.bufferBytes[j]);
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
  if (!ValidateFileSet(&files)) {
    os::TraceFailure("file preparation: the file set record is refused (count, tags or low file)");
    return PrepareStatus::kBadFile;
  }
  for (uint32_t j = 0; j < files.fileCount; ++j) {
    if (files.fileKinds[j] != FILE_KIND_RAW && files.fileKinds[j] != FILE_KIND_SREC) {
      os::TraceFailure("file preparation: file %u has the unknown kind %u", j,
                       static_cast<unsigned>(files.fileKinds[j]));
      return PrepareStatus::kBadFile;
    }
  }
  if (!HostArraysUsable(arrays, files)) {
    os::TraceFailure("file preparation: a file or prefix pointer is missing for its length");
    return PrepareStatus::kBadFile;
  }

  const SizePlan plan = PlanSizes(type, arrays, files);
  if (plan.smallestCountedBytes / type.BlockBytes() >= plan.usableBlocks) {
    os::TraceFailure(
        "file preparation: the files need at least %llu blocks, %llu are reserved",
        static_cast<unsigned long long>(plan.smallestCountedBytes / type.BlockBytes() + 1),
        static_cast<unsigned long long>(plan.usableBlocks));
    return PrepareStatus::kNoRoom;
  }

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
