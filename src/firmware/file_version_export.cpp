// OrvikGetFileVersion: the version words of the host's firmware files.  Works
// on host memory only: no lock, nothing sent to the device.
#include <span>

#include "firmware/file_set.h"
#include "firmware/version_words.h"
#include "orvik/orvik.h"

using namespace orvik;

namespace {

// Every array entry that will be read is there; checked before any file is
// read so that a refused call changes nothing.
bool FileArraysUsable(unsigned char* const* fileData, const ORVIK_ULONG* fileLengths,
                      const _BinaryFilesInformation& files) {
  if (fileData == nullptr || fileLengths == nullptr) return false;
  for (uint32_t i = 0; i < files.fileCount; ++i) {
    if (fileData[i] == nullptr && fileLengths[i] != 0) return false;
  }
  return true;
}

void StoreFileVersion(_BinaryFilesInformation& files, uint32_t i,
                      const firmware::VersionWords& words) {
  files.fileVersionA[i][0] = words.a[0];
  files.fileVersionA[i][1] = words.a[1];
  files.fileVersionB[i][0] = words.b[0];
  files.fileVersionB[i][1] = words.b[1];
}

}  // namespace

extern "C" ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL
OrvikGetFileVersion(unsigned char** const fileData, ORVIK_ULONG* const fileLengths,
                    _BinaryFilesInformation* files) {
  if (!firmware::ValidateFileSet(files) || !FileArraysUsable(fileData, fileLengths, *files))
    return PROGRAM_MEDIA_BAD_FILE;
  for (uint32_t i = 0; i < files->fileCount; ++i) {
    const std::span<const uint8_t> content(fileData[i], fileLengths[i]);
    firmware::VersionWords words;
    // Any kind but raw is read as an S-record text, as the programming
    // exports' callers have always passed kinds.
    if (files->fileKinds[i] == FILE_KIND_RAW) {
      words = firmware::ReadVersionTrailer(content);
    } else if (!firmware::ReadSRecordVersion(content, words)) {
      return PROGRAM_MEDIA_BAD_FILE;  // files from i on keep their words
    }
    StoreFileVersion(*files, i, words);
  }
  return PROGRAM_MEDIA_DONE;
}
