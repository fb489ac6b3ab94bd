#include "player/flash_survey.h"

#include <algorithm>

#include "base/interruption.h"
#include "player/expected_layout.h"
#include "player/flash_pages.h"
#include "player/progress_watch.h"
#include "sim/byte_runs.h"

namespace orvik::tool {
namespace {

bool Erased(std::span<const uint8_t> bytes) {
  return sim::AllBytesAre(bytes.data(), bytes.size(), 0xFF);
}

// Page 0 and 1 of every block, and every page of a block that holds
// anything but is not bad: the system area and the volume's blocks.
std::shared_ptr<sim::Player> CopyWrittenBlocks(FlashPages& pages,
                                               const std::vector<host::TableEntry>& table,
                                               Events& events) {
  const host::FlashType& type = pages.Type();
  sim::PlayerConfig config;
  config.flashType = type.typeIndex;
  config.card.present = false;
  config.card.capacityBlocks = 0;
  std::shared_ptr<sim::Player> copy = sim::Player::Create(config);
  WorkBar bar(events, "Reading the flash");
  auto put = [&](uint32_t block, std::span<const uint8_t> raw, uint32_t count) {
    for (uint32_t page = 0; page < count; ++page) {
      sim::RawPage bytes;
      std::copy_n(raw.data() + size_t{page} * type.pageSize, bytes.size(), bytes.begin());
      copy->SetPageRaw(block * type.pagesPerBlock + page, bytes);
    }
  };
  auto read = [&](uint32_t block, uint32_t count) {
    std::span<const uint8_t> raw = pages.Read(block, 0, count);
    if (raw.empty())
      Fail("no-answer", "Reading block " + std::to_string(block) + " of the flash failed.",
           "The player was unplugged or lost power, or its driver stopped responding.",
           "Reconnect the player and run the command again; reading changes nothing.");
    return raw;
  };
  for (uint32_t block = 0; block < type.blockCount; ++block) {
    std::span<const uint8_t> head = read(block, 2);
    if (table[block].use != host::BlockUse::kBad && !Erased(head))
      put(block, read(block, type.pagesPerBlock), type.pagesPerBlock);
    else
      put(block, head, 2);
    bar.Update(100.0 * (block + 1) / type.blockCount);
    ThrowIfInterrupted("Checking only reads; the player is as it was.", "Run the check again.");
  }
  bar.Finish();
  return copy;
}

}  // namespace

FlashSurvey SurveyFlash(MediaRunner& media, HostFileSet& files, Events& events) {
  FlashSurvey survey;
  survey.type = &media.FlashType();
  survey.scan = media.Scan(files);
  survey.table = host::ScannedBlockTable().blocks;
  survey.area = host::AssessSystemArea();
  FlashPages pages(*survey.type);
  survey.copy = CopyWrittenBlocks(pages, survey.table, events);
  survey.map = sim::inspect::MapBlocks(*survey.copy);
  survey.lowBlocks = LowSystemBlocks(survey.table, survey.scan.cisBlock);
  const uint32_t perBlock = survey.type->pagesPerBlock;
  for (uint32_t block = survey.scan.cisBlock + 1; block < survey.table.size(); ++block) {
    if (survey.table[block].use != host::BlockUse::kBad) continue;
    ++survey.badBlocks;
    // The library retires a block by zero-filling its first pages, data
    // and redundant bytes; a chip's factory mark leaves the data erased.
    const sim::RawPage first = survey.copy->ReadPage(block * perBlock);
    if (sim::AllBytesAre(first.data(), first.size(), 0)) ++survey.retiredBlocks;
  }
  return survey;
}

}  // namespace orvik::tool
