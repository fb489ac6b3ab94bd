#include "base/events.h"

namespace orvik::tool {

void Events::Field(std::string_view label, std::string_view value, int width) {
  std::string line = "  ";
  line += Paint(Style::kDim, label);
  for (int pad = static_cast<int>(label.size()); pad < width; ++pad) line += ' ';
  line += value;
  Line(line);
}

}  // namespace orvik::tool
