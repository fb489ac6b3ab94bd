// Turning the host's firmware files into block-rounded write buffers for the
// system-area writer, with their version words.
//
// How the programming exports use it:
//
//   const protocol::FlashTypeDescriptor* type = protocol::FlashTypeFor(flashTypes[drive]);
//   // (null: status 8, before anything else)
//   PreparedFileSet prepared;                       // owns every buffer (RAII)
//   PrepareStatus status = PrepareFiles(*type, {fileData, fileLengths, prefixData,
//                                               prefixLengths}, *files, prepared);
//   if (status != PrepareStatus::kDone) return static_cast<PROGRAM_MEDIA_STATUS>(status);
//   if (!PreparedFilesFit(*type, prepared)) return PROGRAM_MEDIA_NO_ROOM;
//
// The writer then reads file j as prepared[j]: `buffer.data()` holds
// `lengthToWrite` bytes of page data followed by zeros up to `buffer.size()`,
// a whole number of erase blocks, so a full last block and the extra zero
// page of a one-page last block can be read from it; data block i starts at
// i x BlockBytes().  A file with lengthToWrite 0 has no buffer and is skipped
// (the first copy of file 0 writes nothing then).  `version` holds the pairs
// A and B to store with the file.  The same prepared set serves the first
// copy of file 0 and the second copies of all files.
#pragma once

#include <array>
#include <cstdint>

#include "firmware/version_words.h"
#include "orvik/orvik.h"
#include "platform/page_buffer.h"
#include "protocol/flash_types.h"

namespace orvik::firmware {

// The host's parallel file arrays, indexed by file number.
struct HostFileArrays {
  unsigned char* const* fileData = nullptr;
  const ORVIK_ULONG* fileLengths = nullptr;
  unsigned char* const* prefixData = nullptr;
  const ORVIK_ULONG* prefixLengths = nullptr;
};

// Results of PrepareFiles; the values are the PROGRAM_MEDIA_STATUS codes the
// programming exports return for them.
enum class PrepareStatus : int {
  kDone = PROGRAM_MEDIA_DONE,
  kNoBuffer = PROGRAM_MEDIA_NO_BUFFER,  // a write buffer could not be allocated
  kBadFile = PROGRAM_MEDIA_BAD_FILE,    // malformed file, record or host arrays
  kNoRoom = PROGRAM_MEDIA_NO_ROOM,      // the files cannot fit, whatever they hold
};

struct PreparedFile {
  os::PageBuffer buffer;       // empty when there is nothing to write
  uint64_t lengthToWrite = 0;  // image length, or 512 bytes per raw page
  VersionWords version;
};

// The per-file working state of one programming call.  Fixed room for
// MAX_FILES entries, so creating it cannot fail; it releases every buffer it
// holds when it goes away or is prepared again.
class PreparedFileSet {
 public:
  uint32_t Count() const { return count_; }
  const PreparedFile& operator[](uint32_t file) const { return files_[file]; }
  PreparedFile& operator[](uint32_t file) { return files_[file]; }

  // The fit check's total: BlockRoundedFileSize of every file's length to
  // write (the 510-to-512 rule applies here too, so a file may count a page
  // or two more than it occupies).
  uint64_t CountedBytes(const protocol::FlashTypeDescriptor& type) const;

  // Releases every buffer and forgets the files.
  void Reset(uint32_t count = 0);

 private:
  std::array<PreparedFile, MAX_FILES> files_;
  uint32_t count_ = 0;
};

// Prepares every file of the set for the flash type: all S-record files
// first (converted behind their prefix), then the raw files (packed 510
// bytes to a 512-byte page), each with its version words, stopping at the
// first failure (buffers taken so far stay in `prepared`).
//
// Before any file is read or any buffer allocated:
//  - a record refused by ValidateFileSet, or a file kind other than
//    FILE_KIND_RAW or FILE_KIND_SREC, gives kBadFile: an unknown kind is a
//    host error, and reading a binary as an S-record text would program a
//    firmware without any load record;
//  - a null fileData or fileLengths array, a null prefixLengths array while
//    an S-record file has content, a null file pointer with a non-zero
//    length, or a null prefix (array or pointer) with a non-zero prefix
//    length on an S-record file with content gives kBadFile;
//  - a set whose smallest possible counted size already does not fit the
//    reserved area, nor the flash, gives kNoRoom (a raw file's size is exact,
//    an S-record file's image is at least its prefix, header and end marker).
// An S-record image too large for the reserved area also gives kNoRoom: its
// buffer is not made larger than the area, since a larger image cannot be
// written anyway.  The prefix length of a raw file is never read.
PrepareStatus PrepareFiles(const protocol::FlashTypeDescriptor& type, const HostFileArrays& arrays,
                           const _BinaryFilesInformation& files, PreparedFileSet& prepared);

// FilesFitReservedArea over the prepared lengths to write.
bool PreparedFilesFit(const protocol::FlashTypeDescriptor& type, const PreparedFileSet& prepared);

}  // namespace orvik::firmware
