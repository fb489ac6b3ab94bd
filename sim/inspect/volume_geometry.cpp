// The partition table and the boot sector's layout fields.
#include "sim/inspect/volume_geometry.h"

#include "sim/byte_order.h"
#include "sim/inspect/volume_export.h"

namespace orvik::sim::inspect {
namespace {

constexpr uint32_t kPartitionEntry = 446;

bool HasSignature(const uint8_t* sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

std::optional<VolumeGeometry> Missing(std::string* error, const char* what) {
  if (error) *error = what;
  return std::nullopt;
}

}  // namespace

BootSectorFields ReadBootSectorFields(const uint8_t* sector) {
  BootSectorFields fields;
  fields.signature = HasSignature(sector);
  fields.bytesPerSector = static_cast<uint32_t>(GetLittleEndian(sector + 11, 2));
  fields.sectorsPerCluster = sector[13];
  fields.reservedSectors = static_cast<uint32_t>(GetLittleEndian(sector + 14, 2));
  fields.fatCount = sector[16];
  fields.rootEntries = static_cast<uint32_t>(GetLittleEndian(sector + 17, 2));
  const auto small = static_cast<uint32_t>(GetLittleEndian(sector + 19, 2));
  fields.totalSectors = small != 0 ? small : GetLittleEndian32(sector + 32);
  fields.sectorsPerFat = static_cast<uint32_t>(GetLittleEndian(sector + 22, 2));
  fields.hiddenSectors = GetLittleEndian32(sector + 28);
  return fields;
}

bool BootSectorFields::LooksLikeFat() const {
  const bool powerOfTwo =
      sectorsPerCluster != 0 && (sectorsPerCluster & (sectorsPerCluster - 1)) == 0;
  return signature && bytesPerSector == kSectorBytes && powerOfTwo && reservedSectors != 0 &&
         (fatCount == 1 || fatCount == 2) && rootEntries != 0 && sectorsPerFat != 0 &&
         totalSectors != 0;
}

std::optional<VolumeGeometry> ReadVolumeGeometry(LogicalVolume& volume, std::string* error) {
  uint8_t sector[kSectorBytes];
  if (!volume.ReadSector(0, sector))
    return Missing(error, "logical sector 0 (the master boot record) was never written");
  if (!HasSignature(sector)) return Missing(error, "logical sector 0 has no 55 AA signature");
  const uint8_t* entry = sector + kPartitionEntry;
  VolumeGeometry geometry;
  geometry.partitionType = entry[4];
  geometry.partitionStart = GetLittleEndian32(entry + 8);
  geometry.partitionSectors = GetLittleEndian32(entry + 12);
  if (geometry.partitionType == 0 || geometry.partitionSectors == 0 || geometry.partitionStart == 0)
    return Missing(error, "the master boot record holds no first partition");
  volume.ReadSector(geometry.partitionStart, sector);
  geometry.boot = ReadBootSectorFields(sector);
  return geometry;
}

std::vector<std::string> GeometryDifferences(const BootSectorFields& volume,
                                             const BootSectorFields& image) {
  std::vector<std::string> differences;
  if (!image.signature)
    differences.push_back("the image's first sector is no boot sector (no 55 AA signature)");
  struct Field {
    const char* name;
    uint32_t BootSectorFields::*value;
  };
  static constexpr Field kFields[] = {
      {"bytes per sector", &BootSectorFields::bytesPerSector},
      {"sectors per cluster", &BootSectorFields::sectorsPerCluster},
      {"reserved sectors", &BootSectorFields::reservedSectors},
      {"FATs", &BootSectorFields::fatCount},
      {"root directory entries", &BootSectorFields::rootEntries},
      {"sectors in the volume", &BootSectorFields::totalSectors},
      {"sectors per FAT", &BootSectorFields::sectorsPerFat},
      {"hidden sectors (the partition's start)", &BootSectorFields::hiddenSectors},
  };
  for (const Field& field : kFields)
    if (volume.*field.value != image.*field.value)
      differences.push_back(std::string(field.name) + ": the image has " +
                            std::to_string(image.*field.value) + ", the player's volume " +
                            std::to_string(volume.*field.value));
  return differences;
}

std::vector<std::string> GeometryDifferences(const VolumeGeometry& volume,
                                             const BootSectorFields& image) {
  if (volume.boot.signature) return GeometryDifferences(volume.boot, image);
  BootSectorFields partition = image;
  partition.totalSectors = volume.partitionSectors;
  partition.hiddenSectors = volume.partitionStart;
  partition.signature = true;
  return GeometryDifferences(partition, image);
}

}  // namespace orvik::sim::inspect
