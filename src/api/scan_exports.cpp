// The block status exports (the scan and the release of the drive's
// buffers) and the version query, which scans too.
#include "api/global_lock.h"
#include "api/library_context.h"
#include "firmware/file_set.h"
#include "media/block_status.h"
#include "media/firmware_version.h"
#include "orvik/orvik.h"
#include "platform/trace.h"
#include "protocol/media_state.h"

using namespace orvik;

extern "C" {

// Takes the global lock: the scan replaces the table and the page buffer
// that a running operation uses.
ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikBuildBlockStatus(ORVIK_ULONG* flashTypes,
                                                                unsigned char drive, int flag,
                                                                _BinaryFilesInformation* files,
                                                                void* event) {
  (void)flag;
  api::GlobalLockGuard lock;
  api::LibraryContext& context = api::Context();
  if (context.MediaKindOf(drive) == protocol::MEDIA_KIND_MMC) return PROGRAM_MEDIA_DONE;
  // The drive is checked before the host's array is read: only drive 0 has
  // an entry the library may rely on.
  if (context.DriveState(drive) == nullptr || flashTypes == nullptr ||
      !firmware::ValidateFileSet(files)) {
    os::TraceFailure("block scan: drive %u has no flash, or the file set record is refused", drive);
    return PROGRAM_MEDIA_NO_DEVICE;
  }
  api::LibraryProgress progress(context.Progress(), event);
  bool announce = progress.Phase() == ORVIK_PHASE_HOST_SCAN_REQUEST;
  if (announce) progress.Announce(ORVIK_PHASE_SCAN, 0.0);
  if (!media::ScanBlockStatus(context.FlashDriveFor(drive), flashTypes[drive], *files, progress))
    return PROGRAM_MEDIA_NO_DEVICE;
  if (announce) progress.Announce(ORVIK_PHASE_SCAN, 100.0);
  return PROGRAM_MEDIA_DONE;
}

ORVIK_API int ORVIK_CALL OrvikFreeMemoryDevice(unsigned char drive) {
  api::GlobalLockGuard lock;  // never under a running operation
  protocol::DriveMediaState* state = api::Context().DriveState(drive);
  if (state != nullptr && state->mediaKind == protocol::MEDIA_KIND_FLASH)
    protocol::ReleaseDriveBuffers(*state);
  return 1;
}

ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikGetFirmwareVersion(ORVIK_ULONG* flashTypes,
                                                                  unsigned char drive,
                                                                  _BinaryFilesInformation* files) {
  api::LibraryContext& context = api::Context();
  // Only drive 0 is the internal flash; its entry is the only one read.
  if (context.DriveState(drive) == nullptr) {
    os::TraceFailure("version query: drive %u is not the internal flash", drive);
    return PROGRAM_MEDIA_SYSTEM_MISMATCH;
  }
  if (flashTypes == nullptr || flashTypes[drive] > protocol::kLastFlashType) {
    os::TraceFailure("version query: the flash type is unknown");
    return PROGRAM_MEDIA_NOT_FLASH;
  }
  if (!firmware::ValidateFileSet(files)) {
    os::TraceFailure("version query: the file set record is refused (count, tags or low file)");
    return PROGRAM_MEDIA_NO_DEVICE;
  }
  api::GlobalLockGuard lock;
  api::LibraryProgress progress(context.Progress(), nullptr);
  return media::ReadFirmwareVersions(context.FlashDriveFor(drive), flashTypes[drive], *files,
                                     progress);
}

}  // extern "C"
