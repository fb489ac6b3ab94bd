// The firmware update: new firmware files into the existing system area.
#include "media/firmware_update.h"

#include "firmware/file_set.h"
#include "media/block_status.h"
#include "media/update_recovery.h"
#include "platform/trace.h"
#include "transport/control_requests.h"

namespace orvik::media {
namespace {

PROGRAM_MEDIA_STATUS WriteFirmware(const SystemArea& area,
                                   const firmware::PreparedFileSet& prepared,
                                   const RepairPlan& plan, protocol::ProgressTarget& progress) {
  const _BinaryFilesInformation& files = area.files;
  progress.Announce(ORVIK_PHASE_FIRMWARE, 0.0);
  FirmwareProgress blocks = PlanFirmwareProgress(area, prepared, progress);
  uint32_t cursor = 0;
  uint8_t firstMarker = firmware::MarkerForTag(files.fileTags[0]);
  if (!WriteStartupCopy(area, prepared, &cursor, blocks) ||
      !RemarkUnusedLowBlocks(area, plan, cursor, firstMarker) ||
      !WriteReservedCopies(area, prepared, &cursor, blocks))
    return PROGRAM_MEDIA_WRITE_FAILED;
  progress.Announce(ORVIK_PHASE_FIRMWARE, 100.0);
  progress.Announce(ORVIK_PHASE_SYSTEM_LAYOUT, 0.0);
  uint8_t lastMarker = firmware::MarkerForTag(files.fileTags[files.fileCount - 1]);
  if (!ClearUnusedSystemBlocks(area, cursor, lastMarker, progress))
    return PROGRAM_MEDIA_WRITE_FAILED;
  progress.Announce(ORVIK_PHASE_SYSTEM_LAYOUT, 100.0);
  return PROGRAM_MEDIA_DONE;
}

}  // namespace

PROGRAM_MEDIA_STATUS UpdateFirmware(const SystemArea& area,
                                    const firmware::PreparedFileSet& prepared,
                                    bool assumeLaidOutReservation,
                                    protocol::ProgressTarget& progress) {
  ORVIK_ULONG version = 0;
  if (!transport::GetDeviceVersion(&version)) {
    os::TraceFailure("update: the device-version request failed; nothing was written");
    return PROGRAM_MEDIA_NO_DEVICE;
  }
  // A table changed since the scan (a version query's file markers, an
  // earlier programming call) would send files to blocks chosen from stale
  // entries: the marks are read again first.
  if (!area.state.tableFresh) {
    // After a scan that failed part-way there is nothing sound to read
    // again from: the update refuses as the unfinished count makes it.
    if (!area.state.scanComplete) {
      os::TraceFailure("update: the last block scan did not finish; nothing was written");
      return PROGRAM_MEDIA_SYSTEM_MISMATCH;
    }
    if (!RereadBlockMarks(area.drive, area.files)) return PROGRAM_MEDIA_NO_DEVICE;
  }
  RepairPlan plan;
  if (!PrepareUpdate(area, assumeLaidOutReservation, &plan)) return PROGRAM_MEDIA_SYSTEM_MISMATCH;
  area.state.tableFresh = false;  // the writers put file markers into the table
  return WriteFirmware(area, prepared, plan, progress);
}

}  // namespace orvik::media
