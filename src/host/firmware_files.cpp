// Firmware files on a disk, read with the programming's own readers.
#include <cstring>

#include "firmware/file_preparation.h"
#include "firmware/file_sizes.h"
#include "firmware/srecord_image.h"
#include "firmware/srecord_record.h"
#include "firmware/version_words.h"
#include "host/host_internals.h"
#include "protocol/flash_types.h"

namespace orvik::host {
namespace {

constexpr bool SameFlaw(SRecordFlaw host, firmware::SRecordError library) {
  return static_cast<int>(host) == static_cast<int>(library);
}
static_assert(SameFlaw(SRecordFlaw::kNone, firmware::SRecordError::kNone) &&
              SameFlaw(SRecordFlaw::kBadChecksum, firmware::SRecordError::kBadChecksum) &&
              SameFlaw(SRecordFlaw::kTruncated, firmware::SRecordError::kTruncated) &&
              SameFlaw(SRecordFlaw::kShortRecord, firmware::SRecordError::kShortRecord) &&
              SameFlaw(SRecordFlaw::kNoMemorySpace, firmware::SRecordError::kNoMemorySpace) &&
              SameFlaw(SRecordFlaw::kOutputFull, firmware::SRecordError::kOutputFull) &&
              SameFlaw(SRecordFlaw::kPartialWord, firmware::SRecordError::kPartialWord) &&
              SameFlaw(SRecordFlaw::kPrefixLength, firmware::SRecordError::kPrefixLength));

VersionWords WordsFrom(const firmware::VersionWords& words) {
  return {{words.a[0], words.a[1]}, {words.b[0], words.b[1]}};
}

bool IsEndType(uint8_t type) { return type == '9'; }

}  // namespace

SRecordConversion ConvertSRecordText(std::span<const uint8_t> text,
                                     std::span<const uint8_t> prefix) {
  // Three times the input: the room the programming gives a conversion,
  // enough also for records that start inside other records.
  std::vector<uint8_t> output(3 * (text.size() + prefix.size()) + firmware::kConversionSlackBytes);
  const firmware::ConversionResult converted = firmware::ConvertSRecordImage(text, prefix, output);
  return {static_cast<SRecordFlaw>(converted.error), converted.imageLength};
}

size_t FindSRecord(std::span<const uint8_t> text, size_t from, bool (*wanted)(uint8_t type)) {
  return firmware::FindRecordStart(text, from, wanted);
}

SRecordVersion ReadSRecordVersion(std::span<const uint8_t> text) {
  SRecordVersion version;
  version.versionedCount = firmware::kVersionRecordCount;
  version.endRecordAt = text.size();
  for (size_t at = firmware::FindRecordStart(text, 0, IsEndType); at < text.size();
       at = firmware::FindRecordStart(text, at + 1, IsEndType))
    version.endRecordAt = at;
  if (version.endRecordAt == text.size()) return version;  // kNoEndRecord
  if (firmware::FrameRecord(text, version.endRecordAt, version.count) !=
          firmware::SRecordError::kNone ||
      version.count != firmware::kVersionRecordCount) {
    version.finding = SRecordVersion::Finding::kNotVersioned;
    return version;
  }
  firmware::VersionWords words;
  if (!firmware::ReadSRecordVersion(text, words)) {
    version.finding = SRecordVersion::Finding::kBadChecksum;
    return version;
  }
  version.finding = SRecordVersion::Finding::kRead;
  version.words = WordsFrom(words);
  return version;
}

RawFileVersion ReadRawFileVersion(std::span<const uint8_t> data) {
  RawFileVersion version;
  const size_t trailer = firmware::kVersionTrailerBytes;
  version.trailerAt = data.size() >= trailer ? data.size() - trailer : 0;
  version.hasTrailer =
      data.size() >= trailer && std::memcmp(data.data() + version.trailerAt, "Version", 7) == 0;
  if (version.hasTrailer) version.words = WordsFrom(firmware::ReadVersionTrailer(data));
  version.lengthToWrite = firmware::PaddedFileSize(data.size());
  return version;
}

uint64_t BlockRoundedFileSize(uint64_t lengthToWrite, const FlashType& type) {
  const protocol::FlashTypeDescriptor* descriptor = protocol::FlashTypeFor(type.typeIndex);
  return descriptor == nullptr ? 0 : firmware::BlockRoundedFileSize(lengthToWrite, *descriptor);
}

int PrepareFileImages(const FlashType& type, unsigned char* const* fileData,
                      const ORVIK_ULONG* fileLengths, unsigned char* const* prefixData,
                      const ORVIK_ULONG* prefixLengths, const _BinaryFilesInformation& files,
                      std::vector<PreparedImage>& images) {
  images.clear();
  const protocol::FlashTypeDescriptor* descriptor = protocol::FlashTypeFor(type.typeIndex);
  if (descriptor == nullptr) return PROGRAM_MEDIA_NOT_FLASH;
  firmware::PreparedFileSet prepared;
  const firmware::PrepareStatus status = firmware::PrepareFiles(
      *descriptor, {fileData, fileLengths, prefixData, prefixLengths}, files, prepared);
  if (status != firmware::PrepareStatus::kDone) return static_cast<int>(status);
  for (uint32_t file = 0; file < prepared.Count(); ++file) {
    const firmware::PreparedFile& one = prepared[file];
    images.push_back(
        {std::vector<uint8_t>(one.buffer.data(), one.buffer.data() + one.lengthToWrite),
         WordsFrom(one.version)});
  }
  return PROGRAM_MEDIA_DONE;
}

}  // namespace orvik::host
