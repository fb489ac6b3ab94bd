#include "app/block_grid.h"

#include <fmt/format.h>

namespace orvik::tool {

void PrintGrid(Events& console, const std::vector<GridCell>& cells, uint32_t perRow) {
  if (perRow == 0) perRow = 64;
  const int digits = static_cast<int>(std::to_string(cells.empty() ? 0 : cells.size() - 1).size());
  for (size_t row = 0; row < cells.size(); row += perRow) {
    std::string line = "  " + console.Paint(Style::kDim, fmt::format("{:>{}}", row, digits)) + " ";
    Style current = Style::kPlain;
    std::string run;
    auto flush = [&] {
      if (!run.empty()) line += console.Paint(current, run);
      run.clear();
    };
    for (size_t i = row; i < cells.size() && i < row + perRow; ++i) {
      if (cells[i].style != current) {
        flush();
        current = cells[i].style;
      }
      run += cells[i].symbol;
    }
    flush();
    console.Line(line);
  }
}

void PrintLegend(Events& console, const std::vector<LegendEntry>& legend) {
  std::string line = " ";
  for (const LegendEntry& entry : legend) {
    if (entry.count == 0) continue;
    line += "  " + console.Paint(entry.style, std::string(1, entry.symbol)) + " " + entry.meaning +
            " (" + std::to_string(entry.count) + ")";
  }
  console.Line(line);
}

std::string GridString(const std::vector<GridCell>& cells) {
  std::string text;
  text.reserve(cells.size());
  for (const GridCell& cell : cells) text += cell.symbol;
  return text;
}

}  // namespace orvik::tool
