// Command frames and the exchange of one frame with its reply.
#include "protocol/command_frame.h"

#include "transport/exchange_guard.h"
#include "transport/session.h"

namespace orvik::protocol {

void PutWord24(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
}

uint32_t GetWord24(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16;
}

uint32_t FlashCommandWord(uint32_t operation, uint32_t direction, CommandForm form) {
  uint32_t word = kClassFlash | (operation & 0xFF);
  return form == CommandForm::kWithDirection ? word | direction : word;
}

bool SendFrame(const uint8_t* frame, uint32_t length) {
  return transport::WriteToDevice(frame, length);
}

bool ExchangeFrame(const uint8_t* frame, uint32_t length, uint8_t* reply, uint32_t replyLength) {
  transport::ExchangeGuard exchange;
  if (!SendFrame(frame, length)) return false;
  return transport::ReadFromDevice(reply, replyLength);
}

}  // namespace orvik::protocol
