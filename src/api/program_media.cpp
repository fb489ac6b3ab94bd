// The firmware update export.
#include "api/program_media.h"

#include "api/global_lock.h"
#include "api/library_context.h"
#include "firmware/file_preparation.h"
#include "media/firmware_update.h"
#include "media/system_area.h"
#include "platform/trace.h"

namespace orvik::api {

PROGRAM_MEDIA_STATUS ProgramMedia(ORVIK_ULONG* flashTypes, unsigned char drive,
                                  unsigned char** const fileData, ORVIK_ULONG* const fileLengths,
                                  unsigned char** const prefixData,
                                  ORVIK_ULONG* const prefixLengths, _BinaryFilesInformation* files,
                                  void* event, const ProgramOptions& options) {
  LibraryContext& context = Context();
  PROGRAM_MEDIA_STATUS status =
      media::CheckProgrammingArguments(context.DriveState(drive), flashTypes, drive, files);
  if (status != PROGRAM_MEDIA_DONE) return status;
  protocol::DriveMediaState& state = *context.DriveState(drive);
  const protocol::FlashTypeDescriptor& type = *protocol::FlashTypeFor(flashTypes[drive]);
  media::SystemArea area{state, type, *files, context.FlashDriveFor(drive)};

  firmware::PreparedFileSet prepared;  // releases every write buffer on return
  GlobalLockGuard lock;
  status = media::CheckProgrammingCall(&state, flashTypes, drive, files);
  if (status != PROGRAM_MEDIA_DONE) return status;
  firmware::PrepareStatus prepare = firmware::PrepareFiles(
      type, {fileData, fileLengths, prefixData, prefixLengths}, *files, prepared);
  if (prepare != firmware::PrepareStatus::kDone) return static_cast<PROGRAM_MEDIA_STATUS>(prepare);
  if (!firmware::PreparedFilesFit(type, prepared)) {
    os::TraceFailure("update: the files do not fit the reserved area (or none is configured)");
    return PROGRAM_MEDIA_NO_ROOM;
  }
  LibraryProgress progress(context.Progress(), event);
  return media::UpdateFirmware(area, prepared, options.assumeLaidOutReservation, progress);
}

}  // namespace orvik::api

extern "C" {

ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikProgramPelkMedia(
    ORVIK_ULONG* flashTypes, unsigned char drive, unsigned char** const fileData,
    ORVIK_ULONG* const fileLengths, unsigned char** const prefixData,
    ORVIK_ULONG* const prefixLengths, _BinaryFilesInformation* files, void* event) {
  return orvik::api::ProgramMedia(flashTypes, drive, fileData, fileLengths, prefixData,
                                  prefixLengths, files, event, orvik::api::ProgramOptions{});
}

}  // extern "C"
