// The version words of the firmware stored on the player.
//
// The programming stores each file's four version words in redundant bytes
// 6-7 of pages 2 to 5 of the file's first block in the reserved area.  The
// query scans the flash, recognises which system blocks hold which file by
// the marks of their first two pages, and reads the words back.
#include "api/global_lock.h"
#include "api/reservation.h"
#include "firmware/file_set.h"
#include "media/block_status.h"
#include "media/update_recovery.h"
#include "orvik/orvik.h"
#include "platform/trace.h"
#include "protocol/byte_order.h"
#include "protocol/flash_commands.h"
#include "protocol/media_state.h"
#include "transport/control_requests.h"
#include "transport/session.h"

using namespace orvik;
using protocol::DriveMediaState;
using protocol::FlashTypeDescriptor;

namespace {

uint16_t SpareWord(const uint8_t* pageBuffer, const FlashTypeDescriptor& type, uint32_t page) {
  const uint8_t* spare = pageBuffer + page * type.pageSize + type.dataSize;
  return static_cast<uint16_t>(spare[protocol::kSpareAddress1] | spare[protocol::kSpareAddress1 + 1]
                                                                     << 8);
}

// Gives every system block that carries a listed file's marks that file's
// marker.  A block whose first pages cannot be read keeps its entry; when
// the device has stopped answering altogether, the walk stops (false)
// rather than wait out the transfer limit once per system block.
bool RecognizeFileBlocks(DriveMediaState& state, const FlashTypeDescriptor& type,
                         const _BinaryFilesInformation& files) {
  for (uint32_t block = state.cisBlock + 1; block < type.blockCount; ++block) {
    if (state.blockStatus[block] != media::BLOCK_SYSTEM) continue;
    if (!protocol::FlashReadPages(nullptr, 2, block * type.BlockBytes(), type.pageSize,
                                  type.dataSize, 0)) {
      os::TraceFailure("version query: reading the marks of block %u failed: %s", block,
                       transport::LastFailureCause());
      if (transport::DeviceStoppedAnswering()) return false;
      continue;
    }
    if (SpareWord(state.pageBuffer, type, 0) != protocol::SYSTEM_MARK) continue;
    uint16_t fileMark = SpareWord(state.pageBuffer, type, 1);
    if ((fileMark & 0xFF) != protocol::FILE_MARK) continue;
    uint8_t tag = static_cast<uint8_t>(fileMark >> 8);
    for (uint32_t file = 0; file < files.fileCount; ++file) {
      if (files.fileTags[file] == tag) {
        state.blockStatus[block] = firmware::MarkerForTag(tag);
        state.tableFresh = false;
        break;
      }
    }
  }
  return true;
}

// Reads pair A (pages 2, 3) and pair B (pages 4, 5) of the first block of
// the reserved area that carries the marker.
bool ReadStoredVersionWords(DriveMediaState& state, const FlashTypeDescriptor& type, uint8_t marker,
                            unsigned short (&pairA)[2], unsigned short (&pairB)[2]) {
  for (uint32_t block = state.firstReservedBlock; block < type.blockCount; ++block) {
    if (state.blockStatus[block] != marker) continue;
    uint32_t address = (block * type.pagesPerBlock + 2) * type.dataSize;
    if (!protocol::FlashReadPages(nullptr, 4, address, type.pageSize, type.dataSize, 0))
      return false;
    pairA[0] = SpareWord(state.pageBuffer, type, 0);
    pairA[1] = SpareWord(state.pageBuffer, type, 1);
    pairB[0] = SpareWord(state.pageBuffer, type, 2);
    pairB[1] = SpareWord(state.pageBuffer, type, 3);
    return true;
  }
  return false;
}

void ClearDeviceVersion(_BinaryFilesInformation& files, uint32_t file) {
  files.deviceVersionA[file][0] = files.deviceVersionA[file][1] = 0;
  files.deviceVersionB[file][0] = files.deviceVersionB[file][1] = 0;
}

PROGRAM_MEDIA_STATUS ReadFirmwareVersions(uint32_t flashType, _BinaryFilesInformation& files) {
  ORVIK_ULONG version = 0;
  if (!transport::GetDeviceVersion(&version)) {
    os::TraceFailure("version query: the device-version request failed");
    return PROGRAM_MEDIA_NO_DEVICE;
  }
  if (!media::ScanBlockStatus(flashType, 0, files)) return PROGRAM_MEDIA_NO_DEVICE;
  DriveMediaState& state = *protocol::MediaStateFor(0);
  const FlashTypeDescriptor& type = *protocol::FlashTypeFor(flashType);
  if (!RecognizeFileBlocks(state, type, files)) return PROGRAM_MEDIA_NO_DEVICE;
  if (state.mediaKind != protocol::MEDIA_KIND_FLASH) return PROGRAM_MEDIA_SYSTEM_MISMATCH;
  uint32_t reserved = api::ReadReservedBlockCount(type.dataSize, type.pagesPerBlock);
  if (state.systemBlockCount != reserved) {
    os::TraceFailure("version query: %u system blocks at the top of the flash, %u reserved",
                     state.systemBlockCount, reserved);
    return PROGRAM_MEDIA_SYSTEM_MISMATCH;
  }
  for (uint32_t file = 0; file < files.fileCount; ++file) {
    uint8_t marker = firmware::MarkerForTag(files.fileTags[file]);
    unsigned short pairA[2] = {};
    unsigned short pairB[2] = {};
    if (!ReadStoredVersionWords(state, type, marker, pairA, pairB)) {
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
  media::SystemArea area{state, type, files};
  if (media::StartupCopyIncomplete(area)) {
    ClearDeviceVersion(files, 0);
    os::TraceFailure(
        "version query: the startup copy of file 0 in the low system blocks is not whole");
    return PROGRAM_MEDIA_WRITE_FAILED;
  }
  return PROGRAM_MEDIA_DONE;
}

}  // namespace

extern "C" {

ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikGetFirmwareVersion(ORVIK_ULONG* flashTypes,
                                                                  unsigned char drive,
                                                                  _BinaryFilesInformation* files) {
  // Only drive 0 is the internal flash; its entry is the only one read.
  if (protocol::MediaStateFor(drive) == nullptr) {
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
  return ReadFirmwareVersions(flashTypes[drive], *files);
}

}  // extern "C"
