#include "player/startup_copy.h"

#include <fmt/format.h>

#include <algorithm>

#include "firmware_set/manifest.h"
#include "player/flash_pages.h"

namespace orvik::tool {
namespace {

constexpr uint32_t kWordBytes = 3;
constexpr uint32_t kWordMask = 0xFFFFFF;
constexpr uint32_t kTopBit = 0x800000;
constexpr uint32_t kHeaderWord = 256;  // word 2 of every image, its top bit aside
constexpr uint32_t kImageWordsBeforeData = 3;
// The stored end of every image: the end marker's two words shifted right.
constexpr uint8_t kImageEnd[] = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00};

uint32_t Word(const std::vector<uint8_t>& data, uint64_t index) {
  const uint8_t* at = data.data() + index * kWordBytes;
  return uint32_t{at[0]} | (uint32_t{at[1]} << 8) | (uint32_t{at[2]} << 16);
}

}  // namespace

const char* StartupCopyStateName(StartupCopy::State state) {
  switch (state) {
    case StartupCopy::State::kWhole:
      return "whole";
    case StartupCopy::State::kAbsent:
      return "absent";
    case StartupCopy::State::kIncomplete:
      return "incomplete";
  }
  return "absent";
}

std::optional<uint64_t> CheckDeviceImage(const std::vector<uint8_t>& data, std::string* why) {
  // The end, from the back: the writer pads the last page with zeros, so the
  // last end marker followed by nothing but zeros ends the image.
  uint64_t end = data.size();
  while (end > 0 && data[end - 1] == 0) --end;
  end += sizeof kImageEnd - 3;  // the marker's last word is zero too
  const uint64_t words = end / kWordBytes;
  if (end > data.size() || end % kWordBytes != 0 || words < kImageWordsBeforeData + 2 ||
      !std::equal(std::begin(kImageEnd), std::end(kImageEnd),
                  data.begin() + static_cast<std::ptrdiff_t>(end - sizeof kImageEnd))) {
    *why = "the image's end marker is missing (the copy was cut off)";
    return std::nullopt;
  }
  if ((Word(data, 2) & ~kTopBit) != kHeaderWord) {
    *why = "the copy does not begin with a firmware image's header";
    return std::nullopt;
  }
  const uint32_t stored = (Word(data, 0) + 2 * Word(data, 1)) & kWordMask;
  // Word k of the plain image: its low bits shifted into stored word k + 3,
  // its lowest bit into the top of stored word k + 2.
  uint32_t sum = 512;
  for (uint64_t k = 0; k + kImageWordsBeforeData <= words - 1; ++k) {
    const uint32_t plain = ((Word(data, k + 3) & ~kTopBit) << 1) | (Word(data, k + 2) >> 23);
    sum = (sum + plain) & kWordMask;
  }
  if (sum != stored) {
    *why = fmt::format(
        "the image's checksum word does not match its words ({:06X}, the words "
        "give {:06X})",
        stored, sum);
    return std::nullopt;
  }
  return end;
}

namespace {

// What the low blocks gave so far: the data pages in order, how many
// blocks were erased, and whether an erased page ended the image.
struct LowBlocksRead {
  uint32_t erasedBlocks = 0;
  std::vector<uint8_t> data;
  bool imageEnded = false;
};

// The data of a marked low block's written pages; a written page after an
// erased one is the copy's first fault unless one was found before.
void TakeImagePages(const std::vector<sim::RawPage>& raw, uint32_t block, StartupCopy& copy,
                    LowBlocksRead& read) {
  for (uint32_t page = 0; page < raw.size(); ++page) {
    if (DataErased(raw[page])) {
      read.imageEnded = true;
      continue;
    }
    if (read.imageEnded && copy.why.empty())
      copy.why = fmt::format("page {} of low system block {} follows an erased page", page, block);
    read.data.insert(read.data.end(), raw[page].begin(), raw[page].begin() + sim::kPageDataBytes);
  }
}

// One low block: erased, unmarked, or marked with the copy's tag and its
// pages taken; copy.why keeps the first fault found.
void ReadLowBlock(const sim::Player& flash, uint32_t block, StartupCopy& copy,
                  LowBlocksRead& read) {
  const std::vector<sim::RawPage> raw = BlockPagesOf(flash, block);
  if (std::all_of(raw.begin(), raw.end(), PageErased)) {
    ++read.erasedBlocks;
    if (copy.why.empty()) copy.why = fmt::format("low system block {} is erased", block);
    return;
  }
  const host::SystemBlockTag marks = SystemBlockTagOf(raw[0], raw[1]);
  if (!marks.systemStatus || !marks.Marked()) {
    if (copy.why.empty())
      copy.why = fmt::format("low system block {} is not marked as a system block", block);
    return;
  }
  const uint8_t tag = marks.tag;
  if (copy.tag && *copy.tag != tag && copy.why.empty())
    copy.why = fmt::format("low system block {} carries tag {}, the others {}", block, TagText(tag),
                           TagText(*copy.tag));
  copy.tag = tag;
  TakeImagePages(raw, block, copy, read);
}

}  // namespace

StartupCopy JudgeStartupCopy(const sim::Player& flash, const std::vector<uint32_t>& lowBlocks) {
  StartupCopy copy;
  copy.blocks = lowBlocks;
  LowBlocksRead read;
  for (uint32_t block : lowBlocks) ReadLowBlock(flash, block, copy, read);
  if (read.erasedBlocks == lowBlocks.size() || lowBlocks.empty()) {
    copy.state = StartupCopy::State::kAbsent;
    copy.why = "the low system blocks are erased";
    return copy;
  }
  copy.state = StartupCopy::State::kIncomplete;
  if (!copy.why.empty()) return copy;
  if (read.data.empty()) {
    copy.why = "the low system blocks hold no image";
    return copy;
  }
  std::optional<uint64_t> length = CheckDeviceImage(read.data, &copy.why);
  if (!length) return copy;
  copy.state = StartupCopy::State::kWhole;
  copy.imageBytes = *length;
  return copy;
}

}  // namespace orvik::tool
