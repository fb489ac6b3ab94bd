// The version words of the firmware stored on the player.
//
// The programming stores each file's four version words in redundant bytes
// 6-7 of pages 2 to 5 of the file's first block in the reserved area.  The
// query scans the flash, recognises which system blocks hold which file by
// the marks of their first two pages, and reads the words back.
#include "media/firmware_version.h"

#include "firmware/file_set.h"
#include "firmware/reserved_area.h"
#include "media/block_status.h"
#include "media/update_recovery.h"
#include "platform/trace.h"
#include "protocol/flash_commands.h"
#include "protocol/media_state.h"
#include "protocol/system_block_tag.h"
#include "transport/control_requests.h"
#include "transport/session.h"

namespace orvik::media {
namespace {

using protocol::DriveMediaState;
using protocol::FlashTypeDescriptor;

// Gives every system block that carries a listed file's marks that file's
// marker.  A block whose first pages cannot be read keeps its entry; when
// the device has stopped answering altogether, the walk stops (false)
// rather than wait out the transfer limit once per system block.
bool RecognizeFileBlocks(const protocol::FlashDrive& drive, const FlashTypeDescriptor& type,
                         const _BinaryFilesInformation& files) {
  DriveMediaState& state = *drive.state;
  for (uint32_t block = state.cisBlock + 1; block < type.blockCount; ++block) {
    if (state.blockStatus[block] != BLOCK_SYSTEM) continue;
    if (!protocol::FlashReadPages(nullptr, 2, block * type.BlockBytes(), type.pageSize,
                                  type.dataSize, drive)) {
      os::TraceFailure("version query: reading the marks of block %u failed: %s", block,
                       transport::LastFailureCause());
      if (transport::DeviceStoppedAnswering()) return false;
      continue;
    }
    const protocol::SystemBlockMarks marks =
        protocol::ReadSystemBlockMarks(state.pageBuffer.data(), type.pageSize, type.dataSize);
    if (!marks.systemMark || !marks.fileMark) continue;
    for (uint32_t file = 0; file < files.fileCount; ++file) {
      if (files.fileTags[file] == marks.tag) {
        state.blockStatus[block] = firmware::MarkerForTag(marks.tag);
        state.tableFresh = false;
        break;
      }
    }
  }
  return true;
}

// Reads pair A (pages 2, 3) and pair B (pages 4, 5) of the first block of
// the reserved area that carries the marker.
bool ReadStoredVersionWords(const protocol::FlashDrive& drive, const FlashTypeDescriptor& type,
                            uint8_t marker, unsigned short (&pairA)[2],
                            unsigned short (&pairB)[2]) {
  DriveMediaState& state = *drive.state;
  for (uint32_t block = state.firstReservedBlock; block < type.blockCount; ++block) {
    if (state.blockStatus[block] != marker) continue;
    uint32_t address = (block * type.pagesPerBlock + 2) * type.dataSize;
    if (!protocol::FlashReadPages(nullptr, 4, address, type.pageSize, type.dataSize, drive))
      return false;
    pairA[0] = protocol::SpareAddressWord(state.pageBuffer.data(), type, 0);
    pairA[1] = protocol::SpareAddressWord(state.pageBuffer.data(), type, 1);
    pairB[0] = protocol::SpareAddressWord(state.pageBuffer.data(), type, 2);
    pairB[1] = protocol::SpareAddressWord(state.pageBuffer.data(), type, 3);
    return true;
  }
  return false;
}

void ClearDeviceVersion(_BinaryFilesInformation& files, uint32_t file) {
  files.deviceVersionA[file][0] = files.deviceVersionA[file][1] = 0;
  files.deviceVersionB[file][0] = files.deviceVersionB[file][1] = 0;
}

}  // namespace

PROGRAM_MEDIA_STATUS ReadFirmwareVersions(const protocol::FlashDrive& drive, uint32_t flashType,
                                          _BinaryFilesInformation& files,
                                          protocol::ProgressTarget& progress) {
  ORVIK_ULONG version = 0;
  if (!transport::GetDeviceVersion(&version)) {
    os::TraceFailure("version query: the device-version request failed");
    return PROGRAM_MEDIA_NO_DEVICE;
  }
  if (!ScanBlockStatus(drive, flashType, files, progress)) return PROGRAM_MEDIA_NO_DEVICE;
  DriveMediaState& state = *drive.state;
  const FlashTypeDescriptor& type = *protocol::FlashTypeFor(flashType);
  if (!RecognizeFileBlocks(drive, type, files)) return PROGRAM_MEDIA_NO_DEVICE;
  if (state.mediaKind != protocol::MEDIA_KIND_FLASH) return PROGRAM_MEDIA_SYSTEM_MISMATCH;
  uint32_t reserved = firmware::ReadReservedBlockCount(type.dataSize, type.pagesPerBlock);
  if (state.systemBlockCount != reserved) {
    os::TraceFailure("version query: %u system blocks at the top of the flash, %u reserved",
                     state.systemBlockCount, reserved);
    return PROGRAM_MEDIA_SYSTEM_MISMATCH;
  }
  for (uint32_t file = 0; file < files.fileCount; ++file) {
    uint8_t marker = firmware::MarkerForTag(files.fileTags[file]);
    unsigned short pairA[2] = {};
    unsigned short pairB[2] = {};
    if (!ReadStoredVersionWords(drive, type, marker, pairA, pairB)) {
      ClearDeviceVersion(files, file);
      os::TraceFailure("version query: no readable version block for file %u (tag 0x%02X)", file,
                       files.fileTags[file]);
      return transport::DeviceStoppedAnswering() ? PROGRAM_MEDIA_NO_DEVICE
                                                 : PROGRAM_MEDIA_WRITE_FAILED;
    }
    files.deviceVersionA[file][0] = pairA[0];
    files.deviceVersionA[file][1] = pairA[1];
    files.deviceVersionB[file][0] = pairB[0];
    files.deviceVersionB[file][1] = pairB[1];
  }
  // An update cut off while it rewrote the low system blocks leaves the
  // reserved area's words as they were: the startup copy is not whole, so
  // file 0 is not reported as stored.
  SystemArea area{state, type, files, drive};
  if (StartupCopyIncomplete(area)) {
    ClearDeviceVersion(files, 0);
    os::TraceFailure(
        "version query: the startup copy of file 0 in the low system blocks is not whole");
    return PROGRAM_MEDIA_WRITE_FAILED;
  }
  return PROGRAM_MEDIA_DONE;
}

}  // namespace orvik::media
