#include "player/volume_image.h"

#include <fmt/format.h>

#include <algorithm>

#include "base/interruption.h"
#include "base/tool_error.h"
#include "player/progress_watch.h"

namespace orvik::tool {
namespace {

constexpr uint32_t kChunkSectors = 2048;  // 1 MiB per write
using sim::inspect::kSectorBytes;

[[noreturn]] void Mismatch(const InputFile& image, const std::string& what,
                           nlohmann::json details) {
  Problem problem;
  problem.code = "image-mismatch";
  problem.message = image.path + " does not fit the player's volume: " + what + ".";
  problem.cause = "The image was made for another volume, or cut short.";
  problem.action =
      "Use an image of this player's volume: one that `orvik backup` wrote (changed only with "
      "FAT tools such as mcopy or mdel), or a FAT image made with exactly its geometry.";
  details["file"] = image.path;
  problem.details = std::move(details);
  throw ToolError(std::move(problem));
}

}  // namespace

VolumeImage SaveVolumeImage(sim::inspect::LogicalVolume& volume,
                            const sim::inspect::VolumeGeometry& geometry, const std::string& path,
                            bool force, Events& events, const std::string& interruptedState) {
  AtomicFile file(path, force);
  VolumeImage image;
  image.geometry = geometry;
  sim::inspect::VolumeExport counts;
  std::vector<uint8_t> chunk(size_t{kChunkSectors} * kSectorBytes);
  WorkBar bar(events, "Writing the image");
  const uint64_t start = geometry.partitionStart, end = geometry.EndSector();
  for (uint64_t first = start; first < end; first += kChunkSectors) {
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, end - first));
    sim::inspect::ReadVolumeSectors(volume, first, count, chunk.data(), counts);
    file.Write(chunk.data(), size_t{count} * kSectorBytes);
    bar.Update(100.0 * static_cast<double>(first + count - start) /
               static_cast<double>(geometry.partitionSectors));
    ThrowIfInterrupted(interruptedState, "Run the command again to write the whole image.");
  }
  file.Commit();
  bar.Finish();
  image.sectorsFromFlash = counts.sectorsFromFlash;
  image.sectorsFilled = counts.sectorsFilled;
  image.eccFindings = volume.EccFindings();
  return image;
}

void CheckImageFits(const InputFile& image, const sim::inspect::VolumeGeometry& volume) {
  if (image.size != volume.ImageBytes())
    Mismatch(image,
             fmt::format("it is {} bytes long, the volume takes {} ({} sectors of 512 bytes)",
                         image.size, volume.ImageBytes(), volume.partitionSectors),
             {{"bytes", image.size}, {"volumeBytes", volume.ImageBytes()}});
  uint8_t boot[kSectorBytes];
  std::ifstream in(image.path, std::ios::binary);
  in.read(reinterpret_cast<char*>(boot), kSectorBytes);
  if (in.gcount() != kSectorBytes)
    Fail("io", image.path + " cannot be read.", {}, "Give a readable image file.");
  const std::vector<std::string> differences =
      sim::inspect::GeometryDifferences(volume, sim::inspect::ReadBootSectorFields(boot));
  if (differences.empty()) return;
  std::string text;
  for (const std::string& difference : differences) text += (text.empty() ? "" : "; ") + difference;
  Mismatch(image, text, {{"differences", differences}});
}

sim::inspect::ImageSectorReader ImageFileReader(std::ifstream& in, const std::string& path,
                                                const std::string& state) {
  return [&in, path, state](uint32_t first, uint32_t count, uint8_t* out) {
    const auto bytes = static_cast<std::streamsize>(uint64_t{count} * kSectorBytes);
    in.seekg(static_cast<std::streamoff>(uint64_t{first} * kSectorBytes));
    in.read(reinterpret_cast<char*>(out), bytes);
    if (in.gcount() != bytes)
      Fail("io", path + " ended early: it changed while it was read.", state,
           "Run the command again with the image as it is now.");
    ThrowIfInterrupted(state, "Run the command again.");
  };
}

}  // namespace orvik::tool
