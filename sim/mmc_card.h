// The MMC card model: registers and a block image.  Blocks never written
// (or erased) read as zeros and take no memory.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "sim/player_config.h"

namespace orvik::sim {

inline constexpr uint32_t kCardBlockBytes = 512;

class MmcCard {
 public:
  // Fills in the default CID and CSD where the config leaves them open.
  explicit MmcCard(const CardConfig& config);

  const CardConfig& Config() const { return config_; }
  // New settings (defaults filled in as by the constructor); blocks past
  // the new capacity are dropped.
  void Reconfigure(const CardConfig& config);
  const std::array<uint8_t, 16>& Csd() const { return *config_.csd; }
  void ProgramCsd(const std::array<uint8_t, 16>& csd) { config_.csd = csd; }

  bool Present() const { return config_.present; }
  uint32_t CapacityBlocks() const { return config_.present ? config_.capacityBlocks : 0; }
  // True when the card answers commands for this device-side drive number.
  bool Reachable(uint8_t drive) const { return config_.present && drive == config_.slot; }
  bool Fails(uint8_t code) const { return config_.failingCommands.count(code) != 0; }

  // Blocks of the image, whether or not the card is present.
  uint32_t ImageBlocks() const { return config_.capacityBlocks; }
  void ReadBlock(uint32_t block, uint8_t* out) const;
  void WriteBlock(uint32_t block, const uint8_t* data);
  // Erases blocks first..last inclusive: they read as zeros afterwards.
  void EraseBlocks(uint32_t first, uint32_t last);
  size_t StoredBlockCount() const { return blocks_.size(); }

  // The raw card image (capacity x 512 bytes); blocks of zeros are left as
  // holes in the file.
  bool SaveImage(const std::string& path, std::string* error) const;
  bool LoadImage(const std::string& path, std::string* error);

 private:
  CardConfig config_;
  std::map<uint32_t, std::array<uint8_t, kCardBlockBytes>> blocks_;
};

}  // namespace orvik::sim
