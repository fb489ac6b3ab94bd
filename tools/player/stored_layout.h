// Which firmware files the player's system area holds: the tag of every
// marked system block ('M' and the tag on page 1, below the "QV" mark on
// page 0) and the tag of the low system blocks after the CIS block, where
// the startup file's first copy lives.  Read after a block status scan.
#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "player/flash_pages.h"

namespace orvik::tool {

struct StoredLayout {
  bool read = false;                  // false: the marks could not be read
  std::set<uint8_t> tags;             // every tag of a marked system block
  std::optional<uint8_t> lowAreaTag;  // tag of the system blocks below the reserved area
};

StoredLayout ReadStoredLayout(FlashPages& pages);

}  // namespace orvik::tool
