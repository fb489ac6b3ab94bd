#include "sim/mmc_card.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "sim/byte_runs.h"
#include "sim/mmc_registers.h"

namespace orvik::sim {
namespace {

bool AllZero(const uint8_t* bytes, size_t length) { return AllBytesAre(bytes, length, 0); }

}  // namespace

MmcCard::MmcCard(const CardConfig& config) { Reconfigure(config); }

void MmcCard::Reconfigure(const CardConfig& config) {
  config_ = config;
  if (AllZero(config_.cid.data(), config_.cid.size())) config_.cid = DefaultCardCid(0x00012345);
  if (!config_.csd)
    config_.csd = CardCsdForCapacity(config_.capacityBlocks, config_.eraseGroupBlocks);
  blocks_.erase(blocks_.lower_bound(config_.capacityBlocks), blocks_.end());
}

void MmcCard::ReadBlock(uint32_t block, uint8_t* out) const {
  if (block >= ImageBlocks()) throw std::out_of_range("block outside the card");
  auto found = blocks_.find(block);
  if (found == blocks_.end())
    std::memset(out, 0, kCardBlockBytes);
  else
    std::memcpy(out, found->second.data(), kCardBlockBytes);
}

void MmcCard::WriteBlock(uint32_t block, const uint8_t* data) {
  if (block >= ImageBlocks()) throw std::out_of_range("block outside the card");
  if (AllZero(data, kCardBlockBytes)) {
    blocks_.erase(block);
    return;
  }
  std::memcpy(blocks_[block].data(), data, kCardBlockBytes);
}

void MmcCard::EraseBlocks(uint32_t first, uint32_t last) {
  if (first > last || last >= ImageBlocks()) throw std::out_of_range("erase outside the card");
  blocks_.erase(blocks_.lower_bound(first), blocks_.upper_bound(last));
}

bool MmcCard::SaveImage(const std::string& path, std::string* error) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& [block, bytes] : blocks_) {
    out.seekp(static_cast<std::streamoff>(uint64_t{block} * kCardBlockBytes));
    out.write(reinterpret_cast<const char*>(bytes.data()), kCardBlockBytes);
  }
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  std::error_code code;
  std::filesystem::resize_file(path, uint64_t{ImageBlocks()} * kCardBlockBytes, code);
  if (code) {
    if (error) *error = "cannot size " + path + ": " + code.message();
    return false;
  }
  return true;
}

bool MmcCard::LoadImage(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open " + path;
    return false;
  }
  std::error_code code;
  uint64_t size = std::filesystem::file_size(path, code);
  if (code || size != uint64_t{ImageBlocks()} * kCardBlockBytes) {
    if (error)
      *error = path + " does not hold a card of " + std::to_string(ImageBlocks()) + " blocks";
    return false;
  }
  std::map<uint32_t, std::array<uint8_t, kCardBlockBytes>> blocks;
  constexpr uint32_t kChunkBlocks = 2048;
  std::vector<uint8_t> chunk(size_t{kChunkBlocks} * kCardBlockBytes);
  for (uint32_t first = 0; first < ImageBlocks(); first += kChunkBlocks) {
    uint32_t count = std::min(kChunkBlocks, ImageBlocks() - first);
    in.read(reinterpret_cast<char*>(chunk.data()), std::streamsize{count} * kCardBlockBytes);
    if (!in) {
      if (error) *error = "cannot read " + path;
      return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* bytes = chunk.data() + size_t{i} * kCardBlockBytes;
      if (AllZero(bytes, kCardBlockBytes)) continue;
      std::memcpy(blocks[first + i].data(), bytes, kCardBlockBytes);
    }
  }
  blocks_ = std::move(blocks);
  return true;
}

}  // namespace orvik::sim
