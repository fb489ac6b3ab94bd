#include "player/fat_check.h"

#include <fmt/format.h>

#include <array>
#include <vector>

#include "sim/inspect/volume_geometry.h"

namespace orvik::tool {
namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kEntryBytes = 32;
constexpr uint32_t kDeepestFolder = 32;  // a loop of folders ends here
constexpr uint8_t kAttrVolume = 0x08;
constexpr uint8_t kAttrFolder = 0x10;
constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kDeleted = 0xE5;

using Sector = std::array<uint8_t, kSector>;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The boot sector as the check works with it: its layout fields read as
// the simulator's inspection reads them, the root folder's size and the
// media byte the FAT must begin with.
struct BootFields {
  sim::inspect::BootSectorFields read;
  uint32_t rootSectors = 0;
  uint8_t media = 0;

  // The root folder's first sector in the volume: after the reserved
  // sectors and the FATs.
  uint32_t RootStart() const { return read.reservedSectors + read.fatCount * read.sectorsPerFat; }
};

// The failure that ends the check, with what was found so far.
struct Verdict {
  FatVolumeHealth::Kind kind;
  std::string why;
};

class Checker {
 public:
  Checker(const SectorReader& read, FatVolumeHealth& health, bool dataMustBeWritten)
      : read_(read), health_(health), dataMustBeWritten_(dataMustBeWritten) {}

  void Run(uint64_t totalSectors);

 private:
  bool Read(uint64_t sector, Sector& out) { return read_(sector, out.data()); }
  void ReadPartitionTable(uint64_t totalSectors);
  BootFields ReadBootSector();
  void PlaceClusters(const BootFields& boot);
  void ReadFixedPart(const BootFields& boot);
  uint32_t Next(uint32_t cluster) const;
  bool IsEnd(uint32_t entry) const { return entry >= (fatBits_ == 12 ? 0xFF8u : 0xFFF8u); }
  uint64_t SectorOf(uint32_t cluster) const {
    return volume_ + firstData_ + uint64_t{cluster - 2} * clusterSectors_;
  }
  // The clusters of a chain, checked: in range, not free or bad, used once.
  std::vector<uint32_t> Chain(uint32_t first, const std::string& name);
  void RequireWritten(uint32_t cluster, uint32_t sectors, const std::string& name);
  void Folder(const std::vector<Sector>& sectors, const std::string& path, uint32_t depth);
  void FolderAt(uint32_t first, const std::string& path, uint32_t depth);

  const SectorReader& read_;
  FatVolumeHealth& health_;
  bool dataMustBeWritten_;
  uint64_t volume_ = 0;
  uint32_t clusterSectors_ = 1;
  uint32_t firstData_ = 0;
  uint32_t clusters_ = 0;
  int fatBits_ = 12;
  std::vector<uint8_t> fat_;
  std::vector<bool> used_;
};

uint32_t Checker::Next(uint32_t cluster) const {
  if (fatBits_ == 16)
    return size_t{cluster} * 2 + 1 < fat_.size() ? Le16(&fat_[size_t{cluster} * 2]) : 0xFFFFu;
  const size_t at = size_t{cluster} * 3 / 2;
  if (at + 1 >= fat_.size()) return 0xFFF;
  const uint16_t pair = Le16(&fat_[at]);
  return (cluster & 1) != 0 ? pair >> 4 : pair & 0x0FFF;
}

std::vector<uint32_t> Checker::Chain(uint32_t first, const std::string& name) {
  std::vector<uint32_t> chain;
  const uint32_t bad = fatBits_ == 12 ? 0xFF7u : 0xFFF7u;
  for (uint32_t cluster = first;;) {
    if (cluster < 2 || cluster >= clusters_ + 2)
      throw Verdict{FatVolumeHealth::Kind::kDamaged,
                    fmt::format("{} uses cluster {}, outside the volume", name, cluster)};
    if (used_[cluster])
      throw Verdict{
          FatVolumeHealth::Kind::kDamaged,
          fmt::format("{} uses cluster {}, which another file or a loop uses too", name, cluster)};
    used_[cluster] = true;
    chain.push_back(cluster);
    const uint32_t next = Next(cluster);
    if (IsEnd(next)) return chain;
    if (next == 0 || next == bad)
      throw Verdict{FatVolumeHealth::Kind::kDamaged,
                    fmt::format("the cluster chain of {} breaks off at cluster {}", name, cluster)};
    cluster = next;
  }
}

void Checker::RequireWritten(uint32_t cluster, uint32_t sectors, const std::string& name) {
  Sector data;
  for (uint32_t i = 0; i < sectors; ++i)
    if (!Read(SectorOf(cluster) + i, data))
      throw Verdict{FatVolumeHealth::Kind::kDamaged,
                    fmt::format("the data of {} (cluster {}) was never written", name, cluster)};
}

void Checker::Folder(const std::vector<Sector>& sectors, const std::string& path, uint32_t depth) {
  for (const Sector& sector : sectors) {
    for (uint32_t at = 0; at < kSector; at += kEntryBytes) {
      const uint8_t* entry = sector.data() + at;
      if (entry[0] == 0x00) return;  // the end of the folder
      const uint8_t attributes = entry[11];
      if (entry[0] == kDeleted || attributes == kAttrLongName || (attributes & kAttrVolume) != 0)
        continue;
      std::string name(reinterpret_cast<const char*>(entry), 8);
      while (!name.empty() && name.back() == ' ') name.pop_back();
      std::string extension(reinterpret_cast<const char*>(entry) + 8, 3);
      while (!extension.empty() && extension.back() == ' ') extension.pop_back();
      if (name == "." || name == "..") continue;
      const std::string full = path + name + (extension.empty() ? "" : "." + extension);
      const uint32_t first = Le16(entry + 26);
      if ((attributes & kAttrFolder) != 0) {
        ++health_.folders;
        if (depth >= kDeepestFolder)
          throw Verdict{FatVolumeHealth::Kind::kDamaged,
                        fmt::format("the folders nest deeper than {} at {}", kDeepestFolder, full)};
        FolderAt(first, full + "/", depth + 1);
        continue;
      }
      ++health_.files;
      const uint32_t size = Le32(entry + 28);
      health_.fileBytes += size;
      if (size == 0) continue;
      const uint64_t clusterBytes = uint64_t{clusterSectors_} * kSector;
      const std::vector<uint32_t> chain = Chain(first, full);
      if (chain.size() != (size + clusterBytes - 1) / clusterBytes)
        throw Verdict{FatVolumeHealth::Kind::kDamaged,
                      fmt::format("{} has {} bytes but {} clusters", full, size, chain.size())};
      if (!dataMustBeWritten_) continue;
      uint64_t left = size;
      for (uint32_t cluster : chain) {
        const uint64_t bytes = std::min<uint64_t>(left, clusterBytes);
        RequireWritten(cluster, static_cast<uint32_t>((bytes + kSector - 1) / kSector), full);
        left -= bytes;
      }
    }
  }
}

void Checker::FolderAt(uint32_t first, const std::string& path, uint32_t depth) {
  std::vector<Sector> sectors;
  for (uint32_t cluster : Chain(first, "folder " + path)) {
    RequireWritten(cluster, clusterSectors_, "folder " + path);
    for (uint32_t i = 0; i < clusterSectors_; ++i) {
      sectors.emplace_back();
      Read(SectorOf(cluster) + i, sectors.back());
    }
  }
  Folder(sectors, path, depth);
}

void Checker::ReadPartitionTable(uint64_t totalSectors) {
  using Kind = FatVolumeHealth::Kind;
  Sector mbr;
  if (!Read(0, mbr))
    throw Verdict{Kind::kAbsent, "the partition table (sector 0) was never written"};
  if (mbr[510] != 0x55 || mbr[511] != 0xAA)
    throw Verdict{Kind::kAbsent, "sector 0 holds no partition table"};
  const uint8_t* partition = mbr.data() + 446;
  health_.partitionStart = Le32(partition + 8);
  health_.partitionSectors = Le32(partition + 12);
  if (partition[4] == 0 || health_.partitionStart == 0 || health_.partitionSectors == 0)
    throw Verdict{Kind::kAbsent, "the partition table holds no partition"};
  if (uint64_t{health_.partitionStart} + health_.partitionSectors > totalSectors)
    throw Verdict{Kind::kDamaged, "the partition runs past the end of the storage"};
  volume_ = health_.partitionStart;
}

BootFields Checker::ReadBootSector() {
  using Kind = FatVolumeHealth::Kind;
  Sector boot;
  if (!Read(volume_, boot))
    throw Verdict{Kind::kDamaged,
                  fmt::format("the boot sector (sector {}) was never written", volume_)};
  BootFields fields{sim::inspect::ReadBootSectorFields(boot.data()), 0, boot[21]};
  clusterSectors_ = fields.read.sectorsPerCluster;
  if (!fields.read.LooksLikeFat())
    throw Verdict{Kind::kDamaged, fmt::format("sector {} is no FAT boot sector", volume_)};
  if (fields.read.totalSectors > health_.partitionSectors)
    throw Verdict{Kind::kDamaged,
                  "the boot sector gives the volume more sectors than its partition"};
  fields.rootSectors = (fields.read.rootEntries * kEntryBytes + kSector - 1) / kSector;
  return fields;
}

// Where the data begins, how many clusters follow and the FAT's width.
void Checker::PlaceClusters(const BootFields& boot) {
  using Kind = FatVolumeHealth::Kind;
  firstData_ = boot.RootStart() + boot.rootSectors;
  if (firstData_ >= boot.read.totalSectors)
    throw Verdict{Kind::kDamaged, "the boot sector leaves no room for data"};
  clusters_ = (boot.read.totalSectors - firstData_) / clusterSectors_;
  fatBits_ = clusters_ < 4085 ? 12 : 16;
  health_.fatBits = fatBits_;
  if (clusters_ >= 65525)
    throw Verdict{Kind::kDamaged, "the volume has too many clusters for FAT12 or FAT16"};
  if (uint64_t{boot.read.sectorsPerFat} * kSector * 8 / fatBits_ < clusters_ + 2)
    throw Verdict{Kind::kDamaged, "the FAT is too small for the volume's clusters"};
}

// The fixed part a format writes whole: reserved sectors, FATs, root; the
// FAT is kept, and its copies must equal it.
void Checker::ReadFixedPart(const BootFields& boot) {
  using Kind = FatVolumeHealth::Kind;
  Sector sector;
  for (uint32_t at = 1; at < firstData_; ++at)
    if (!Read(volume_ + at, sector))
      throw Verdict{Kind::kDamaged,
                    fmt::format("sector {} of the volume's fixed part (boot sector, FATs, root "
                                "folder) was never written",
                                volume_ + at)};
  fat_.assign(size_t{boot.read.sectorsPerFat} * kSector, 0);
  for (uint32_t i = 0; i < boot.read.sectorsPerFat; ++i) {
    Read(volume_ + boot.read.reservedSectors + i, sector);
    std::copy(sector.begin(), sector.end(), fat_.begin() + size_t{i} * kSector);
  }
  for (uint32_t copy = 1; copy < boot.read.fatCount; ++copy)
    for (uint32_t i = 0; i < boot.read.sectorsPerFat; ++i) {
      Read(volume_ + boot.read.reservedSectors + copy * boot.read.sectorsPerFat + i, sector);
      if (!std::equal(sector.begin(), sector.end(), fat_.begin() + size_t{i} * kSector))
        throw Verdict{Kind::kDamaged, fmt::format("the two FATs differ (in FAT sector {})", i)};
    }
  if (fat_[0] != boot.media)
    throw Verdict{Kind::kDamaged, "the FAT does not begin with the volume's media byte"};
}

void Checker::Run(uint64_t totalSectors) {
  ReadPartitionTable(totalSectors);
  const BootFields boot = ReadBootSector();
  PlaceClusters(boot);
  ReadFixedPart(boot);
  used_.assign(size_t{clusters_} + 2, false);
  std::vector<Sector> root(boot.rootSectors);
  for (uint32_t i = 0; i < boot.rootSectors; ++i) Read(volume_ + boot.RootStart() + i, root[i]);
  Folder(root, "/", 0);
}

}  // namespace

const char* FatVolumeKindName(FatVolumeHealth::Kind kind) {
  switch (kind) {
    case FatVolumeHealth::Kind::kAbsent:
      return "absent";
    case FatVolumeHealth::Kind::kConsistent:
      return "consistent";
    case FatVolumeHealth::Kind::kDamaged:
      return "damaged";
  }
  return "absent";
}

FatVolumeHealth CheckFatVolume(const SectorReader& read, uint64_t totalSectors,
                               bool dataMustBeWritten) {
  FatVolumeHealth health;
  Checker checker(read, health, dataMustBeWritten);
  try {
    checker.Run(totalSectors);
    health.kind = FatVolumeHealth::Kind::kConsistent;
  } catch (const Verdict& verdict) {
    health.kind = verdict.kind;
    health.why = verdict.why;
  }
  return health;
}

}  // namespace orvik::tool
