// The format exports: the data-area erase, the quick format and the full
// format.
#include "api/global_lock.h"
#include "api/library_context.h"
#include "firmware/file_preparation.h"
#include "firmware/file_set.h"
#include "media/data_area_erase.h"
#include "media/full_format.h"
#include "media/quick_format.h"
#include "media/system_area.h"
#include "orvik/orvik.h"
#include "platform/trace.h"

using namespace orvik;
using protocol::MEDIA_KIND_FLASH;
using protocol::MEDIA_KIND_MMC;

extern "C" {

ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikFatEraseDataArea(ORVIK_ULONG* flashTypes,
                                                                unsigned char drive, void* event) {
  api::LibraryContext& context = api::Context();
  api::LibraryProgress progress(context.Progress(), event);
  progress.Announce(ORVIK_PHASE_ERASE, 0.0);
  // Only drive 0 has media state; the drive is checked before the host's
  // array is read, so an array of one entry is never read past its end.
  protocol::DriveMediaState* state = context.DriveState(drive);
  const uint32_t flashType =
      state == nullptr || flashTypes == nullptr ? FLASH_TYPE_UNKNOWN : flashTypes[drive];
  if (protocol::FlashTypeFor(flashType) == nullptr) {
    os::TraceFailure("data-area erase: drive %u has no flash, or its type is unknown", drive);
    return PROGRAM_MEDIA_NOT_FLASH;
  }
  if (state->mediaKind == MEDIA_KIND_MMC) return PROGRAM_MEDIA_DONE;
  if (state->mediaKind != MEDIA_KIND_FLASH) {
    os::TraceFailure("data-area erase: drive %u is neither the flash nor a card", drive);
    return PROGRAM_MEDIA_NOT_FLASH;
  }

  api::GlobalLockGuard lock;
  if (!media::DataAreaEraseAllowed(*state, flashType)) {
    os::TraceFailure("data-area erase: no block status table of flash type %u: scan first",
                     flashType);
    return PROGRAM_MEDIA_FORMAT_FAILED;
  }
  if (!media::EraseDataArea(context.FlashDriveFor(drive), flashType, progress))
    return PROGRAM_MEDIA_FORMAT_FAILED;
  progress.Announce(ORVIK_PHASE_ERASE, 100.0);
  return PROGRAM_MEDIA_DONE;
}

ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikQuickFormatPelk(ORVIK_ULONG* flashTypes,
                                                               unsigned char drive,
                                                               int sizeFromRegistry,
                                                               _BinaryFilesInformation* files,
                                                               void* event) {
  (void)files;
  api::LibraryContext& context = api::Context();
  // Only drive 0 has media state; the drive is checked before the host's
  // array is read.  A media kind that is neither the flash nor a card has
  // nothing this export can format: it is refused rather than reported to
  // the driver as formatted.
  protocol::DriveMediaState* state = context.DriveState(drive);
  if (state == nullptr || flashTypes == nullptr || flashTypes[drive] > protocol::kLastFlashType ||
      (state->mediaKind != MEDIA_KIND_FLASH && state->mediaKind != MEDIA_KIND_MMC)) {
    os::TraceFailure(
        "quick format: drive %u has no flash or card to format, or its type is unknown", drive);
    return PROGRAM_MEDIA_NOT_FLASH;
  }

  api::GlobalLockGuard lock;
  // The flash needs the scanned table, a known type and a sound volume
  // size; without them nothing is sent, erased or written.
  if (state->mediaKind == MEDIA_KIND_FLASH &&
      !media::PlannedPartitionSectors(*state, sizeFromRegistry != 0)) {
    os::TraceFailure("quick format: no scanned table, or no room for a volume; nothing was sent");
    return PROGRAM_MEDIA_FORMAT_FAILED;
  }
  api::LibraryProgress progress(context.Progress(), event);
  return media::QuickFormat(context.FlashDriveFor(drive), sizeFromRegistry != 0, progress);
}

ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikFatFormatEx(
    ORVIK_ULONG* flashTypes, unsigned char drive, int writeFiles, unsigned char** const fileData,
    ORVIK_ULONG* const fileLengths, unsigned char** const prefixData,
    ORVIK_ULONG* const prefixLengths, _BinaryFilesInformation* files, void* event) {
  api::LibraryContext& context = api::Context();
  PROGRAM_MEDIA_STATUS status =
      media::CheckProgrammingArguments(context.DriveState(drive), flashTypes, drive, files);
  if (status != PROGRAM_MEDIA_DONE) return status;
  if (!firmware::LowAreaFileValid(*files)) {
    os::TraceFailure("full format: lowAreaFile %u is not one of the %u files",
                     static_cast<unsigned>(files->lowAreaFile),
                     static_cast<unsigned>(files->fileCount));
    return PROGRAM_MEDIA_BAD_FILE;
  }
  protocol::DriveMediaState& state = *context.DriveState(drive);
  const protocol::FlashTypeDescriptor& type = *protocol::FlashTypeFor(flashTypes[drive]);
  media::SystemArea area{state, type, *files, context.FlashDriveFor(drive)};

  firmware::PreparedFileSet prepared;  // every length 0 without files
  api::GlobalLockGuard lock;
  status = media::CheckProgrammingCall(&state, flashTypes, drive, files);
  if (status != PROGRAM_MEDIA_DONE) return status;
  if (writeFiles != 0) {
    firmware::PrepareStatus prepare = firmware::PrepareFiles(
        type, {fileData, fileLengths, prefixData, prefixLengths}, *files, prepared);
    if (prepare != firmware::PrepareStatus::kDone)
      return static_cast<PROGRAM_MEDIA_STATUS>(prepare);
  }
  if (!firmware::PreparedFilesFit(type, prepared)) {
    os::TraceFailure("full format: the files do not fit the reserved area (or none is configured)");
    return PROGRAM_MEDIA_NO_ROOM;
  }
  api::LibraryProgress progress(context.Progress(), event);
  return media::FullFormat(area, prepared, writeFiles != 0, progress);
}

}  // extern "C"
