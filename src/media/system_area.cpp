// Writing the firmware system area.
#include "media/system_area.h"

#include <algorithm>
#include <cstring>

#include "firmware/file_set.h"
#include "firmware/reserved_area.h"
#include "media/block_status.h"
#include "platform/page_buffer.h"
#include "platform/trace.h"
#include "protocol/flash_commands.h"
#include "transport/session.h"

namespace orvik::media {
namespace {

uint32_t BlockAddress(const protocol::FlashTypeDescriptor& type, uint32_t block) {
  return block * type.BlockBytes();
}

// Erases a block; a request that gets no answer, or a device that reports
// failure, leaves it marked bad.
bool EraseOrRetire(const SystemArea& area, uint32_t block) {
  uint32_t status = 0;
  bool sent = protocol::FlashEraseBlock(BlockAddress(area.type, block), area.type.pagesPerBlock,
                                        area.drive, &status, nullptr);
  if (sent && status == 0) return true;
  area.state.blockStatus[block] = BLOCK_BAD;
  if (sent) {
    os::TraceFailure("firmware write: the device could not erase system block %u (status 0x%X)",
                     block, status);
  } else {
    os::TraceFailure("firmware write: erasing system block %u failed: %s", block,
                     transport::LastFailureCause());
  }
  return false;
}

bool TraceTransfer(const char* step, uint32_t block) {
  os::TraceFailure("firmware write: %s block %u failed: %s", step, block,
                   transport::LastFailureCause());
  return false;
}

// The lowest block the system-area writers may touch: never the CIS block
// or anything in front of it.
uint32_t FirstWritableBlock(const SystemArea& area) { return area.state.cisBlock + 1; }

}  // namespace

protocol::PageMarking SystemMarking(const _BinaryFilesInformation& files, uint8_t marker) {
  const uint8_t tag = firmware::TagForMarker(marker);
  const uint32_t count = std::min<uint32_t>(files.fileCount, MAX_FILES);
  const bool listed =
      std::find(files.fileTags, files.fileTags + count, tag) != files.fileTags + count;
  protocol::PageMarking marking;
  marking.systemMode = true;
  marking.fileTag = listed ? tag : 0xFF;
  return marking;
}

PROGRAM_MEDIA_STATUS CheckProgrammingArguments(const protocol::DriveMediaState* state,
                                               const ORVIK_ULONG* flashTypes, uint8_t drive,
                                               const _BinaryFilesInformation* files) {
  if (state == nullptr || state->mediaKind != protocol::MEDIA_KIND_FLASH || flashTypes == nullptr ||
      flashTypes[drive] > protocol::kLastFlashType) {
    os::TraceFailure("firmware write: drive %u is not the internal flash or its type is unknown",
                     drive);
    return PROGRAM_MEDIA_NOT_FLASH;
  }
  if (!firmware::ValidateFileSet(files)) {
    os::TraceFailure("firmware write: the file set record is refused (count, tags or low file)");
    return PROGRAM_MEDIA_BAD_FILE;
  }
  return PROGRAM_MEDIA_DONE;
}

PROGRAM_MEDIA_STATUS CheckProgrammingCall(const protocol::DriveMediaState* state,
                                          const ORVIK_ULONG* flashTypes, uint8_t drive,
                                          const _BinaryFilesInformation* files) {
  PROGRAM_MEDIA_STATUS status = CheckProgrammingArguments(state, flashTypes, drive, files);
  if (status != PROGRAM_MEDIA_DONE) return status;
  if (state->blockStatus.empty() || state->pageBuffer.empty()) {
    os::TraceFailure("firmware write: no block status table: scan the flash first");
    return PROGRAM_MEDIA_NO_DEVICE;
  }
  if (state->flashType != flashTypes[drive]) {
    os::TraceFailure("firmware write: flash type %u given, the last scan was of type %u",
                     static_cast<unsigned>(flashTypes[drive]), state->flashType);
    return PROGRAM_MEDIA_NOT_FLASH;
  }
  return PROGRAM_MEDIA_DONE;
}

bool SystemAreaMatchesReserve(const SystemArea& area) {
  return firmware::ReadReservedBlockCount(area.type.dataSize, area.type.pagesPerBlock) ==
         area.state.systemBlockCount;
}

void FirmwareProgress::BlockWritten() {
  ++written_;
  double percent =
      planned_ == 0 ? 100.0 : 100.0 * static_cast<double>(written_) / static_cast<double>(planned_);
  target_.Store(std::min(percent, 100.0));
}

uint64_t FileBlocks(const firmware::PreparedFile& file, const protocol::FlashTypeDescriptor& type) {
  uint64_t pages = (file.lengthToWrite + type.dataSize - 1) / type.dataSize;
  return (pages + type.pagesPerBlock - 1) / type.pagesPerBlock;
}

bool WriteSystemFile(const SystemArea& area, const firmware::PreparedFile& file, uint8_t marker,
                     uint32_t* cursor, FirmwareProgress& progress) {
  if (file.buffer.empty() || file.lengthToWrite == 0) return true;
  const protocol::FlashTypeDescriptor& type = area.type;
  uint8_t* table = area.state.blockStatus.data();
  uint64_t pages = (file.lengthToWrite + type.dataSize - 1) / type.dataSize;
  uint64_t blocks = FileBlocks(file, type);
  uint32_t lastPages = static_cast<uint32_t>(pages % type.pagesPerBlock);
  if (lastPages == 0) lastPages = type.pagesPerBlock;

  os::PageBuffer readBack;
  os::PageBuffer zeros;
  if (!readBack.Allocate(type.RawBlockBytes()) || !zeros.Allocate(2u * type.dataSize)) {
    os::TraceFailure("firmware write: no memory for the read-back buffers");
    return false;
  }
  protocol::PageMarking marking = SystemMarking(area.files, marker);
  protocol::PageMarking retired;
  retired.zeroSpare = true;

  for (uint64_t i = 0; i < blocks; ++i) {
    const uint8_t* source = file.buffer.data() + i * type.BlockBytes();
    // Every block of a file carries its file mark on page 1, so a last
    // block of a single page is written with two.
    uint32_t count = i + 1 < blocks ? type.pagesPerBlock : std::max<uint32_t>(lastPages, 2);
    for (;;) {
      while (*cursor < type.blockCount && table[*cursor] != BLOCK_SYSTEM) ++*cursor;
      if (*cursor >= type.blockCount) {
        os::TraceFailure("firmware write: no system block left for data block %llu of tag 0x%02X",
                         static_cast<unsigned long long>(i), firmware::TagForMarker(marker));
        return false;
      }
      uint32_t block = *cursor;
      uint32_t address = BlockAddress(type, block);
      if (!EraseOrRetire(area, block)) return false;
      if (!protocol::FlashWritePages(source, count, address, type.pageSize, type.dataSize, marking,
                                     area.drive))
        return TraceTransfer("writing", block);
      if (!protocol::FlashReadPages(readBack.data(), count, address, type.pageSize, type.dataSize,
                                    area.drive))
        return TraceTransfer("reading back", block);
      ++*cursor;
      if (std::memcmp(readBack.data(), source, size_t{count} * type.dataSize) == 0) {
        table[block] = marker;
        progress.BlockWritten();
        break;
      }
      // The block does not keep what was written: retire it so that every
      // later scan finds it bad, and write the same data into the next one.
      if (!EraseOrRetire(area, block)) return false;
      if (!protocol::FlashWritePages(zeros.data(), 2, address, type.pageSize, type.dataSize,
                                     retired, area.drive))
        return TraceTransfer("retiring", block);
      table[block] = BLOCK_BAD;
    }
  }
  return true;
}

bool WriteFileVersionWords(const SystemArea& area, uint8_t marker,
                           const firmware::VersionWords& words) {
  const protocol::FlashTypeDescriptor& type = area.type;
  uint32_t first = std::max(area.state.firstReservedBlock, FirstWritableBlock(area));
  for (uint32_t block = first; block < type.blockCount; ++block) {
    if (area.state.blockStatus[block] != marker) continue;
    const uint16_t values[4] = {words.a[0], words.a[1], words.b[0], words.b[1]};
    for (uint32_t k = 0; k < 4; ++k) {
      uint32_t page = block * type.pagesPerBlock + 2 + k;
      if (!protocol::FlashWriteTagPage(page * type.dataSize, type.pageSize, type.dataSize,
                                       values[k], area.drive))
        return TraceTransfer("writing the version words of", block);
    }
    return true;
  }
  os::TraceFailure("firmware write: no block of tag 0x%02X in the reserved area for its version",
                   firmware::TagForMarker(marker));
  return false;
}

FirmwareProgress PlanFirmwareProgress(const SystemArea& area,
                                      const firmware::PreparedFileSet& prepared,
                                      protocol::ProgressTarget& target) {
  uint64_t planned = FileBlocks(prepared[0], area.type);
  for (uint32_t file = 0; file < area.files.fileCount; ++file)
    planned += FileBlocks(prepared[file], area.type);
  return FirmwareProgress(planned, target);
}

bool WriteStartupCopy(const SystemArea& area, const firmware::PreparedFileSet& prepared,
                      uint32_t* cursor, FirmwareProgress& progress) {
  *cursor = 0;
  uint8_t marker = firmware::MarkerForTag(area.files.fileTags[0]);
  return WriteSystemFile(area, prepared[0], marker, cursor, progress) &&
         WriteFileVersionWords(area, marker, prepared[0].version);
}

bool WriteReservedCopies(const SystemArea& area, const firmware::PreparedFileSet& prepared,
                         uint32_t* cursor, FirmwareProgress& progress) {
  // A first copy that ran past block 100 must not be overwritten by the
  // second copies.
  if (*cursor < SECOND_COPY_START_BLOCK) *cursor = SECOND_COPY_START_BLOCK;
  for (uint32_t file = 0; file < area.files.fileCount; ++file) {
    if (prepared[file].lengthToWrite == 0) continue;
    uint8_t marker = firmware::MarkerForTag(area.files.fileTags[file]);
    if (!WriteSystemFile(area, prepared[file], marker, cursor, progress) ||
        !WriteFileVersionWords(area, marker, prepared[file].version))
      return false;
  }
  return true;
}

bool WriteFirmwareCopies(const SystemArea& area, const firmware::PreparedFileSet& prepared,
                         uint32_t* cursor, protocol::ProgressTarget& target) {
  FirmwareProgress progress = PlanFirmwareProgress(area, prepared, target);
  return WriteStartupCopy(area, prepared, cursor, progress) &&
         WriteReservedCopies(area, prepared, cursor, progress);
}

bool ClearUnusedSystemBlocks(const SystemArea& area, uint32_t start, uint8_t marker,
                             protocol::ProgressTarget& progress) {
  const protocol::FlashTypeDescriptor& type = area.type;
  start = std::max({start, area.state.firstReservedBlock, FirstWritableBlock(area)});
  if (start < type.blockCount) {
    os::PageBuffer erased;
    if (!erased.Allocate(type.BlockBytes())) {
      os::TraceFailure("firmware write: no memory to clear the unused system blocks");
      return false;
    }
    std::memset(erased.data(), 0xFF, erased.size());
    double step = 100.0 / (type.blockCount - start);
    protocol::PageMarking marking = SystemMarking(area.files, marker);
    for (uint32_t block = start; block < type.blockCount; ++block) {
      if (area.state.blockStatus[block] == BLOCK_BAD) continue;
      uint32_t status = 0;
      uint32_t address = BlockAddress(type, block);
      // The device's erase status is not consulted here: the block is
      // rewritten with marks either way and the next scan judges it.
      if (!protocol::FlashEraseBlock(address, type.pagesPerBlock, area.drive, &status, nullptr)) {
        area.state.blockStatus[block] = BLOCK_BAD;
        if (transport::DeviceStoppedAnswering()) {
          progress.AddClamped(100.0);
          return TraceTransfer("erasing unused", block);
        }
      }
      if (!protocol::FlashWritePages(erased.data(), type.pagesPerBlock, address, type.pageSize,
                                     type.dataSize, marking, area.drive)) {
        progress.AddClamped(100.0);
        return TraceTransfer("clearing", block);
      }
      progress.AddClamped(step);
    }
  }
  progress.AddClamped(100.0);
  return true;
}

}  // namespace orvik::media
