// The firmware update: new firmware files into the existing system area.
#include "api/global_lock.h"
#include "api/progress.h"
#include "firmware/file_set.h"
#include "media/system_area.h"
#include "orvik/orvik.h"
#include "transport/control_requests.h"

using namespace orvik;
using media::SystemArea;

namespace {

PROGRAM_MEDIA_STATUS WriteFirmware(const SystemArea& area,
                                   const firmware::PreparedFileSet& prepared, void* event) {
  const _BinaryFilesInformation& files = area.files;
  api::SetPhase(ORVIK_PHASE_FIRMWARE, 0.0, event);
  uint32_t cursor = 0;
  if (!media::WriteFirmwareCopies(area, prepared, &cursor)) return PROGRAM_MEDIA_WRITE_FAILED;
  api::SetPhase(ORVIK_PHASE_FIRMWARE, 100.0, event);
  api::SetPhase(ORVIK_PHASE_SYSTEM_LAYOUT, 0.0, event);
  uint8_t lastMarker = firmware::MarkerForTag(files.fileTags[files.fileCount - 1]);
  if (!media::ClearUnusedSystemBlocks(area, cursor, lastMarker)) return PROGRAM_MEDIA_WRITE_FAILED;
  api::SetPhase(ORVIK_PHASE_SYSTEM_LAYOUT, 100.0, event);
  return PROGRAM_MEDIA_DONE;
}

}  // namespace

extern "C" {

ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikProgramPelkMedia(
    ORVIK_ULONG* flashTypes, unsigned char drive, unsigned char** const fileData,
    ORVIK_ULONG* const fileLengths, unsigned char** const prefixData,
    ORVIK_ULONG* const prefixLengths, _BinaryFilesInformation* files, void* event) {
  PROGRAM_MEDIA_STATUS status = media::CheckProgrammingArguments(flashTypes, drive, files);
  if (status != PROGRAM_MEDIA_DONE) return status;
  protocol::DriveMediaState& state = *protocol::MediaStateFor(drive);
  const protocol::FlashTypeDescriptor& type = *protocol::FlashTypeFor(flashTypes[drive]);
  SystemArea area{state, type, *files};

  firmware::PreparedFileSet prepared;  // releases every write buffer on return
  api::GlobalLockGuard lock;
  status = media::CheckProgrammingCall(flashTypes, drive, files);
  if (status != PROGRAM_MEDIA_DONE) return status;
  firmware::PrepareStatus prepare = firmware::PrepareFiles(
      type, {fileData, fileLengths, prefixData, prefixLengths}, *files, prepared);
  if (prepare != firmware::PrepareStatus::kDone) return static_cast<PROGRAM_MEDIA_STATUS>(prepare);
  if (!firmware::PreparedFilesFit(type, prepared)) return PROGRAM_MEDIA_NO_ROOM;
  ORVIK_ULONG version = 0;
  if (!transport::GetDeviceVersion(&version)) return PROGRAM_MEDIA_NO_DEVICE;
  if (!media::SystemAreaMatchesReserve(area)) return PROGRAM_MEDIA_SYSTEM_MISMATCH;
  return WriteFirmware(area, prepared, event);
}

}  // extern "C"
