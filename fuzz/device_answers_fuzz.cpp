// Fuzzes what the player answers: flash replies, block marks, the device
// description, card registers and the driver's control answers reach the
// opens, the control queries, the flash and card queries, the block status
// scan, the version query and the firmware update through an in-process
// device that answers from the input (see answer_device.h).
//
// Input: byte 0 chooses the operations (one bit each), byte 1 the flash
// type, byte 2 the reservation, byte 3 tracing; the rest are the answers.
// Besides the sanitizers, the target checks that no malformed answer is
// taken for success: a control answer shorter than its record fails and
// leaves the output alone, a scan's table holds only scan values and its
// counts stay within the flash, an update that succeeds had no failed
// transfer outside an erase, and every page and event is given back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "answer_device.h"
#include "api/library_context.h"
#include "firmware/file_set.h"
#include "firmware/reserved_area.h"
#include "fuzz_check.h"
#include "fuzz_os.h"
#include "media/block_status.h"
#include "orvik/orvik.h"
#include "protocol/flash_types.h"
#include "protocol/media_state.h"

using namespace orvik;
using namespace orvik::fuzzing;

namespace {

enum Operation : uint8_t {
  kControls = 1 << 0,
  kChipAndFlash = 1 << 1,
  kCard = 1 << 2,
  kScan = 1 << 3,
  kVersionQuery = 1 << 4,
  kUpdate = 1 << 5,
  kBlockingOpen = 1 << 6,
};

constexpr uint32_t kFlashTypes[8] = {0, 0, 1, 2, 3, 36, 0, 0};
constexpr uint32_t kSentinel = 0xA5A5A5A5;

// Two small raw files that end with a "Version" trailer.
class FileSet {
 public:
  FileSet() {
    std::memset(&record_, 0, sizeof record_);
    record_.fileCount = 2;
    record_.lowAreaFile = 1;
    const uint8_t tags[2] = {'P', 'R'};
    for (int file = 0; file < 2; ++file) {
      record_.fileTags[file] = tags[file];
      record_.fileKinds[file] = FILE_KIND_RAW;
      std::vector<uint8_t>& content = contents_[file];
      content.assign(600 + 300 * static_cast<size_t>(file), static_cast<uint8_t>(0x30 + file));
      const char trailer[] = "Version";
      content.insert(content.end(), trailer, trailer + 7);
      for (uint8_t word = 1; word <= 4; ++word) {
        content.push_back(static_cast<uint8_t>(word + file));
        content.push_back(0);
      }
      data_[file] = content.data();
      lengths_[file] = static_cast<ORVIK_ULONG>(content.size());
    }
  }
  _BinaryFilesInformation& Record() { return record_; }
  PROGRAM_MEDIA_STATUS Program(ORVIK_ULONG* types) {
    return OrvikProgramPelkMedia(types, 0, data_, lengths_, prefixData_, prefixLengths_, &record_,
                                 nullptr);
  }

 private:
  _BinaryFilesInformation record_;
  std::vector<uint8_t> contents_[2];
  unsigned char* data_[2] = {};
  ORVIK_ULONG lengths_[2] = {};
  unsigned char* prefixData_[2] = {};
  ORVIK_ULONG prefixLengths_[2] = {};
};

bool ControlGaveWhole(const AnswerLog& log, uint32_t size) {
  return log.controlError == 0 && log.controlCount >= size;
}

void FuzzControls(AnswerLog& log) {
  _USER_DATA record;
  std::memset(&record, 0xA5, sizeof record);
  log.Reset();
  int got = OrvikGetStatus(&record);
  FUZZ_CHECK((got == 1) == ControlGaveWhole(log, sizeof record));
  if (got == 0) FUZZ_CHECK(record.ownerFlag == kSentinel && record.reservedWord == kSentinel);

  log.Reset();
  DEVICE_STATUS status = OrvikGetDeviceStatus();
  if (log.controlError != 0 || (log.controlCount > 0 && log.controlCount < 4))
    FUZZ_CHECK(status == DEVICE_STATUS_FAILED);
  else if (log.controlCount == 0)
    FUZZ_CHECK(status == DEVICE_STATUS_NO_DATA);
  else
    FUZZ_CHECK(status == DEVICE_STATUS_NORMAL || status == DEVICE_STATUS_RECOVERY);

  ORVIK_ULONG version = kSentinel;
  log.Reset();
  got = OrvikGetDeviceVersion(&version);
  FUZZ_CHECK((got == 1) == ControlGaveWhole(log, 4));
  if (got == 0) FUZZ_CHECK(version == kSentinel);

  version = kSentinel;
  log.Reset();
  got = OrvikDDGetDeviceVersion(&version);
  FUZZ_CHECK((got == 1) == ControlGaveWhole(log, 4));
  if (got == 0) FUZZ_CHECK(version == kSentinel);

  log.Reset();
  ORVIK_ULONG chip = OrvikGetChipId(0);
  if (!ControlGaveWhole(log, 4)) FUZZ_CHECK(chip == DEFAULT_CHIP_ID);

  ORVIK_ULONG power = kSentinel;
  log.Reset();
  ACCESS_DEVICE_STATUS answered = OrvikGetPowerStatus(&power);
  FUZZ_CHECK((answered == ACCESS_DEVICE_ANSWERED) == (log.allFull && log.transfers == 2));
  if (answered != ACCESS_DEVICE_ANSWERED) FUZZ_CHECK(power == kSentinel);
}

void FuzzChipAndFlash(AnswerLog& log) {
  ORVIK_ULONG model = OrvikGetChipId(1);
  FUZZ_CHECK(model == CHIP_MODEL_EARLY || model == CHIP_MODEL_LATER);

  ORVIK_ULONG type = kSentinel;
  ORVIK_ULONG failed = kSentinel;
  log.Reset();
  ACCESS_DEVICE_STATUS answered = OrvikGetFlashSizes(&type, &failed);
  FUZZ_CHECK((answered == ACCESS_DEVICE_ANSWERED) == (log.allFull && log.transfers == 2));
  FUZZ_CHECK(failed == (answered == ACCESS_DEVICE_ANSWERED ? 0u : 1u));
  if (answered == ACCESS_DEVICE_ANSWERED) FUZZ_CHECK(type <= FLASH_TYPE_UNKNOWN);
}

void FuzzCard(AnswerLog& log) {
  ORVIK_ULONG capacity = kSentinel;
  unsigned char status = 0xA5;
  unsigned char attribute = 0xA5;
  unsigned char group = 0xA5;
  log.Reset();
  int detected = OrvikMMCDetectMedia(0, &capacity, &status, &attribute, &group);
  if (detected == 1) FUZZ_CHECK(log.allFull && status == 0);
  if (detected == 0) FUZZ_CHECK(capacity == 0 && attribute == 0 && group == 32);

  unsigned short word = 0;
  log.Reset();
  int read = OrvikMMCReadStatus(0, &word);
  FUZZ_CHECK((read == 1) == (log.allFull && log.transfers == 2));

  _MMC_CID cid;
  std::memset(&cid, 0xA5, sizeof cid);
  log.Reset();
  read = OrvikMMCReadCID(0, &cid, &status);
  if (read == 1) FUZZ_CHECK(log.allFull && log.lastReadFirstByte == 0 && status == 0);
  if (read == 0) FUZZ_CHECK(cid.bytes[0] == 0xA5 && cid.bytes[17] == 0xA5);

  ORVIK_ULONG ocr = kSentinel;
  log.Reset();
  read = OrvikMMCReadOCR(0, &ocr, &status);
  if (read == 1) FUZZ_CHECK(log.allFull && log.lastReadFirstByte == 0);
  if (read == 0) FUZZ_CHECK(ocr == kSentinel);

  _MMC_CSD csd;
  std::memset(&csd, 0xA5, sizeof csd);
  log.Reset();
  read = OrvikMMCReadCSD(0, &csd, &status);
  if (read == 1) FUZZ_CHECK(log.allFull && log.lastReadFirstByte == 0);
  if (read == 0) FUZZ_CHECK(csd.bytes[0] == 0xA5 && csd.bytes[15] == 0xA5);

  // The flash-size query of a build whose drive 0 is the card slot.
  api::Context().SetDriveMediaKind(protocol::MEDIA_KIND_MMC);
  ORVIK_ULONG type = kSentinel;
  ORVIK_ULONG failed = kSentinel;
  ACCESS_DEVICE_STATUS answered = OrvikGetFlashSizes(&type, &failed);
  api::Context().SetDriveMediaKind(protocol::MEDIA_KIND_FLASH);
  FUZZ_CHECK(failed == (answered == ACCESS_DEVICE_ANSWERED ? 0u : 1u));
  if (answered == ACCESS_DEVICE_ANSWERED) FUZZ_CHECK(type <= FLASH_TYPE_UNKNOWN);
}

bool IsScanValue(uint8_t entry) {
  return entry == media::BLOCK_BAD || entry == media::BLOCK_CIS || entry == media::BLOCK_SYSTEM ||
         entry == media::BLOCK_GOOD || entry == media::BLOCK_FORMAT_USED;
}

// The table a scan left: scan values only (and, with markers, the markers
// of listed files), one CIS block with only bad blocks in front of it, and
// counts within the flash.
void CheckTable(const _BinaryFilesInformation& files, bool markersAllowed) {
  const protocol::DriveMediaState& state = *api::Context().DriveState(0);
  const protocol::FlashTypeDescriptor* type = protocol::RecordedFlashType(state);
  // A scan that failed part-way leaves the entries it wrote so far.
  if (type == nullptr || state.blockStatus.empty() || !state.scanComplete) return;
  FUZZ_CHECK(state.cisBlock < type->blockCount);
  FUZZ_CHECK(state.systemBlockCount <= type->blockCount);
  FUZZ_CHECK(state.firstReservedBlock < type->blockCount);
  FUZZ_CHECK(state.blockStatus[state.cisBlock] == media::BLOCK_CIS);
  for (uint32_t block = 0; block < type->blockCount; ++block) {
    uint8_t entry = state.blockStatus[block];
    if (block < state.cisBlock) FUZZ_CHECK(entry == media::BLOCK_BAD);
    if (block > state.cisBlock) FUZZ_CHECK(entry != media::BLOCK_CIS);
    if (IsScanValue(entry)) continue;
    FUZZ_CHECK(markersAllowed);
    uint8_t tag = firmware::TagForMarker(entry);
    FUZZ_CHECK(std::find(files.fileTags, files.fileTags + files.fileCount, tag) !=
               files.fileTags + files.fileCount);
  }
}

void FuzzMedia(uint8_t operations, uint32_t flashType, AnswerLog& log, FileSet& set) {
  ORVIK_ULONG types[1] = {flashType};
  _BinaryFilesInformation& files = set.Record();
  if (operations & kScan) {
    log.Reset();
    PROGRAM_MEDIA_STATUS status = OrvikBuildBlockStatus(types, 0, 0, &files, nullptr);
    FUZZ_CHECK(status == PROGRAM_MEDIA_DONE || status == PROGRAM_MEDIA_NO_DEVICE);
    if (status == PROGRAM_MEDIA_DONE) {
      FUZZ_CHECK(log.allFull);
      CheckTable(files, false);
    }
  }
  if (operations & kVersionQuery) {
    PROGRAM_MEDIA_STATUS status = OrvikGetFirmwareVersion(types, 0, &files);
    FUZZ_CHECK(status == PROGRAM_MEDIA_DONE || status == PROGRAM_MEDIA_NO_DEVICE ||
               status == PROGRAM_MEDIA_SYSTEM_MISMATCH || status == PROGRAM_MEDIA_WRITE_FAILED ||
               status == PROGRAM_MEDIA_NOT_FLASH);
    if (status == PROGRAM_MEDIA_DONE) {
      // Only a flash laid out with the reserved system area answers 0.
      const protocol::DriveMediaState& state = *api::Context().DriveState(0);
      const protocol::FlashTypeDescriptor& type = *protocol::RecordedFlashType(state);
      FUZZ_CHECK(state.systemBlockCount ==
                 firmware::ReadReservedBlockCount(type.dataSize, type.pagesPerBlock));
      CheckTable(files, true);
    }
  }
  if (operations & kUpdate) {
    log.Reset();
    PROGRAM_MEDIA_STATUS status = set.Program(types);
    FUZZ_CHECK(status == PROGRAM_MEDIA_DONE || status == PROGRAM_MEDIA_NO_DEVICE ||
               status == PROGRAM_MEDIA_WRITE_FAILED || status == PROGRAM_MEDIA_NOT_FLASH ||
               status == PROGRAM_MEDIA_SYSTEM_MISMATCH || status == PROGRAM_MEDIA_NO_ROOM);
    if (status == PROGRAM_MEDIA_DONE) FUZZ_CHECK(!log.failedOutsideErase);
    CheckTable(files, true);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  static FuzzOs* fuzzOs = new FuzzOs;  // stays installed for the process
  static FileSet* set = new FileSet;
  uint8_t operations = data[0];
  uint32_t flashType = kFlashTypes[data[1] % 8];
  fuzzOs->reservedKilobytes = 4u * data[2];
  fuzzOs->tracing = (data[3] & 1) != 0;

  AnswerStream stream(data + 4, size - 4);
  AnswerLog log;
  os::RegisterDevice("TEMBROr0", std::make_shared<AnswerDriver>(stream, log));
  int64_t pagesBefore = fuzzOs->livePages;
  int64_t eventsBefore = fuzzOs->liveEvents;

  bool opened = (operations & kBlockingOpen) ? OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL) == 1
                                             : OrvikOpenDriverNoBlock(0, DEVICE_STATUS_NORMAL) == 1;
  FUZZ_CHECK(opened);  // opening asks the device nothing that could refuse it
  if (operations & kControls) FuzzControls(log);
  if (operations & kChipAndFlash) FuzzChipAndFlash(log);
  if (operations & kCard) FuzzCard(log);
  FuzzMedia(operations, flashType, log, *set);

  OrvikFreeMemoryDevice(0);
  OrvikCloseDriver();
  os::UnregisterDevice("TEMBROr0");
  FUZZ_CHECK(fuzzOs->livePages == pagesBefore);
  FUZZ_CHECK(fuzzOs->liveEvents == eventsBefore);
  return 0;
}
