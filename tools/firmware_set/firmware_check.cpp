#include "firmware_set/firmware_check.h"

#include <fmt/format.h>

#include <algorithm>
#include <span>
#include <vector>

#include "base/tool_error.h"
#include "host/host_internals.h"

namespace orvik::tool {
namespace {

using host::SRecordFlaw;

[[noreturn]] void Refuse(const Manifest& manifest, const ManifestFile& file,
                         const std::string& where, const std::string& problem) {
  Problem failure;
  failure.code = "firmware-file";
  failure.message = fmt::format("{}: {}: {}.", file.path, where, problem);
  failure.cause = "A file of the firmware set is damaged or is not the firmware the player loads.";
  failure.action = fmt::format(
      "Rebuild {} (or fetch the firmware set again); nothing was sent to the player.", file.path);
  failure.details = {{"manifest", manifest.path},
                     {"file", file.path},
                     {"tag", TagText(file.tag)},
                     {"where", where},
                     {"problem", problem}};
  throw ToolError(std::move(failure));
}

const char* ErrorText(SRecordFlaw error) {
  switch (error) {
    case SRecordFlaw::kNone:
      return "no flaw";
    case SRecordFlaw::kBadChecksum:
      return "a record does not match its checksum";
    case SRecordFlaw::kTruncated:
      return "the text ends inside a record";
    case SRecordFlaw::kShortRecord:
      return "a record is too short to hold its address";
    case SRecordFlaw::kNoMemorySpace:
      return "a load record (S1) comes before any S0 record, so it has no memory space";
    case SRecordFlaw::kOutputFull:
      return "records overlap so that the image outgrows every buffer";
    case SRecordFlaw::kPartialWord:
      return "the load data is not a whole number of 3-byte words";
    case SRecordFlaw::kPrefixLength:
      return "the prefix is not a whole number of 3-byte words";
  }
  return "malformed";
}

// The line (1-based) holding the byte at offset.
size_t LineOf(std::span<const uint8_t> text, size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// The first line at which the library's conversion fails: the shortest run
// of whole lines that no longer converts (a flaw stays a flaw when more
// lines follow, so the lines can be halved).
size_t FirstFailingLine(std::span<const uint8_t> text, std::span<const uint8_t> prefix) {
  std::vector<size_t> lineEnds;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') lineEnds.push_back(i + 1);
  if (lineEnds.empty() || lineEnds.back() != text.size()) lineEnds.push_back(text.size());
  size_t good = 0, bad = lineEnds.size();  // lines: `good` convert, `bad` do not
  while (bad - good > 1) {
    const size_t middle = (good + bad) / 2;
    if (host::ConvertSRecordText(text.first(lineEnds[middle - 1]), prefix).ok())
      good = middle;
    else
      bad = middle;
  }
  return bad;
}

bool IsUnloadedDataType(uint8_t type) { return type == '2' || type == '3'; }

void CheckSRecordFile(const Manifest& manifest, ManifestFile& file) {
  const std::span<const uint8_t> text(file.content);
  const std::span<const uint8_t> prefix(file.prefix);
  const host::SRecordConversion converted = host::ConvertSRecordText(text, prefix);
  if (!converted.ok())
    Refuse(manifest, file, fmt::format("line {}", FirstFailingLine(text, prefix)),
           ErrorText(converted.flaw));
  if (size_t at = host::FindSRecord(text, 0, IsUnloadedDataType); at < text.size())
    Refuse(manifest, file, fmt::format("line {}", LineOf(text, at)),
           fmt::format("an S{} data record: the player loads only S1 records (16-bit addresses), "
                       "so its data would be dropped",
                       static_cast<char>(text[at + 1])));
  const host::SRecordVersion version = host::ReadSRecordVersion(text);
  const std::string endLine = fmt::format("line {}", LineOf(text, version.endRecordAt));
  switch (version.finding) {
    case host::SRecordVersion::Finding::kNoEndRecord:
      Refuse(manifest, file, "end of file",
             "there is no end record (S9), so the file carries no version and may be cut short");
    case host::SRecordVersion::Finding::kNotVersioned:
      Refuse(manifest, file, endLine,
             fmt::format("the end record (S9) carries no version words (its count is {:02X}, a "
                         "versioned end record has {:02X})",
                         version.count, version.versionedCount));
    case host::SRecordVersion::Finding::kBadChecksum:
      Refuse(manifest, file, endLine, "the end record (S9) does not match its checksum");
    case host::SRecordVersion::Finding::kRead:
      break;
  }
  const host::VersionWords& words = version.words;
  file.lengthToWrite = converted.imageLength;
  file.version = {words.a[0], words.a[1], words.b[0], words.b[1]};
}

void CheckRawFile(const Manifest& manifest, ManifestFile& file) {
  const std::span<const uint8_t> data(file.content);
  const host::RawFileVersion version = host::ReadRawFileVersion(data);
  if (!version.hasTrailer)
    Refuse(manifest, file, fmt::format("offset {}", version.trailerAt),
           "the file does not end with its \"Version\" trailer (\"Version\" and four 16-bit "
           "words), so it is not a firmware file of the player");
  const host::VersionWords& words = version.words;
  file.lengthToWrite = version.lengthToWrite;
  file.version = {words.a[0], words.a[1], words.b[0], words.b[1]};
}

}  // namespace

void CheckFirmwareFiles(Manifest& manifest) {
  for (ManifestFile& file : manifest.files) {
    if (file.kind == FILE_KIND_SREC)
      CheckSRecordFile(manifest, file);
    else
      CheckRawFile(manifest, file);
  }
}

uint64_t BlocksNeeded(const Manifest& manifest, const host::FlashType& type) {
  uint64_t bytes = 0;
  for (const ManifestFile& file : manifest.files)
    if (file.lengthToWrite != 0) bytes += host::BlockRoundedFileSize(file.lengthToWrite, type);
  return bytes / type.BlockBytes();
}

}  // namespace orvik::tool
