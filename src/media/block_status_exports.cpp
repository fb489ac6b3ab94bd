// The block status exports: the scan and the release of the drive's buffers.
#include "api/progress.h"
#include "firmware/file_set.h"
#include "media/block_status.h"
#include "orvik/orvik.h"
#include "platform/trace.h"
#include "protocol/media_state.h"

using namespace orvik;

extern "C" {

// Takes no lock: the caller must not run it beside another media operation.
ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikBuildBlockStatus(ORVIK_ULONG* flashTypes,
                                                                unsigned char drive, int flag,
                                                                _BinaryFilesInformation* files,
                                                                void* event) {
  (void)flag;
  if (protocol::MediaKindOf(drive) == protocol::MEDIA_KIND_MMC) return PROGRAM_MEDIA_DONE;
  // The drive is checked before the host's array is read: only drive 0 has
  // an entry the library may rely on.
  if (protocol::MediaStateFor(drive) == nullptr || flashTypes == nullptr ||
      !firmware::ValidateFileSet(files)) {
    os::TraceFailure("block scan: drive %u has no flash, or the file set record is refused", drive);
    return PROGRAM_MEDIA_NO_DEVICE;
  }
  bool announce = api::ReadProgress().phase == ORVIK_PHASE_HOST_SCAN_REQUEST;
  if (announce) api::SetPhase(ORVIK_PHASE_SCAN, 0.0, event);
  if (!media::ScanBlockStatus(flashTypes[drive], drive, *files)) return PROGRAM_MEDIA_NO_DEVICE;
  if (announce) api::SetPhase(ORVIK_PHASE_SCAN, 100.0, event);
  return PROGRAM_MEDIA_DONE;
}

ORVIK_API int ORVIK_CALL OrvikFreeMemoryDevice(unsigned char drive) {
  protocol::DriveMediaState* state = protocol::MediaStateFor(drive);
  if (state != nullptr && state->mediaKind == protocol::MEDIA_KIND_FLASH)
    protocol::ReleaseDriveBuffers(*state);
  return 1;
}

}  // extern "C"
