// Hand-built frames and one-connection exchanges for the simulator tests.
// Frames are written out here independently of any frame code.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/device_driver.h"
#include "sim/player.h"

namespace orvik::sim::testing {

using Bytes = std::vector<uint8_t>;

// 24-bit little-endian words.
inline Bytes Words(std::initializer_list<uint32_t> words) {
  Bytes bytes;
  for (uint32_t word : words)
    for (int i = 0; i < 3; ++i) bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
  return bytes;
}

// A flash frame: command word, 48-bit data-byte address (two words), then
// the further words.
inline Bytes FlashFrame(uint32_t command, uint64_t address, std::initializer_list<uint32_t> rest) {
  Bytes bytes = Words({command, static_cast<uint32_t>(address & 0xFFFFFF),
                       static_cast<uint32_t>((address >> 24) & 0xFFFFFF)});
  Bytes tail = Words(rest);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

inline uint32_t Packets(uint32_t bytes) { return (bytes + 63) / 64; }

inline Bytes ReadPagesFrame(uint32_t page, uint32_t count, uint32_t command = 0x800103) {
  return FlashFrame(command, uint64_t{page} * 512, {528, count, Packets(count * 528), 0});
}
inline Bytes WritePagesFrame(uint32_t page, uint32_t count, uint32_t command = 0x400101) {
  return FlashFrame(command, uint64_t{page} * 512, {528, count, Packets(count * 528), 0});
}
inline Bytes WritePageFrame(uint64_t address, uint32_t length, uint32_t command = 0x400100) {
  return FlashFrame(command, address, {length, 0});
}
inline Bytes EraseFrame(uint32_t block, uint32_t pagesPerBlock, uint32_t command = 0x400104) {
  return FlashFrame(command, uint64_t{block} * pagesPerBlock * 512, {pagesPerBlock, 0});
}
inline Bytes BlockMarksFrame(uint32_t block, uint32_t count, uint32_t pagesPerBlock,
                             uint32_t command = 0x80010C) {
  return FlashFrame(command, uint64_t{block} * pagesPerBlock * 512,
                    {528, count, pagesPerBlock * 512, Packets(count * 6), 0});
}

// A card frame: code, class 2, direction, drive, two reserved bytes, params.
inline Bytes CardFrame(uint8_t code, uint8_t direction, uint8_t drive, Bytes params = {}) {
  Bytes bytes = {code, 2, direction, drive, 0, 0};
  bytes.insert(bytes.end(), params.begin(), params.end());
  return bytes;
}
inline Bytes Le32(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}
inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// One open handle of a player, with exchange shorthands.
class Link {
 public:
  explicit Link(const std::shared_ptr<Player>& player) : connection_(player->Open()) {}
  os::DeviceConnection& operator*() { return *connection_; }
  bool Open() const { return connection_ != nullptr; }

  os::DeviceAnswer Write(const Bytes& bytes) {
    return connection_->Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  // Reads length bytes; the answer lands in *answer when given.
  Bytes Read(uint32_t length, os::DeviceAnswer* answer = nullptr) {
    Bytes bytes(length, 0xEE);
    os::DeviceAnswer result = connection_->Read(bytes.data(), length);
    if (answer) *answer = result;
    return bytes;
  }
  // Frame, then a read of the reply rounded up to 64 bytes.  Empty when
  // either transfer fails.
  Bytes Ask(const Bytes& frame, uint32_t replyLength) {
    if (Write(frame).error != 0) return {};
    os::DeviceAnswer answer;
    Bytes reply = Read((replyLength + 63) / 64 * 64, &answer);
    if (answer.error != 0) return {};
    reply.resize(replyLength);
    return reply;
  }
  // Frame, then a data block; true when both were taken.
  bool Send(const Bytes& frame, const Bytes& data) {
    return Write(frame).error == 0 && Write(data).error == 0;
  }
  os::DeviceAnswer Control(uint32_t code, const Bytes& in, Bytes* out, uint32_t outLength) {
    out->assign(outLength, 0);
    return connection_->Control(code, in.empty() ? nullptr : in.data(),
                                static_cast<uint32_t>(in.size()), outLength ? out->data() : nullptr,
                                outLength);
  }

 private:
  std::unique_ptr<os::DeviceConnection> connection_;
};

inline RawPage PatternPage(uint32_t seed) {
  RawPage page{};
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(seed * 131 + i * 7);
  return page;
}

inline Bytes ToBytes(const RawPage& page) { return Bytes(page.begin(), page.end()); }

}  // namespace orvik::sim::testing
