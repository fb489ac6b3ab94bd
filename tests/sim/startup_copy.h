// A startup copy in the low system blocks, built by hand from the image
// format (independently of the library's conversion) and laid out as the
// update and the full format write it, for the startup check's tests.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "sim/player.h"
#include "sim_helpers.h"

namespace orvik::sim::testing {

inline constexpr uint32_t kFlashType = 3;  // 16 pages a block: three low blocks hold 24 KB
inline constexpr uint32_t kPages = 16;
inline constexpr char kTag = 'P';

// The words of a plain firmware image: load data, then the end marker.
inline std::vector<uint32_t> PlainWords(size_t dataWords, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint32_t> words;
  for (size_t i = 0; i < dataWords; ++i) words.push_back(random() & 0xFFFFFF);
  words.push_back(0xFFFFFF);
  words.push_back(0);
  return words;
}

// The image as it is stored: S mod 2, S div 2, the header word 256 with the
// first word's low bit on top, then every word shifted right by one with the
// next word's low bit on top; S = the words' sum + 512.
inline Bytes StoredImage(const std::vector<uint32_t>& plain) {
  uint32_t sum = 512;
  for (uint32_t word : plain) sum += word;
  sum &= 0xFFFFFF;
  std::vector<uint32_t> stored = {sum & 1, sum >> 1, 256 | (plain[0] & 1) << 23};
  for (size_t k = 0; k + 1 < plain.size(); ++k)
    stored.push_back(plain[k] >> 1 | (plain[k + 1] & 1) << 23);
  stored.push_back(plain.back() >> 1);
  Bytes bytes;
  for (uint32_t word : stored)
    for (int i = 0; i < 3; ++i) bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
  return bytes;
}

// An image of `bytes` bytes, rounded down to whole words (3n + 9 in all).
inline Bytes ImageOfLength(size_t bytes, uint32_t seed = 7) {
  return StoredImage(PlainWords(bytes / 3 - 5, seed));
}

inline RawPage SystemPage(uint32_t pageInBlock, uint8_t tag) {
  RawPage raw;
  raw.fill(0xFF);
  raw[512 + 4] = 0x00;
  raw[512 + 5] = 0x00;
  if (pageInBlock == 0) {
    raw[512 + 6] = 'Q';
    raw[512 + 7] = 'V';
  } else if (pageInBlock == 1) {
    raw[512 + 6] = 'M';
    raw[512 + 7] = tag;
  }
  return raw;
}

// The settings of the small flash the copies are laid on.
inline PlayerConfig SmallFlash(std::vector<uint32_t> badBlocks = {}) {
  PlayerConfig config;
  config.flashType = kFlashType;
  config.factoryBadBlocks = std::move(badBlocks);
  return config;
}

class StartupCopy {
 public:
  explicit StartupCopy(const PlayerConfig& config = SmallFlash())
      : player_(Player::Create(config)) {}

  // The image written into the blocks as the update writes it: page after
  // page with zero padding (a lone page in the last block gets an all-zero
  // second page), the rest of that block erased; blocks the image does not
  // reach hold system pages without data, as the full format marks them.
  void Lay(const Bytes& image, const std::vector<uint32_t>& blocks, uint8_t tag = kTag) {
    uint32_t pages = static_cast<uint32_t>((image.size() + 511) / 512);
    if (pages % kPages == 1) ++pages;
    for (size_t b = 0; b < blocks.size(); ++b) {
      player_->EraseBlock(blocks[b]);
      for (uint32_t p = 0; p < kPages; ++p) {
        const uint32_t index = static_cast<uint32_t>(b) * kPages + p;
        const bool imageBlock = b * kPages < pages;
        if (imageBlock && index >= pages) break;
        RawPage raw = SystemPage(p, tag);
        if (imageBlock) {
          std::fill_n(raw.begin(), 512, 0x00);
          for (size_t at = size_t{index} * 512; at < image.size() && at < (index + 1) * 512ull;
               ++at)
            raw[at - size_t{index} * 512] = image[at];
        }
        player_->ProgramPage(blocks[b] * kPages + p, raw);
      }
    }
  }

  // The player plugged in: its mode and reason.
  Player::StartState PlugIn() {
    player_->PlugIn();
    return player_->Startup();
  }

  void SetPage(uint32_t block, uint32_t page, const RawPage& raw) {
    player_->SetPageRaw(block * kPages + page, raw);
  }
  RawPage Page(uint32_t block, uint32_t page) const {
    return player_->ReadPage(block * kPages + page);
  }
  void EraseFrom(uint32_t block, uint32_t firstPage) {
    RawPage erased;
    erased.fill(0xFF);
    for (uint32_t p = firstPage; p < kPages; ++p) SetPage(block, p, erased);
  }

  std::shared_ptr<Player> player_;
};

}  // namespace orvik::sim::testing
