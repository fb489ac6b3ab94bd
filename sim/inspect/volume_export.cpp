// The reader's logical volume and its export.
#include "sim/inspect/volume_export.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/byte_order.h"

namespace orvik::sim::inspect {
namespace {

constexpr uint32_t kChunkSectors = 2048;  // 1 MiB per write

VolumeExport Failed(VolumeExport result, std::string error) {
  result.ok = false;
  result.error = std::move(error);
  return result;
}

}  // namespace

LogicalVolume::LogicalVolume(const Player& player, ErasedFill fill)
    : player_(player), fill_(fill), map_(MapBlocks(player)) {}

bool LogicalVolume::ReadSector(uint32_t sector, uint8_t* out) {
  const uint32_t logical = sector / map_.pagesPerBlock;
  const uint32_t page = sector % map_.pagesPerBlock;
  std::optional<uint32_t> physical =
      logical < kLogicalBlocksPerZone ? map_.PhysicalBlockOf(logical) : std::nullopt;
  if (physical) {
    RawPage raw = player_.ReadPage(*physical * map_.pagesPerBlock + page);
    if (!PageIsErased(raw.data())) {
      CheckPage(raw.data(), *physical, page, findings_);
      std::memcpy(out, raw.data(), kSectorBytes);
      return true;
    }
  }
  std::memset(out, static_cast<uint8_t>(fill_), kSectorBytes);
  return false;
}

VolumeExport ExportVolume(const Player& player, const std::string& imagePath,
                          const VolumeExportOptions& options) {
  LogicalVolume volume(player, options.fill);
  VolumeExport result;
  result.map = volume.Map();
  uint8_t mbr[kSectorBytes];
  if (!volume.ReadSector(0, mbr))
    return Failed(std::move(result), "logical sector 0 (the master boot record) was never written");
  if (mbr[510] != 0x55 || mbr[511] != 0xAA)
    return Failed(std::move(result), "logical sector 0 has no 55 AA signature");
  const uint8_t* entry = mbr + 446;
  result.partitionStart = GetLittleEndian32(entry + 8);
  result.partitionSectors = GetLittleEndian32(entry + 12);
  if (entry[4] == 0 || result.partitionSectors == 0 || result.partitionStart == 0)
    return Failed(std::move(result), "the master boot record holds no first partition");

  std::ofstream out(imagePath, std::ios::binary | std::ios::trunc);
  if (!out) return Failed(std::move(result), "cannot create " + imagePath);
  std::vector<uint8_t> chunk(size_t{kChunkSectors} * kSectorBytes);
  const uint64_t end = uint64_t{result.partitionStart} + result.partitionSectors;
  for (uint64_t first = result.partitionStart; first < end; first += kChunkSectors) {
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, end - first));
    uint32_t fromFlash = 0;
    for (uint32_t i = 0; i < count; ++i)
      if (volume.ReadSector(static_cast<uint32_t>(first + i), &chunk[size_t{i} * kSectorBytes]))
        ++fromFlash;
    result.sectorsFromFlash += fromFlash;
    result.sectorsFilled += count - fromFlash;
    const auto bytes = static_cast<std::streamoff>(uint64_t{count} * kSectorBytes);
    if (fromFlash == 0 && options.fill == ErasedFill::kZeros)
      out.seekp(bytes, std::ios::cur);  // left as a hole
    else
      out.write(reinterpret_cast<const char*>(chunk.data()), bytes);
  }
  out.close();
  if (!out) return Failed(std::move(result), "cannot write " + imagePath);
  // Trailing holes count too.
  std::error_code error;
  std::filesystem::resize_file(imagePath, uint64_t{result.partitionSectors} * kSectorBytes, error);
  if (error) return Failed(std::move(result), "cannot size " + imagePath + ": " + error.message());
  result.eccFindings = volume.EccFindings();
  result.ok = true;
  return result;
}

}  // namespace orvik::sim::inspect
