// The reader's logical volume and its export.
#include "sim/inspect/volume_export.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

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
  const uint32_t page = sector % map_.pagesPerBlock;
  if (std::optional<uint32_t> physical = map_.PhysicalBlockOf(sector / map_.pagesPerBlock)) {
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

void ReadVolumeSectors(LogicalVolume& volume, uint64_t first, uint32_t count, uint8_t* out,
                       VolumeExport& result) {
  for (uint32_t i = 0; i < count; ++i) {
    if (volume.ReadSector(static_cast<uint32_t>(first + i), out + size_t{i} * kSectorBytes))
      ++result.sectorsFromFlash;
    else
      ++result.sectorsFilled;
  }
}

VolumeExport ExportVolume(const Player& player, const std::string& imagePath,
                          const VolumeExportOptions& options) {
  LogicalVolume volume(player, options.fill);
  VolumeExport result;
  result.map = volume.Map();
  std::string error;
  const std::optional<VolumeGeometry> geometry = ReadVolumeGeometry(volume, &error);
  if (!geometry) return Failed(std::move(result), error);
  result.partitionStart = geometry->partitionStart;
  result.partitionSectors = geometry->partitionSectors;

  std::ofstream out(imagePath, std::ios::binary | std::ios::trunc);
  if (!out) return Failed(std::move(result), "cannot create " + imagePath);
  std::vector<uint8_t> chunk(size_t{kChunkSectors} * kSectorBytes);
  for (uint64_t first = geometry->partitionStart; first < geometry->EndSector();
       first += kChunkSectors) {
    const auto count =
        static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, geometry->EndSector() - first));
    const uint64_t filledBefore = result.sectorsFilled;
    ReadVolumeSectors(volume, first, count, chunk.data(), result);
    const auto bytes = static_cast<std::streamoff>(uint64_t{count} * kSectorBytes);
    if (result.sectorsFilled - filledBefore == count && options.fill == ErasedFill::kZeros)
      out.seekp(bytes, std::ios::cur);  // left as a hole
    else
      out.write(reinterpret_cast<const char*>(chunk.data()), bytes);
  }
  out.close();
  if (!out) return Failed(std::move(result), "cannot write " + imagePath);
  // Trailing holes count too.
  std::error_code code;
  std::filesystem::resize_file(imagePath, geometry->ImageBytes(), code);
  if (code) return Failed(std::move(result), "cannot size " + imagePath + ": " + code.message());
  result.eccFindings = volume.EccFindings();
  result.ok = true;
  return result;
}

}  // namespace orvik::sim::inspect
