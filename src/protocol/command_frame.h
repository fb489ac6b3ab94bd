// Command frames: sequences of 24-bit little-endian words exchanged with the
// player's firmware.  Word 0 is the command word: operation (bits 0-7),
// class (bits 8-15) and direction (bits 16-23).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvik::protocol {

inline constexpr uint32_t DIR_FROM_DEVICE = 0x800000;
inline constexpr uint32_t DIR_TO_DEVICE = 0x400000;
inline constexpr uint32_t kClassDevice = 0x000;
inline constexpr uint32_t kClassFlash = 0x100;
inline constexpr uint32_t kClassMmc = 0x200;
inline constexpr size_t kWordBytes = 3;
inline constexpr size_t kMaxFrameWords = 8;

void PutWord24(uint8_t* at, uint32_t value);
uint32_t GetWord24(const uint8_t* at);

// A frame of up to eight words, every byte 0 until set.
class CommandFrame {
 public:
  explicit CommandFrame(size_t words) : words_(words) {}
  void SetWord(size_t index, uint32_t value) { PutWord24(&bytes_[index * kWordBytes], value); }
  uint8_t* Bytes() { return bytes_.data(); }
  const uint8_t* Bytes() const { return bytes_.data(); }
  uint32_t Length() const { return static_cast<uint32_t>(words_ * kWordBytes); }

 private:
  std::array<uint8_t, kMaxFrameWords * kWordBytes> bytes_{};
  size_t words_;
};

// The form of the flash command words a player takes: with direction bits
// only when its DCC version (read by the open) is above 0x100.  Device
// commands never carry them.
enum class CommandForm : uint8_t { kPlain, kWithDirection };
inline constexpr CommandForm CommandFormFor(uint32_t dccVersion) {
  return dccVersion > 0x100 ? CommandForm::kWithDirection : CommandForm::kPlain;
}

uint32_t FlashCommandWord(uint32_t operation, uint32_t direction, CommandForm form);
inline constexpr uint32_t DeviceCommandWord(uint32_t operation) { return kClassDevice | operation; }

// Writes the frame; false when the write fails.  A frame followed by a data
// block is one exchange: the caller holds a transport::ExchangeGuard.
bool SendFrame(const uint8_t* frame, uint32_t length);
// Writes the frame and reads the reply, as one exchange; no read after a
// failed write.
bool ExchangeFrame(const uint8_t* frame, uint32_t length, uint8_t* reply, uint32_t replyLength);
inline bool ExchangeFrame(const CommandFrame& frame, uint8_t* reply, uint32_t replyLength) {
  return ExchangeFrame(frame.Bytes(), frame.Length(), reply, replyLength);
}

}  // namespace orvik::protocol
