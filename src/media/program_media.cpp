// The firmware update: new firmware files into the existing system area.
#include "api/global_lock.h"
#include "api/progress.h"
#include "firmware/file_set.h"
#include "media/block_status.h"
#include "media/system_area.h"
#include "media/update_recovery.h"
#include "orvik/orvik.h"
#include "platform/trace.h"
#include "transport/control_requests.h"

using namespace orvik;
using media::SystemArea;

namespace {

PROGRAM_MEDIA_STATUS WriteFirmware(const SystemArea& area,
                                   const firmware::PreparedFileSet& prepared,
                                   const media::RepairPlan& plan, void* event) {
  const _BinaryFilesInformation& files = area.files;
  api::SetPhase(ORVIK_PHASE_FIRMWARE, 0.0, event);
  media::FirmwareProgress progress = media::PlanFirmwareProgress(area, prepared);
  uint32_t cursor = 0;
  uint8_t firstMarker = firmware::MarkerForTag(files.fileTags[0]);
  if (!media::WriteStartupCopy(area, prepared, &cursor, progress) ||
      !media::RemarkUnusedLowBlocks(area, plan, cursor, firstMarker) ||
      !media::WriteReservedCopies(area, prepared, &cursor, progress))
    return PROGRAM_MEDIA_WRITE_FAILED;
  api::SetPhase(ORVIK_PHASE_FIRMWARE, 100.0, event);
  api::SetPhase(ORVIK_PHASE_SYSTEM_LAYOUT, 0.0, event);
  uint8_t lastMarker = firmware::MarkerForTag(files.fileTags[files.fileCount - 1]);
  if (!media::ClearUnusedSystemBlocks(area, cursor, lastMarker)) return PROGRAM_MEDIA_WRITE_FAILED;
  api::SetPhase(ORVIK_PHASE_SYSTEM_LAYOUT, 100.0, event);
  return PROGRAM_MEDIA_DONE;
}

}  // namespace

namespace orvik::media {

PROGRAM_MEDIA_STATUS ProgramMedia(ORVIK_ULONG* flashTypes, unsigned char drive,
                                  unsigned char** const fileData, ORVIK_ULONG* const fileLengths,
                                  unsigned char** const prefixData,
                                  ORVIK_ULONG* const prefixLengths, _BinaryFilesInformation* files,
                                  void* event, const ProgramOptions& options) {
  PROGRAM_MEDIA_STATUS status = CheckProgrammingArguments(flashTypes, drive, files);
  if (status != PROGRAM_MEDIA_DONE) return status;
  protocol::DriveMediaState& state = *protocol::MediaStateFor(drive);
  const protocol::FlashTypeDescriptor& type = *protocol::FlashTypeFor(flashTypes[drive]);
  SystemArea area{state, type, *files};

  firmware::PreparedFileSet prepared;  // releases every write buffer on return
  api::GlobalLockGuard lock;
  status = CheckProgrammingCall(flashTypes, drive, files);
  if (status != PROGRAM_MEDIA_DONE) return status;
  firmware::PrepareStatus prepare = firmware::PrepareFiles(
      type, {fileData, fileLengths, prefixData, prefixLengths}, *files, prepared);
  if (prepare != firmware::PrepareStatus::kDone) return static_cast<PROGRAM_MEDIA_STATUS>(prepare);
  if (!firmware::PreparedFilesFit(type, prepared)) {
    os::TraceFailure("update: the files do not fit the reserved area (or none is configured)");
    return PROGRAM_MEDIA_NO_ROOM;
  }
  ORVIK_ULONG version = 0;
  if (!transport::GetDeviceVersion(&version)) {
    os::TraceFailure("update: the device-version request failed; nothing was written");
    return PROGRAM_MEDIA_NO_DEVICE;
  }
  // A table changed since the scan (a version query's file markers, an
  // earlier programming call) would send files to blocks chosen from stale
  // entries: the marks are read again first.
  if (!state.tableFresh) {
    // After a scan that failed part-way there is nothing sound to read
    // again from: the update refuses as the unfinished count makes it.
    if (!state.scanComplete) {
      os::TraceFailure("update: the last block scan did not finish; nothing was written");
      return PROGRAM_MEDIA_SYSTEM_MISMATCH;
    }
    if (!RereadBlockMarks(drive, *files)) return PROGRAM_MEDIA_NO_DEVICE;
  }
  RepairPlan plan;
  if (!PrepareUpdate(area, options.assumeLaidOutReservation, &plan))
    return PROGRAM_MEDIA_SYSTEM_MISMATCH;
  state.tableFresh = false;  // the writers put file markers into the table
  return WriteFirmware(area, prepared, plan, event);
}

}  // namespace orvik::media

extern "C" {

ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikProgramPelkMedia(
    ORVIK_ULONG* flashTypes, unsigned char drive, unsigned char** const fileData,
    ORVIK_ULONG* const fileLengths, unsigned char** const prefixData,
    ORVIK_ULONG* const prefixLengths, _BinaryFilesInformation* files, void* event) {
  return media::ProgramMedia(flashTypes, drive, fileData, fileLengths, prefixData, prefixLengths,
                             files, event, media::ProgramOptions{});
}

}  // extern "C"
