// The startup check: what the player's boot loader looks at, each time the
// player is plugged in, to decide whether it can start its firmware from the
// startup copy in the low system blocks or must come up as its recovery
// device.  startup_check.cpp says what it checks and why.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/nand_array.h"

namespace orvik::sim {

struct StartupCheck {
  bool whole = false;  // the firmware can start from the startup copy
  // One line in plain words: "the startup copy is whole", or what keeps the
  // player from starting ("block 2 of the startup copy is erased").
  std::string reason;
  // What the loader found on its way (for tests and the tool's reports).
  std::optional<uint32_t> cisBlock;
  std::vector<uint32_t> lowBlocks;  // up to three, in order
  uint8_t tag = 0;                  // the file tag of the low blocks (0: none agreed)
  uint32_t imageBytes = 0;          // the startup image's length when its end was found
};

StartupCheck CheckStartupCopy(const NandArray& nand);

}  // namespace orvik::sim
