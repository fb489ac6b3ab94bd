// orvik blocks: the block map of the player's flash, drawn by the same code
// as `orvik sim inspect` (output/block_view.h) from the marks read through
// the library, so that the two agree on every letter and count.
#include <fmt/format.h>

#include "app/block_view.h"
#include "app/operations.h"
#include "app/set_checks.h"
#include "base/interruption.h"
#include "host/host_internals.h"
#include "player/flash_copy.h"
#include "player/media_runner.h"
#include "player/progress_watch.h"

namespace orvik::tool {
namespace {

// Every block's marks, read into a copy of the flash; reading changes
// nothing, so a cut-off run only says so.
std::shared_ptr<sim::Player> ReadBlockMarks(Events& events, const host::FlashType& type) {
  FlashPages pages(type);
  WorkBar bar(events, "Reading the block marks");
  std::shared_ptr<sim::Player> copy = CopyForBlockMap(pages, [&](uint32_t block, uint32_t all) {
    bar.Update(100.0 * (block + 1) / all);
    ThrowIfInterrupted("Reading changes nothing on the player.", "Run the command again.");
  });
  bar.Finish();
  return copy;
}

nlohmann::json BadBlocks(const sim::inspect::BlockMap& map) {
  nlohmann::json bad = nlohmann::json::array();
  for (uint32_t block = 0; block < map.blocks.size(); ++block)
    if (map.blocks[block].role == sim::inspect::BlockRole::kBad) bad.push_back(block);
  return bad;
}

}  // namespace

int RunBlocks(OperationContext& context, const BlocksOptions& options) {
  // A manifest names the set whose files the map should show; its files are
  // checked like every set's (the tags come from the flash's own marks).
  std::optional<Manifest> manifest;
  if (!options.manifest.empty()) manifest = LoadManifest(options.manifest, context.settings.trust);
  std::unique_ptr<Session> session = context.OpenTarget();
  if (manifest) ShowSetTrust(context, *manifest);
  MediaRunner media(context.events, *session, context.settings.commandLine);
  const FlashFacts& flash = media.Flash();
  const host::FlashType& type = media.FlashType();
  InterruptGuard guard;
  const ScanFacts scan = media.Scan();
  std::shared_ptr<sim::Player> copy = ReadBlockMarks(context.events, type);
  session->Close();

  const sim::inspect::BlockMap map = sim::inspect::MapBlocks(*copy);
  const BlockView view = ViewBlocks(map, FindSystemFiles(*copy, map));
  const nlohmann::json bad = BadBlocks(map);
  context.result["flash"] = ToJson(flash);
  context.result["cisBlock"] = scan.cisBlock;
  context.result["systemBlockCount"] = scan.systemBlockCount;
  context.result["firstReservedBlock"] = scan.firstReservedBlock;
  context.result["counts"] = view.counts;
  context.result["badBlocks"] = bad;
  context.result["map"] = GridString(view.cells);

  Events& console = context.events;
  console.Line(
      fmt::format("{} blocks of {} KB (flash type {}); CIS block {}, {} system blocks, "
                  "reserved area from block {}.",
                  flash.blockCount, flash.BlockBytes() / 1024, flash.type, scan.cisBlock,
                  scan.systemBlockCount, scan.firstReservedBlock));
  if (!options.noGrid) PrintGrid(console, view.cells, options.perRow);
  PrintLegend(console, view.legend);
  if (!bad.empty()) {
    std::string list;
    for (const nlohmann::json& block : bad) list += (list.empty() ? "" : ", ") + block.dump();
    console.Line("  bad blocks: " + list);
  }
  return kExitDone;
}

}  // namespace orvik::tool
