#include "player/system_files.h"

#include <algorithm>
#include <map>

#include "player/flash_pages.h"
#include "sim/inspect/page_check.h"

namespace orvik::tool {
namespace {

using sim::inspect::BlockRole;

constexpr uint32_t kFirstVersionPage = 2;
constexpr uint32_t kVersionPages = 4;
constexpr uint8_t kSystemModeStatus = 0x00;  // data-status and block-status bytes of system pages

bool PageWrittenInSystemMode(const sim::RawPage& page) {
  return page[sim::kPageDataBytes + sim::kSpareBlockStatus] == kSystemModeStatus &&
         !sim::inspect::PageIsErased(page.data());
}

struct BlockContent {
  bool holdsData = false;
  std::optional<VersionWords> version;
  std::vector<uint8_t> data;  // written pages, up to the last written one
};

BlockContent ReadBlock(const sim::Player& player, uint32_t block) {
  BlockContent content;
  const uint32_t pages = player.PagesPerBlock();
  const std::vector<sim::RawPage> raw = BlockPagesOf(player, block);
  uint32_t lastWritten = 0;
  bool anyWritten = false;
  for (uint32_t page = 0; page < pages; ++page) {
    if (!PageWrittenInSystemMode(raw[page])) continue;
    anyWritten = true;
    lastWritten = page;
    if (!DataErased(raw[page])) content.holdsData = true;
  }
  if (!content.holdsData) return content;
  for (uint32_t page = 0; anyWritten && page <= lastWritten; ++page)
    content.data.insert(content.data.end(), raw[page].begin(),
                        raw[page].begin() + sim::kPageDataBytes);
  if (pages >= kFirstVersionPage + kVersionPages) {
    uint16_t words[kVersionPages];
    bool any = false;
    for (uint32_t i = 0; i < kVersionPages; ++i) {
      words[i] = SpareWord(raw[kFirstVersionPage + i]);
      if (words[i] != 0xFFFF) any = true;
    }
    if (any) content.version = VersionWords{words[0], words[1], words[2], words[3]};
  }
  return content;
}

}  // namespace

std::vector<StoredFile> FindSystemFiles(const sim::Player& player,
                                        const sim::inspect::BlockMap& map) {
  std::map<uint8_t, StoredFile> files;
  // The tag of the copy the previous system block belonged to; a block of
  // another kind (other than bad) ends every run.
  constexpr int kNoRun = -1;
  int runTag = kNoRun;
  for (uint32_t block = 0; block < map.blocks.size(); ++block) {
    const sim::inspect::BlockEntry& entry = map.blocks[block];
    if (entry.role == BlockRole::kBad) continue;
    if (entry.role != BlockRole::kSystem || !entry.fileTag) {
      runTag = kNoRun;
      continue;
    }
    const uint8_t tag = *entry.fileTag;
    StoredFile& file = files[tag];
    file.tag = tag;
    BlockContent content = ReadBlock(player, block);
    if (!content.holdsData) {
      file.unusedBlocks.push_back(block);
      runTag = kNoRun;
      continue;
    }
    const bool continues = runTag == int{tag} && !content.version && !file.copies.empty();
    if (!continues) {
      file.copies.emplace_back();
      file.copies.back().version = content.version;
    }
    StoredCopy& copy = file.copies.back();
    copy.blocks.push_back(block);
    copy.image.insert(copy.image.end(), content.data.begin(), content.data.end());
    runTag = tag;
  }
  std::vector<StoredFile> out;
  for (auto& [tag, file] : files) out.push_back(std::move(file));
  return out;
}

}  // namespace orvik::tool
