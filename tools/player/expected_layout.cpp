#include "player/expected_layout.h"

#include <algorithm>

#include "firmware_set/manifest.h"
#include "player/flash_pages.h"
#include "sim/byte_runs.h"
#include "sim/spare_area.h"

namespace orvik::tool {
namespace {

constexpr uint32_t kFirstVersionPage = 2;
constexpr uint32_t kVersionPages = 4;
// Flash types below this one store no version words (their tag-page write
// sends nothing).
constexpr uint32_t kFirstTypeWithVersionWords = 3;

uint32_t BlocksOf(uint64_t bytes, const host::FlashType& type) {
  return static_cast<uint32_t>((bytes + type.BlockBytes() - 1) / type.BlockBytes());
}

// The first byte of a page's data that is neither expected nor (where
// allowed) erased.
std::optional<uint32_t> FirstDifference(const uint8_t* data, const uint8_t* want,
                                        bool mayBeErased) {
  if (want != nullptr && std::equal(data, data + sim::kPageDataBytes, want)) return std::nullopt;
  if (mayBeErased && sim::AllBytesAre(data, sim::kPageDataBytes, 0xFF)) return std::nullopt;
  for (uint32_t i = 0; i < sim::kPageDataBytes; ++i) {
    const bool fitsExpected = want != nullptr && data[i] == want[i];
    const bool fitsErased = mayBeErased && data[i] == 0xFF;
    if (!fitsExpected && !fitsErased) return i;
  }
  return 0;
}

// "erased" for a block that holds nothing, "marks" for one not marked as
// the set's system block; nullptr when its marks are right.
const char* MarksFault(const std::vector<sim::RawPage>& raw, const ExpectedBlock& expected) {
  if (std::all_of(raw.begin(), raw.end(), PageErased)) return "erased";
  const host::SystemBlockTag marks = SystemBlockTagOf(raw[0], raw[1]);
  const bool marked = marks.systemStatus && marks.Marked();
  const bool rightTag = !expected.file || marks.tag == expected.tag;
  if (!marked || !rightTag) return "marks";
  return nullptr;
}

// The pages of the file's image in a block: written with its data, the
// rest erased (a one-page last block is written with a second, zero page).
class ExpectedPages {
 public:
  ExpectedPages(const host::FlashType& type, const ExpectedBlock& expected,
                const std::vector<SetImage>& files) {
    if (!expected.file) return;
    bytes_ = &files[*expected.file].image;
    start_ = uint64_t{expected.indexInFile} * type.BlockBytes();
    const uint64_t inBlock = std::min<uint64_t>(type.BlockBytes(), bytes_->size() - start_);
    writtenPages_ = (inBlock + sim::kPageDataBytes - 1) / sim::kPageDataBytes;
  }

  // The data the page must hold, valid until the next call; nullptr where
  // it must read erased.
  const uint8_t* Of(uint32_t page) {
    static const uint8_t kZeros[sim::kPageDataBytes] = {};
    if (page < writtenPages_) {
      const uint64_t start = start_ + uint64_t{page} * sim::kPageDataBytes;
      if (start + sim::kPageDataBytes <= bytes_->size()) return bytes_->data() + start;
      // the last page: the image, then the writer's zero padding
      padded_.assign(sim::kPageDataBytes, 0);
      std::copy(bytes_->begin() + static_cast<std::ptrdiff_t>(start), bytes_->end(),
                padded_.begin());
      return padded_.data();
    }
    if (page == 1 && writtenPages_ == 1) return kZeros;
    return nullptr;
  }

 private:
  const std::vector<uint8_t>* bytes_ = nullptr;
  uint64_t start_ = 0;  // the block's first byte in the image
  uint64_t writtenPages_ = 0;
  std::vector<uint8_t> padded_;
};

// The first page whose version word is not the expected one.
std::optional<uint32_t> VersionFault(const std::vector<sim::RawPage>& raw, uint32_t pages,
                                     const ExpectedBlock& expected) {
  if (!expected.version || pages < kFirstVersionPage + kVersionPages) return std::nullopt;
  const uint16_t want[kVersionPages] = {expected.version->a1, expected.version->a2,
                                        expected.version->b1, expected.version->b2};
  for (uint32_t i = 0; i < kVersionPages; ++i)
    if (SpareWord(raw[kFirstVersionPage + i]) != want[i]) return kFirstVersionPage + i;
  return std::nullopt;
}

std::optional<LayoutDifference> CompareBlock(const sim::Player& flash, const host::FlashType& type,
                                             const ExpectedBlock& expected,
                                             const std::vector<SetImage>& files) {
  LayoutDifference difference;
  difference.block = expected.block;
  difference.region = expected.region;
  difference.file = expected.file;
  if (expected.file) difference.tag = TagText(expected.tag);
  const uint32_t pages = type.pagesPerBlock;
  const std::vector<sim::RawPage> raw = BlockPagesOf(flash, expected.block);
  if (const char* fault = MarksFault(raw, expected)) {
    difference.kind = fault;
    return difference;
  }
  ExpectedPages expectedPages(type, expected, files);
  for (uint32_t page = 0; page < pages; ++page) {
    // Pages past the image hold erased data, as do the pages of an unused
    // block; a written page is never expected to read erased.
    const uint8_t* want = expectedPages.Of(page);
    if (std::optional<uint32_t> at = FirstDifference(raw[page].data(), want, want == nullptr)) {
      difference.kind = "data";
      difference.page = page;
      difference.offset = *at;
      return difference;
    }
  }
  if (std::optional<uint32_t> page = VersionFault(raw, pages, expected)) {
    difference.kind = "version";
    difference.page = *page;
    return difference;
  }
  return std::nullopt;
}

}  // namespace

int PrepareSetImages(const host::FlashType& type, HostFileSet& files,
                     std::vector<SetImage>& images) {
  std::vector<host::PreparedImage> prepared;
  images.clear();
  const int status =
      host::PrepareFileImages(type, files.Data(), files.Lengths(), files.PrefixData(),
                              files.PrefixLengths(), files.Record(), prepared);
  if (status != PROGRAM_MEDIA_DONE) return status;
  for (uint32_t file = 0; file < prepared.size(); ++file) {
    host::PreparedImage& one = prepared[file];
    SetImage image;
    image.tag = files.Record().fileTags[file];
    image.image = std::move(one.image);
    image.version = {one.version.a[0], one.version.a[1], one.version.b[0], one.version.b[1]};
    images.push_back(std::move(image));
  }
  return PROGRAM_MEDIA_DONE;
}

std::vector<uint32_t> LowSystemBlocks(const std::vector<host::TableEntry>& blockTable,
                                      uint32_t cisBlock) {
  const uint32_t count = host::LowSystemBlockCount();
  std::vector<uint32_t> low;
  for (uint32_t block = cisBlock + 1; block < blockTable.size() && low.size() < count; ++block)
    if (blockTable[block].use != host::BlockUse::kBad) low.push_back(block);
  return low;
}

ExpectedLayout ExpectLayout(const host::FlashType& type,
                            const std::vector<host::TableEntry>& blockTable, uint32_t cisBlock,
                            uint32_t firstReservedBlock, const std::vector<SetImage>& files) {
  ExpectedLayout layout;
  const bool versionWords = type.typeIndex >= kFirstTypeWithVersionWords;

  const std::vector<uint32_t> low = LowSystemBlocks(blockTable, cisBlock);
  const uint32_t startupBlocks = files.empty() ? 0 : BlocksOf(files.front().image.size(), type);
  layout.startupCopyTooLong = startupBlocks > host::LowSystemBlockCount();
  for (uint32_t i = 0; i < low.size(); ++i) {
    ExpectedBlock block{low[i], Region::kLow, std::nullopt, 0, 0, std::nullopt};
    if (i < startupBlocks) {
      block.file = 0;
      block.tag = files.front().tag;
      block.indexInFile = i;
    }
    layout.blocks.push_back(block);
  }

  std::vector<uint32_t> reserved;
  for (uint32_t block = firstReservedBlock; block < blockTable.size(); ++block)
    if (blockTable[block].use != host::BlockUse::kBad) reserved.push_back(block);
  size_t next = 0;
  for (uint32_t file = 0; file < files.size(); ++file) {
    const uint32_t blocks = BlocksOf(files[file].image.size(), type);
    for (uint32_t i = 0; i < blocks; ++i) {
      if (next == reserved.size()) {
        layout.overflows = true;
        return layout;
      }
      ExpectedBlock block{reserved[next++], Region::kReserved, file, files[file].tag, i,
                          std::nullopt};
      if (i == 0 && versionWords) block.version = files[file].version;
      layout.blocks.push_back(block);
    }
  }
  for (; next < reserved.size(); ++next)
    layout.blocks.push_back(
        ExpectedBlock{reserved[next], Region::kReserved, std::nullopt, 0, 0, std::nullopt});
  return layout;
}

std::vector<LayoutDifference> CompareWithLayout(const sim::Player& flash,
                                                const host::FlashType& type,
                                                const ExpectedLayout& layout,
                                                const std::vector<SetImage>& files) {
  std::vector<LayoutDifference> differences;
  for (const ExpectedBlock& expected : layout.blocks)
    if (std::optional<LayoutDifference> difference = CompareBlock(flash, type, expected, files))
      differences.push_back(*difference);
  return differences;
}

}  // namespace orvik::tool
