// orvik blocks: the block status table the library builds, as a grid.
#include <fmt/format.h>

#include <map>

#include "commands/commands.h"
#include "media/media_runner.h"
#include "output/block_grid.h"
#include "protocol/media_state.h"

namespace orvik::tool {
namespace {

// Entries of the library's block status table.
constexpr uint8_t kBad = 0x00;
constexpr uint8_t kFormatUsed = 0x01;
constexpr uint8_t kCis = 0x02;
constexpr uint8_t kSystem = 0x03;
constexpr uint8_t kGood = 0xFF;

GridCell CellFor(uint8_t entry) {
  switch (entry) {
    case kBad:
      return {'X', Style::kBad};
    case kFormatUsed:
      return {'F', Style::kAccent};
    case kCis:
      return {'C', Style::kMagenta};
    case kSystem:
      return {'S', Style::kWarn};
    case kGood:
      return {'.', Style::kDim};
    default: {  // a file's marker: its tag + 4
      char tag = static_cast<char>(entry - 4);
      return {tag >= 0x21 && tag < 0x7F ? tag : '#', Style::kInfo};
    }
  }
}

bool HasTag(const std::optional<Manifest>& manifest, uint8_t tag) {
  if (!manifest) return false;
  for (const ManifestFile& file : manifest->files)
    if (file.tag == tag) return true;
  return false;
}

}  // namespace

int RunBlocks(CommandContext& context, const BlocksOptions& options) {
  std::optional<Manifest> manifest;
  if (!options.manifest.empty()) manifest = LoadManifest(options.manifest);
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context, *session);
  const FlashFacts& flash = media.Flash();

  if (manifest) {
    // The version query scans and then gives each file's blocks its marker.
    HostFileSet files(*manifest);
    int status = media.StoredVersions(files);
    if (status != PROGRAM_MEDIA_DONE && status != PROGRAM_MEDIA_WRITE_FAILED &&
        status != PROGRAM_MEDIA_SYSTEM_MISMATCH)
      media.FailWith(MediaOperation::kStoredVersions, status, &*manifest, nullptr);
  } else {
    HostFileSet placeholder;
    media.Scan(placeholder);
  }
  ScanFacts scan = media.LastScan();
  const protocol::DriveMediaState* drive = protocol::MediaStateFor(0);
  std::vector<uint8_t> table(drive->blockStatus, drive->blockStatus + flash.blockCount);
  session->Close();

  std::vector<GridCell> cells;
  std::map<uint8_t, uint64_t> counts;
  nlohmann::json bad = nlohmann::json::array();
  for (uint32_t block = 0; block < table.size(); ++block) {
    cells.push_back(CellFor(table[block]));
    ++counts[table[block]];
    if (table[block] == kBad) bad.push_back(block);
  }
  nlohmann::json files = nlohmann::json::object();
  for (const auto& [entry, count] : counts)
    if (entry != kBad && entry != kFormatUsed && entry != kCis && entry != kSystem &&
        entry != kGood)
      files[std::string(1, CellFor(entry).symbol)] = count;

  context.result["flash"] = ToJson(flash);
  context.result["cisBlock"] = scan.cisBlock;
  context.result["systemBlockCount"] = scan.systemBlockCount;
  context.result["firstReservedBlock"] = scan.firstReservedBlock;
  context.result["counts"] = {{"good", counts[kGood]},
                              {"bad", counts[kBad]},
                              {"cis", counts[kCis]},
                              {"system", counts[kSystem]},
                              {"formatUsed", counts[kFormatUsed]},
                              {"files", files}};
  context.result["badBlocks"] = bad;
  context.result["map"] = GridString(cells);

  Console& console = context.console;
  console.Line(
      fmt::format("{} blocks of {} KB (flash type {}); CIS block {}, {} system blocks, "
                  "reserved area from block {}.",
                  flash.blockCount, flash.BlockBytes() / 1024, flash.type, scan.cisBlock,
                  scan.systemBlockCount, scan.firstReservedBlock));
  if (options.grid) PrintGrid(console, cells, options.perRow);
  std::vector<LegendEntry> legend = {
      {'.', Style::kDim, "good", counts[kGood]},
      {'X', Style::kBad, "bad", counts[kBad]},
      {'C', Style::kMagenta, "CIS", counts[kCis]},
      {'S', Style::kWarn, HasTag(manifest, 'P') ? "system (file P)" : "system", counts[kSystem]},
      {'F', Style::kAccent, "format-used", counts[kFormatUsed]}};
  for (const auto& [entry, count] : counts)
    if (entry != kBad && entry != kFormatUsed && entry != kCis && entry != kSystem &&
        entry != kGood)
      legend.push_back({CellFor(entry).symbol, Style::kInfo,
                        std::string("file ") + CellFor(entry).symbol, count});
  PrintLegend(console, legend);
  if (!bad.empty()) {
    std::string list;
    for (const nlohmann::json& block : bad) list += (list.empty() ? "" : ", ") + block.dump();
    console.Line("  bad blocks: " + list);
  }
  return kExitDone;
}

}  // namespace orvik::tool
