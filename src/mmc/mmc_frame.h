// MMC command frames: a two-word header (command code, class 2, direction,
// drive) with parameters from byte 6, and the reply whose byte 0 is the
// card's status.
#pragma once

#include <cstdint>

namespace orvik::mmc {

enum MmcCommand : uint8_t {
  CMD_MMC_DETECT_MEDIA = 0,
  CMD_MMC_READ_STATUS = 1,
  CMD_MMC_READ_CID = 2,
  CMD_MMC_READ_OCR = 3,
  CMD_MMC_READ_CSD = 4,
  CMD_MMC_PROGRAM_CSD = 5,
  CMD_MMC_READ_BLOCK = 6,
  CMD_MMC_READ_MULTIPLE_BLOCK = 7,
  CMD_MMC_WRITE_BLOCK = 8,
  CMD_MMC_WRITE_MULTIPLE_BLOCK = 9,
  CMD_MMC_ERASE = 10,
};

inline constexpr uint32_t kMmcFrameHeaderLength = 6;
inline constexpr uint32_t kMaxMmcFrameLength = 24;
inline constexpr uint8_t DEFAULT_ERASE_GROUP_BLOCKS = 32;
inline constexpr uint32_t kMmcBlockSize = 512;

// The direction byte follows from the code alone.
uint8_t MmcDirection(uint8_t code);

// Clears bytes 0-5 and fills the header; parameters are the caller's.
void BuildMmcFrame(uint8_t* frame, uint8_t code, uint8_t drive);

// Sends the frame and reads the reply, as one exchange; no read after a
// failed write.
bool MmcExchange(const uint8_t* frame, uint32_t frameLength, uint8_t* reply, uint32_t replyLength);

}  // namespace orvik::mmc
