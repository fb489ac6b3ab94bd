#include "player/flash_copy.h"

#include <fmt/format.h>

#include <algorithm>

#include "base/tool_error.h"
#include "host/host_internals.h"
#include "sim/spare_area.h"

namespace orvik::tool {
namespace {

std::shared_ptr<sim::Player> EmptyFlashLike(const host::FlashType& type) {
  sim::PlayerConfig config;
  config.flashType = type.typeIndex;
  config.card.present = false;
  config.card.capacityBlocks = 0;
  return sim::Player::Create(config);
}

std::span<const uint8_t> ReadOrFail(FlashPages& pages, uint32_t block, uint32_t count) {
  std::span<const uint8_t> raw = pages.Read(block, 0, count);
  if (raw.empty())
    Fail("no-answer", fmt::format("Reading block {} of the flash failed.", block),
         "The player was unplugged or lost power, or its driver stopped responding.",
         "Reconnect the player and run the command again; reading changes nothing.");
  return raw;
}

void Put(sim::Player& copy, const host::FlashType& type, uint32_t block,
         std::span<const uint8_t> raw, uint32_t count) {
  for (uint32_t page = 0; page < count; ++page) {
    sim::RawPage bytes;
    std::copy_n(raw.data() + size_t{page} * type.pageSize, bytes.size(), bytes.begin());
    copy.SetPageRaw(block * type.pagesPerBlock + page, bytes);
  }
}

}  // namespace

std::shared_ptr<sim::Player> CopyBlocks(FlashPages& pages, uint32_t endBlock,
                                        const CopyProgress& progress) {
  const host::FlashType& type = pages.Type();
  std::shared_ptr<sim::Player> copy = EmptyFlashLike(type);
  for (uint32_t block = 0; block < endBlock; ++block) {
    Put(*copy, type, block, ReadOrFail(pages, block, type.pagesPerBlock), type.pagesPerBlock);
    if (progress) progress(block, endBlock);
  }
  return copy;
}

std::shared_ptr<sim::Player> CopyListedBlocks(FlashPages& pages,
                                              const std::vector<uint32_t>& blocks,
                                              const CopyProgress& progress) {
  const host::FlashType& type = pages.Type();
  std::shared_ptr<sim::Player> copy = EmptyFlashLike(type);
  for (size_t i = 0; i < blocks.size(); ++i) {
    Put(*copy, type, blocks[i], ReadOrFail(pages, blocks[i], type.pagesPerBlock),
        type.pagesPerBlock);
    if (progress) progress(static_cast<uint32_t>(i), static_cast<uint32_t>(blocks.size()));
  }
  return copy;
}

std::shared_ptr<sim::Player> CopyVolumeBlocks(FlashPages& pages, const CopyProgress& progress) {
  const host::FlashType& type = pages.Type();
  std::shared_ptr<sim::Player> copy = EmptyFlashLike(type);
  for (uint32_t block = 0; block < type.blockCount; ++block) {
    std::span<const uint8_t> head = ReadOrFail(pages, block, 2);
    const bool good = head[type.dataSize + sim::kSpareBlockStatus] == 0xFF;
    const bool written = std::any_of(head.begin(), head.begin() + type.pageSize,
                                     [](uint8_t byte) { return byte != 0xFF; });
    if (good && written)
      Put(*copy, type, block, ReadOrFail(pages, block, type.pagesPerBlock), type.pagesPerBlock);
    else
      Put(*copy, type, block, head, 2);
    if (progress) progress(block, type.blockCount);
  }
  return copy;
}

std::shared_ptr<sim::Player> CopyForBlockMap(FlashPages& pages, const CopyProgress& progress) {
  const host::FlashType& type = pages.Type();
  std::shared_ptr<sim::Player> copy = EmptyFlashLike(type);
  for (uint32_t block = 0; block < type.blockCount; ++block) {
    std::span<const uint8_t> head = ReadOrFail(pages, block, 2);
    const host::SystemBlockTag marks = host::ReadSystemBlockTag(head);
    if (marks.systemStatus && marks.systemMark)
      Put(*copy, type, block, ReadOrFail(pages, block, type.pagesPerBlock), type.pagesPerBlock);
    else
      Put(*copy, type, block, head, 2);
    if (progress) progress(block, type.blockCount);
  }
  return copy;
}

}  // namespace orvik::tool
