// The plan of an image write, block by block.
#include "sim/inspect/volume_plan.h"

#include <algorithm>
#include <cstring>

namespace orvik::sim::inspect {

bool PlannedBlock::Empty() const {
  return std::none_of(pageWritten.begin(), pageWritten.end(), [](bool written) { return written; });
}

void PlanVolumeImage(LogicalVolume& current, const VolumeGeometry& geometry,
                     const ImageSectorReader& image,
                     const std::function<void(const PlannedBlock&)>& each) {
  const uint32_t pages = current.PagesPerBlock();
  const uint64_t start = geometry.partitionStart, end = geometry.EndSector();
  std::vector<uint8_t> now(size_t{pages} * kSectorBytes);
  PlannedBlock block;
  block.data.resize(now.size());
  block.pageWritten.resize(pages);
  VolumeExport counts;  // ReadVolumeSectors counts; not needed here
  for (uint64_t logical = start / pages; logical * pages < end; ++logical) {
    const uint64_t first = logical * pages;
    ReadVolumeSectors(current, first, pages, now.data(), counts);
    block.data = now;
    // The partition's part of the block comes from the image.
    const uint64_t from = std::max(first, start), to = std::min(first + pages, end);
    image(static_cast<uint32_t>(from - start), static_cast<uint32_t>(to - from),
          block.data.data() + (from - first) * kSectorBytes);
    block.logicalBlock = static_cast<uint32_t>(logical);
    block.physical = current.Map().PhysicalBlockOf(block.logicalBlock);
    for (uint32_t page = 0; page < pages; ++page)
      block.pageWritten[page] = !SectorIsUnwritten(block.data.data() + size_t{page} * kSectorBytes);
    block.changes = block.data != now;
    each(block);
  }
}

}  // namespace orvik::sim::inspect
