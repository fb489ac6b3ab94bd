// Whole-flash snapshots of a simulated player, for tests that compare what
// an operation left with what a reference run left, page for page.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sim/player.h"

namespace orvik::testing {

using FlashImage = std::vector<sim::RawPage>;

inline FlashImage TakeFlash(const sim::Player& player) {
  FlashImage image(player.PageCount());
  for (uint32_t page = 0; page < image.size(); ++page) image[page] = player.ReadPage(page);
  return image;
}

inline void PutFlash(sim::Player& player, const FlashImage& image) {
  for (uint32_t page = 0; page < image.size(); ++page) player.SetPageRaw(page, image[page]);
}

// Blocks whose pages differ between two images (data and spare bytes).
inline std::vector<uint32_t> DifferingBlocks(const FlashImage& a, const FlashImage& b,
                                             uint32_t pagesPerBlock) {
  std::vector<uint32_t> blocks;
  for (uint32_t page = 0; page < a.size(); ++page) {
    uint32_t block = page / pagesPerBlock;
    if (a[page] != b[page] && (blocks.empty() || blocks.back() != block)) blocks.push_back(block);
  }
  return blocks;
}

// The points of a sweep over 1..total: all of them when ORVIK_FULL_SWEEPS is
// set (the `sweep` CTest label), else the first `head` and an even spread of
// about `sample` over the rest.
inline std::vector<uint64_t> SweepPoints(uint64_t total, uint64_t sample = 80, uint64_t head = 0) {
  const char* full = std::getenv("ORVIK_FULL_SWEEPS");
  bool all = full != nullptr && full[0] != '\0' && full[0] != '0';
  uint64_t step = all || total <= head + sample ? 1 : (total - head + sample - 1) / sample;
  std::vector<uint64_t> points;
  for (uint64_t n = 1; n <= total; n += n <= head ? 1 : step) points.push_back(n);
  return points;
}

}  // namespace orvik::testing
