// A block map drawn as a grid of one character per erase block, coloured by
// what the block is, with a legend.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/events.h"

namespace orvik::tool {

struct GridCell {
  char symbol = '.';
  Style style = Style::kPlain;
};

struct LegendEntry {
  char symbol = '.';
  Style style = Style::kPlain;
  std::string meaning;
  uint64_t count = 0;
};

// Rows of perRow blocks, each row led by the number of its first block.
void PrintGrid(Events& console, const std::vector<GridCell>& cells, uint32_t perRow);
void PrintLegend(Events& console, const std::vector<LegendEntry>& legend);

// The symbols as one string (for JSON: one character per block).
std::string GridString(const std::vector<GridCell>& cells);

}  // namespace orvik::tool
