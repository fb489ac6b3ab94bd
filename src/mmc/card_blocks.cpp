// Block I/O, erase, and the bulk erases of the card.
#include "mmc/card_blocks.h"

#include <cstring>

#include "mmc/mmc_frame.h"
#include "orvik/orvik.h"
#include "platform/page_buffer.h"
#include "platform/trace.h"
#include "protocol/byte_order.h"
#include "transport/exchange_guard.h"
#include "transport/session.h"

namespace orvik::mmc {
namespace {

constexpr uint32_t kSingleFrameLength = 12;
constexpr uint32_t kMultipleFrameLength = 15;
constexpr uint32_t kEraseFrameLength = 18;

// Sends a block transfer's frame; the data follows in one transfer.
bool SendBlockFrame(uint8_t code, uint8_t drive, uint32_t block, uint32_t count, bool multiple) {
  uint8_t frame[kMultipleFrameLength] = {};
  BuildMmcFrame(frame, code, drive);
  protocol::PutLittleEndian32(&frame[6], block * kMmcBlockSize);
  if (multiple) {
    frame[12] = static_cast<uint8_t>(count);
    frame[13] = static_cast<uint8_t>(count >> 8);
  }
  return transport::WriteToDevice(frame, multiple ? kMultipleFrameLength : kSingleFrameLength);
}

// The failure line of a block transfer or erase: the step, the run of
// blocks and the cause.
void TraceRun(const char* step, uint32_t block, uint64_t count, const char* what,
              const char* cause) {
  uint64_t last = count == 0 ? block : block + count - 1;
  os::TraceFailure("card %s of blocks %u to %llu: %s%s", step, block,
                   static_cast<unsigned long long>(last), what, cause);
}

// Checks the run and the buffer of a block transfer, tracing a refusal.
bool TransferAllowed(const char* step, uint32_t block, uint32_t count, const void* data) {
  if (data == nullptr) {
    TraceRun(step, block, count, "no data buffer given", "");
    return false;
  }
  if (!RunIsAddressable(block, count)) {
    TraceRun(step, block, count, "beyond the 4 GiB a byte address reaches", "");
    return false;
  }
  return true;
}

}  // namespace

bool RunIsAddressable(uint64_t first, uint64_t count) {
  if (count == 0) return first < kAddressableBlocks;
  return first + count <= kAddressableBlocks;
}

uint32_t FileSystemAreaBlocks(uint32_t capacityBlocks) {
  uint64_t mib = (uint64_t{capacityBlocks} * kMmcBlockSize) >> 20;
  if (mib == 0) return 48;
  if (mib == 1) return 32;
  if (mib <= 4) return 48;
  if (mib <= 32) return 64;
  if (mib <= 64) return 96;
  return 128;
}

bool ReadBlocks(uint8_t drive, uint32_t block, uint32_t count, bool multiple, uint8_t* data) {
  if (data != nullptr && multiple && count == 0) return true;
  if (!TransferAllowed("read", block, count, data)) return false;
  uint8_t code = multiple ? CMD_MMC_READ_MULTIPLE_BLOCK : CMD_MMC_READ_BLOCK;
  transport::ExchangeGuard exchange;  // the frame and its blocks
  if (!SendBlockFrame(code, drive, block, count, multiple)) {
    TraceRun("read", block, count, "sending the frame failed: ", transport::LastFailureCause());
    return false;
  }
  if (transport::ReadFromDevice(data, count * kMmcBlockSize)) return true;
  TraceRun("read", block, count, "reading the data failed: ", transport::LastFailureCause());
  return false;
}

bool WriteBlocks(uint8_t drive, uint32_t block, uint32_t count, bool multiple,
                 const uint8_t* data) {
  if (data != nullptr && multiple && count == 0) return true;
  if (!TransferAllowed("write", block, count, data)) return false;
  uint8_t code = multiple ? CMD_MMC_WRITE_MULTIPLE_BLOCK : CMD_MMC_WRITE_BLOCK;
  transport::ExchangeGuard exchange;  // the frame and its blocks
  if (!SendBlockFrame(code, drive, block, count, multiple)) {
    TraceRun("write", block, count, "sending the frame failed: ", transport::LastFailureCause());
    return false;
  }
  if (transport::WriteToDevice(data, count * kMmcBlockSize)) return true;
  TraceRun("write", block, count, "writing the data failed: ", transport::LastFailureCause());
  return false;
}

bool EraseBlocks(uint8_t drive, uint32_t block, uint32_t count, unsigned char* cardStatus) {
  if (count == 0) return true;
  if (cardStatus != nullptr) *cardStatus = 0;
  if (!RunIsAddressable(block, count)) {
    TraceRun("erase", block, count, "beyond the 4 GiB a byte address reaches", "");
    return false;
  }
  uint8_t frame[kEraseFrameLength] = {};
  BuildMmcFrame(frame, CMD_MMC_ERASE, drive);
  protocol::PutLittleEndian32(&frame[6], block * kMmcBlockSize);
  protocol::PutLittleEndian32(&frame[12], (block + count - 1) * kMmcBlockSize);
  uint8_t reply[3] = {};
  if (!MmcExchange(frame, sizeof frame, reply, sizeof reply)) {
    TraceRun("erase", block, count, "the exchange failed: ", transport::LastFailureCause());
    return false;
  }
  if (cardStatus != nullptr) *cardStatus = reply[0];
  if (reply[0] == 0) return true;
  os::TraceFailure("card erase of blocks %u to %u: the card reported status 0x%02X", block,
                   block + count - 1, reply[0]);
  return false;
}

bool EraseLeadingBlocks(uint8_t drive, uint32_t n, protocol::ProgressTarget& progress) {
  // A failed detect is no error by itself: the default group is used, and
  // on a missing card the first erase then fails.
  unsigned char group = DEFAULT_ERASE_GROUP_BLOCKS;
  OrvikMMCDetectMedia(drive, nullptr, nullptr, nullptr, &group);
  uint32_t groups = group >= 1 ? n / group : 0;
  uint32_t remainder = group >= 1 ? n % group : n;
  uint32_t step = (group >= 1 ? groups : n) / 100;
  if (step < 1) step = 1;

  bool ok = true;
  for (uint32_t i = 0; i < groups && ok; ++i) {
    ok = EraseBlocks(drive, i * group, group, nullptr);
    if (ok && (groups - 1 - i) % step == 0) progress.Add(1.0);
  }
  if (ok && remainder > 0) {
    os::PageBuffer zeros;
    ok = zeros.Allocate(kMmcBlockSize);
    if (!ok)
      os::TraceFailure("card erase: no memory for the zero block of blocks %u to %u",
                       groups * group, n - 1);
    for (uint32_t block = groups * group; ok && block < n; ++block)
      ok = WriteBlocks(drive, block, 1, false, zeros.data());
  }
  progress.Store(100.0);
  return ok;
}

bool EraseFileSystemArea(uint8_t drive, uint32_t capacityBlocks,
                         protocol::ProgressTarget& progress) {
  return EraseLeadingBlocks(drive, FileSystemAreaBlocks(capacityBlocks), progress);
}

}  // namespace orvik::mmc
