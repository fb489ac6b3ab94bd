// The volume a quick format writes, worked out without writing it.
#include "host/host_internals.h"
#include "media/format_layout.h"

namespace orvik::host {

std::optional<FormattedVolume> QuickFormatVolume(const FlashType& type, bool sizeFromRegistry,
                                                 uint32_t reservedBlocks, uint32_t systemBlocks) {
  const std::optional<uint32_t> sectors = media::PartitionSectors(
      type.typeIndex, sizeFromRegistry, media::ReservedSectors(type.pagesPerBlock, reservedBlocks),
      type.logicalBlockCount, systemBlocks, type.pagesPerBlock, type.dataSize);
  if (!sectors) return std::nullopt;
  FormattedVolume volume{std::vector<uint8_t>(media::kSectorBytes),
                         std::vector<uint8_t>(media::kSectorBytes)};
  if (!media::BuildMasterBootRecord(type.typeIndex, *sectors, volume.masterBootRecord.data()) ||
      !media::BuildBootSector(type.typeIndex, *sectors, volume.bootSector.data()))
    return std::nullopt;
  return volume;
}

}  // namespace orvik::host
