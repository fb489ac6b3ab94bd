// MMC command frames and the exchange step every card command shares.
#include "mmc/mmc_frame.h"

#include <cstring>

#include "transport/exchange_guard.h"
#include "transport/session.h"

namespace orvik::mmc {

uint8_t MmcDirection(uint8_t code) {
  switch (code) {
    case CMD_MMC_READ_CID:
    case CMD_MMC_READ_OCR:
    case CMD_MMC_READ_CSD:
    case CMD_MMC_READ_BLOCK:
    case CMD_MMC_READ_MULTIPLE_BLOCK:
      return 0x80;
    case CMD_MMC_PROGRAM_CSD:
    case CMD_MMC_WRITE_BLOCK:
    case CMD_MMC_WRITE_MULTIPLE_BLOCK:
    case CMD_MMC_ERASE:
      return 0x40;
    default:
      return 0;
  }
}

void BuildMmcFrame(uint8_t* frame, uint8_t code, uint8_t drive) {
  std::memset(frame, 0, kMmcFrameHeaderLength);
  frame[0] = code;
  frame[1] = 2;  // the MMC command class
  frame[2] = MmcDirection(code);
  frame[3] = drive;
}

bool MmcExchange(const uint8_t* frame, uint32_t frameLength, uint8_t* reply, uint32_t replyLength) {
  transport::ExchangeGuard exchange;
  if (!transport::WriteToDevice(frame, frameLength)) return false;
  return transport::ReadFromDevice(reply, replyLength);
}

}  // namespace orvik::mmc
